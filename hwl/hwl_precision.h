// The x87 precision the decoder's extended arithmetic needs.
#pragma once

#include <cstdint>

// x87 operations round to the precision that the control word selects, not to
// the type's. Linux starts every thread at 64 bits; 64-bit Windows starts new
// threads at 53 bits (only the C runtime's main thread is set to 64), and any
// caller may have changed it. Every entry point of the codec and every helper
// thread holds one of these while it computes: it selects the 64-bit
// significand and gives the caller's setting back when it goes out of scope.
struct HwlExtendedPrecision {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  static constexpr std::uint16_t PrecisionBits = 0x300;  // PC field: 11 = 64-bit significand
  std::uint16_t saved = 0;

  HwlExtendedPrecision() {
    asm volatile("fnstcw %0" : "=m"(saved) : : "memory");
    if ((saved & PrecisionBits) != PrecisionBits) {
      const std::uint16_t extended = saved | PrecisionBits;
      asm volatile("fldcw %0" : : "m"(extended) : "memory");
    }
  }
  ~HwlExtendedPrecision() {
    if ((saved & PrecisionBits) != PrecisionBits) asm volatile("fldcw %0" : : "m"(saved) : "memory");
  }
#else
  HwlExtendedPrecision() = default;
#endif
  HwlExtendedPrecision(const HwlExtendedPrecision&) = delete;
  HwlExtendedPrecision& operator=(const HwlExtendedPrecision&) = delete;
};

// The x87 control word of the calling thread (0 where there is no x87): for tests.
inline std::uint16_t HwlFpuControlWord() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  std::uint16_t word = 0;
  asm volatile("fnstcw %0" : "=m"(word) : : "memory");
  return word;
#else
  return 0;
#endif
}

// Sets it (no effect where there is no x87): for tests.
inline void HwlSetFpuControlWord(std::uint16_t word) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  asm volatile("fldcw %0" : : "m"(word) : "memory");
#else
  (void)word;
#endif
}
