// The decoder's arithmetic, defined once: its constants and its formulas
// evaluated in extended precision (64-bit significand, each operation
// rounded to nearest with ties to even) and rounded to double when stored.
// HwlSoftArithmetic evaluates them with the software type; the x87 does the
// same in hwl_precision.h, and the double-double lanes of hwl_lanes.h give
// the same doubles faster wherever they can prove it.
#pragma once

#include <cstdint>

#include "hwl_extended.h"

// k = 1/sqrt(2) rounded to a double; used exactly in extended precision.
constexpr double HwlHaarK = 0x1.6a09e667f3bcdp-1;
static_assert(HwlHaarK == 0.7071067811865476);

// The smoothing weights 0.8 and 0.2 rounded to 64-bit significands: both
// are HwlWeightSignificand x 2^-64 and x 2^-66.
constexpr std::uint64_t HwlWeightSignificand = 0xCCCCCCCCCCCCCCCD;
constexpr HwlExtended HwlHeavyWeight = hwl_extended::Finite(false, -1, HwlWeightSignificand);  // 0.8
constexpr HwlExtended HwlLightWeight = hwl_extended::Finite(false, -3, HwlWeightSignificand);  // 0.2

// The formulas of the pair rule and the band factor. Each result is the
// extended evaluation of its formula rounded to double once.
struct HwlSoftArithmetic {
  using Real = HwlExtended;
  // (s + d) x k and (s - d) x k
  static double SumTimesK(double s, double d) { return double((Real(s) + Real(d)) * Real(HwlHaarK)); }
  static double DifferenceTimesK(double s, double d) { return double((Real(s) - Real(d)) * Real(HwlHaarK)); }
  // s x k
  static double TimesK(double s) { return double(Real(s) * Real(HwlHaarK)); }
  // (s x 0.8 + n x 0.2) x k
  static double SmoothTimesK(double s, double n) {
    return double((Real(s) * HwlHeavyWeight + Real(n) * HwlLightWeight) * Real(HwlHaarK));
  }
  // 1 / scale, for a non-zero scale
  static double Reciprocal(double scale) { return double(Real(1.0) / Real(scale)); }
};
