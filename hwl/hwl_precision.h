// The x87 precision the decoder's extended arithmetic needs.
#pragma once

#include <cstdint>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define HWL_HAS_X87 1
#else
#define HWL_HAS_X87 0
#endif

// The x87 control word of the calling thread (0 where there is no x87).
inline std::uint16_t HwlFpuControlWord() {
  std::uint16_t word = 0;
#if HWL_HAS_X87
  asm volatile("fnstcw %0" : "=m"(word) : : "memory");
#endif
  return word;
}

// Sets it (no effect where there is no x87).
inline void HwlSetFpuControlWord(std::uint16_t word) {
#if HWL_HAS_X87
  asm volatile("fldcw %0" : : "m"(word) : "memory");
#else
  (void)word;
#endif
}

// x87 operations round to the precision that the control word selects, not to
// the type's. Linux starts every thread at 64 bits; 64-bit Windows starts new
// threads at 53 bits (only the C runtime's main thread is set to 64), and any
// caller may have changed it. Every entry point of the codec and every helper
// thread holds one of these while it computes: it selects the 64-bit
// significand and gives the caller's setting back when it goes out of scope.
struct HwlExtendedPrecision {
  static constexpr std::uint16_t PrecisionBits = 0x300;  // PC field: 11 = 64-bit significand
  const std::uint16_t saved = HwlFpuControlWord();
  const bool change = HWL_HAS_X87 && (saved & PrecisionBits) != PrecisionBits;

  HwlExtendedPrecision() {
    if (change) HwlSetFpuControlWord(saved | PrecisionBits);
  }
  ~HwlExtendedPrecision() {
    if (change) HwlSetFpuControlWord(saved);
  }
  HwlExtendedPrecision(const HwlExtendedPrecision&) = delete;
  HwlExtendedPrecision& operator=(const HwlExtendedPrecision&) = delete;
};
