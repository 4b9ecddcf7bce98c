// The x87 path: the decoder's extended arithmetic evaluated by the x87 unit
// in long double. This is the codec's only file with assembly or long
// double. Other compilers and processors skip it, as does a build with
// QUENRIK_HWL_SOFT_EXTENDED (HWL_SOFT_EXTENDED); the codec then evaluates
// the same formulas with the software type (hwl_arithmetic.h) and gets the
// same doubles.
#pragma once

#include <cstdint>

#include "hwl_arithmetic.h"

#if !defined(HWL_SOFT_EXTENDED) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define HWL_X87 1
#else
#define HWL_X87 0
#endif

#if HWL_X87
#include <cfloat>

static_assert(LDBL_MANT_DIG == 64, "the x87 path needs the x87's 80-bit long double");

// The x87 control word of the calling thread.
inline std::uint16_t HwlFpuControlWord() {
  std::uint16_t word = 0;
  asm volatile("fnstcw %0" : "=m"(word) : : "memory");
  return word;
}

inline void HwlSetFpuControlWord(std::uint16_t word) { asm volatile("fldcw %0" : : "m"(word) : "memory"); }

// x87 operations round to the precision that the control word selects, not to
// the type's. Linux starts every thread at 64 bits; 64-bit Windows starts new
// threads at 53 bits (only the C runtime's main thread is set to 64), and any
// caller may have changed it. Every entry point of the codec and every helper
// thread holds one of these while it computes: it selects the 64-bit
// significand and gives the caller's setting back when it goes out of scope.
struct HwlExtendedPrecision {
  static constexpr std::uint16_t PrecisionBits = 0x300;  // PC field: 11 = 64-bit significand
  const std::uint16_t saved = HwlFpuControlWord();
  const bool change = (saved & PrecisionBits) != PrecisionBits;

  HwlExtendedPrecision() {
    if (change) HwlSetFpuControlWord(saved | PrecisionBits);
  }
  ~HwlExtendedPrecision() {
    if (change) HwlSetFpuControlWord(saved);
  }
  HwlExtendedPrecision(const HwlExtendedPrecision&) = delete;
  HwlExtendedPrecision& operator=(const HwlExtendedPrecision&) = delete;
};

// x, read from memory after everything before it: an x87 computation on it
// cannot start before the HwlExtendedPrecision made just above selects 64
// bits (the compiler orders the control-word instructions with memory
// accesses only, not with arithmetic on values it holds in registers).
inline double HwlAfterPrecision(double x) {
  asm volatile("" : "+m"(x));
  return x;
}

// The formulas of HwlSoftArithmetic, evaluated in long double.
struct HwlX87Arithmetic {
  using Real = long double;
  static constexpr Real K = HwlHaarK;
  static constexpr Real Heavy = 0.8L, Light = 0.2L;  // rounded to 64 bits by the compiler
  static_assert(Heavy == Real(HwlWeightSignificand) / 0x1p64L && Light == Heavy / 4);

  static double SumTimesK(double s, double d) { return double((Real(s) + d) * K); }
  static double DifferenceTimesK(double s, double d) { return double((Real(s) - d) * K); }
  static double TimesK(double s) { return double(s * K); }
  static double SmoothTimesK(double s, double n) { return double((s * Heavy + n * Light) * K); }
  static double Reciprocal(double scale) { return double(1.0L / Real(scale)); }
};

#else

// No x87: nothing to select.
inline std::uint16_t HwlFpuControlWord() { return 0; }
inline void HwlSetFpuControlWord(std::uint16_t) {}
struct HwlExtendedPrecision {
  HwlExtendedPrecision() {}
  HwlExtendedPrecision(const HwlExtendedPrecision&) = delete;
  HwlExtendedPrecision& operator=(const HwlExtendedPrecision&) = delete;
};

#endif
