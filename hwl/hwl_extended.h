// A software extended-precision number: a 64-bit significand, an exponent
// and a sign, computed with integer operations only (no assembly, no long
// double). Every operation is rounded once to a 64-bit significand, to
// nearest with ties to even, so it gives bit for bit what the x87 gives at
// 64-bit precision: conversion from double and from integers (exact),
// addition, subtraction, multiplication, division, comparisons, and rounding
// to double (subnormal and infinite results included, as a store of an x87
// register to a double rounds them). Zeros carry their sign by the IEEE
// rules; infinities and NaN follow the x87 with its exceptions masked (a
// NaN's payload is not kept: nothing the decoder computes can make one).
//
// The exponent is a plain int, wider than the x87's (15 bits): the decoder's
// formulas combine doubles with constants near 1, so their values stay far
// inside the x87's range and neither overflow nor underflow before the
// final rounding to double. This type does not model those limits.
#pragma once

#include <bit>
#include <compare>
#include <cstdint>

struct HwlExtended {
  enum class Kind : std::uint8_t { Zero, Finite, Infinite, NaN };
  Kind kind = Kind::Zero;
  bool negative = false;
  std::int32_t exponent = 0;      // Finite: the value is significand x 2^(exponent - 63)
  std::uint64_t significand = 0;  // Finite: bit 63 set

  constexpr HwlExtended() = default;
  // Exact (a double has 53 significant bits), like loading it into the x87.
  constexpr HwlExtended(double x);
  // Rounded to nearest, ties to even.
  explicit constexpr operator double() const;
};

namespace hwl_extended {

struct U128 {
  std::uint64_t hi = 0, lo = 0;
};

constexpr HwlExtended Special(HwlExtended::Kind kind, bool negative) {
  HwlExtended x;
  x.kind = kind;
  x.negative = negative;
  return x;
}

constexpr HwlExtended Finite(bool negative, std::int32_t exponent, std::uint64_t significand) {
  HwlExtended x;
  x.kind = HwlExtended::Kind::Finite;
  x.negative = negative;
  x.exponent = exponent;
  x.significand = significand;
  return x;
}

// The full product of two 64-bit numbers, from four 32-bit products.
constexpr U128 Multiply(std::uint64_t a, std::uint64_t b) {
  constexpr std::uint64_t Low = 0xFFFFFFFFu;
  const std::uint64_t p00 = (a & Low) * (b & Low), p01 = (a & Low) * (b >> 32);
  const std::uint64_t p10 = (a >> 32) * (b & Low), p11 = (a >> 32) * (b >> 32);
  const std::uint64_t middle = (p00 >> 32) + (p01 & Low) + (p10 & Low);
  return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), middle << 32 | (p00 & Low)};
}

// x shifted right by n; bits shifted out are or-ed into bit 0 (the sticky
// bit), which lies far below any rounding position used here.
constexpr U128 ShiftRightSticky(U128 x, std::uint64_t n) {
  if (n == 0) return x;
  U128 r;
  std::uint64_t lost = 0;
  if (n < 64) {
    r = {x.hi >> n, x.lo >> n | x.hi << (64 - n)};
    lost = x.lo << (64 - n);
  } else if (n == 64) {
    r = {0, x.hi};
    lost = x.lo;
  } else if (n < 128) {
    r = {0, x.hi >> (n - 64)};
    lost = x.hi << (128 - n) | x.lo;
  } else {
    lost = x.hi | x.lo;
  }
  r.lo |= lost != 0 ? 1 : 0;
  return r;
}

// A finite non-zero value x.hi.x.lo x 2^(exponent - 63) with bit 63 of x.hi
// set, rounded to 64 bits: x.lo holds the bits below, sticky bit included.
constexpr HwlExtended Rounded(bool negative, std::int32_t exponent, U128 x) {
  std::uint64_t significand = x.hi;
  const bool half = (x.lo >> 63) != 0, rest = (x.lo << 1) != 0;
  if (half && (rest || (significand & 1) != 0) && ++significand == 0) {
    significand = std::uint64_t{1} << 63;
    ++exponent;
  }
  return Finite(negative, exponent, significand);
}

// Magnitude order of two finite values.
constexpr bool LargerOrEqual(const HwlExtended& a, const HwlExtended& b) {
  return a.exponent > b.exponent || (a.exponent == b.exponent && a.significand >= b.significand);
}

}  // namespace hwl_extended

constexpr HwlExtended::HwlExtended(double x) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
  negative = (bits >> 63) != 0;
  const int biased = int(bits >> 52 & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0x7FF) {
    kind = fraction == 0 ? Kind::Infinite : Kind::NaN;
  } else if (biased == 0 && fraction == 0) {
    kind = Kind::Zero;
  } else if (biased == 0) {  // subnormal: fraction x 2^-1074, normalised here
    const int shift = std::countl_zero(fraction);
    kind = Kind::Finite;
    significand = fraction << shift;
    exponent = -1074 + 63 - shift;
  } else {
    kind = Kind::Finite;
    significand = (fraction | std::uint64_t{1} << 52) << 11;
    exponent = biased - 1023;
  }
}

constexpr HwlExtended::operator double() const {
  const std::uint64_t sign = negative ? std::uint64_t{1} << 63 : 0;
  constexpr std::uint64_t InfinityBits = std::uint64_t{0x7FF} << 52;
  switch (kind) {
    case Kind::Zero:
      return std::bit_cast<double>(sign);
    case Kind::Infinite:
      return std::bit_cast<double>(sign | InfinityBits);
    case Kind::NaN:
      return std::bit_cast<double>(sign | InfinityBits | std::uint64_t{1} << 51);
    case Kind::Finite:
      break;
  }
  // Keep 53 bits for a normal result; a subnormal one keeps fewer (its unit
  // is 2^-1074), and one below half that unit rounds to zero.
  const std::int64_t biased = std::int64_t{exponent} + 1023;
  const std::int64_t drop = biased >= 1 ? 11 : 12 - biased;
  std::uint64_t kept = 0, half = 0, rest = 0;
  if (drop < 64) {
    kept = significand >> drop;
    half = significand >> (drop - 1) & 1;
    rest = significand & ((std::uint64_t{1} << (drop - 1)) - 1);
  } else if (drop == 64) {
    half = significand >> 63;
    rest = significand << 1;
  }
  if (half != 0 && (rest != 0 || (kept & 1) != 0)) ++kept;
  if (biased < 1)  // kept is the subnormal fraction; a carry to 2^52 is the smallest normal
    return std::bit_cast<double>(sign | kept);
  // kept has 53 bits, or 54 after a carry (then it is 2^53: one binade up).
  std::uint64_t field = std::uint64_t(biased);
  if (kept >> 53 != 0) {
    kept >>= 1;
    ++field;
  }
  if (field >= 0x7FF) return std::bit_cast<double>(sign | InfinityBits);
  return std::bit_cast<double>(sign | field << 52 | (kept & ((std::uint64_t{1} << 52) - 1)));
}

// Exact for every integer of at most 64 significant bits.
constexpr HwlExtended HwlExtendedFromInteger(std::int64_t value) {
  if (value == 0) return {};
  const bool negative = value < 0;
  const std::uint64_t magnitude = negative ? 0 - std::uint64_t(value) : std::uint64_t(value);
  const int shift = std::countl_zero(magnitude);
  return hwl_extended::Finite(negative, 63 - shift, magnitude << shift);
}

constexpr HwlExtended operator-(HwlExtended x) {
  x.negative = !x.negative;
  return x;
}

constexpr HwlExtended operator+(const HwlExtended& a, const HwlExtended& b) {
  using namespace hwl_extended;
  using Kind = HwlExtended::Kind;
  if (a.kind == Kind::NaN || b.kind == Kind::NaN) return Special(Kind::NaN, false);
  if (a.kind == Kind::Infinite || b.kind == Kind::Infinite) {
    if (a.kind == b.kind && a.negative != b.negative) return Special(Kind::NaN, true);  // inf - inf
    return a.kind == Kind::Infinite ? a : b;
  }
  if (a.kind == Kind::Zero && b.kind == Kind::Zero) return Special(Kind::Zero, a.negative && b.negative);
  if (b.kind == Kind::Zero) return a;
  if (a.kind == Kind::Zero) return b;
  const bool aLarger = LargerOrEqual(a, b);
  const HwlExtended& x = aLarger ? a : b;
  const HwlExtended& y = aLarger ? b : a;
  const std::int64_t distance = std::int64_t{x.exponent} - y.exponent;
  const U128 small = ShiftRightSticky({y.significand, 0}, std::uint64_t(distance < 128 ? distance : 128));
  std::int32_t exponent = x.exponent;
  if (x.negative == y.negative) {
    U128 sum{x.significand + small.hi, small.lo};
    if (sum.hi < x.significand) {  // carry out: one place right
      sum = ShiftRightSticky(sum, 1);
      sum.hi |= std::uint64_t{1} << 63;
      ++exponent;
    }
    return Rounded(x.negative, exponent, sum);
  }
  // x >= y in magnitude. The difference is exact when the distance is at
  // most 64; beyond that it loses at most one place, so the sticky bit
  // stays below the rounding position.
  U128 difference{x.significand - small.hi - (small.lo != 0 ? 1 : 0), 0 - small.lo};
  if (difference.hi == 0 && difference.lo == 0) return Special(Kind::Zero, false);
  const int shift = difference.hi != 0 ? std::countl_zero(difference.hi) : 64 + std::countl_zero(difference.lo);
  if (shift >= 64) {
    difference = {difference.lo << (shift - 64), 0};
  } else if (shift > 0) {
    difference = {difference.hi << shift | difference.lo >> (64 - shift), difference.lo << shift};
  }
  return Rounded(x.negative, exponent - shift, difference);
}

constexpr HwlExtended operator-(const HwlExtended& a, const HwlExtended& b) { return a + -b; }

constexpr HwlExtended operator*(const HwlExtended& a, const HwlExtended& b) {
  using namespace hwl_extended;
  using Kind = HwlExtended::Kind;
  const bool negative = a.negative != b.negative;
  if (a.kind == Kind::NaN || b.kind == Kind::NaN) return Special(Kind::NaN, false);
  if (a.kind == Kind::Infinite || b.kind == Kind::Infinite) {
    if (a.kind == Kind::Zero || b.kind == Kind::Zero) return Special(Kind::NaN, true);  // inf x 0
    return Special(Kind::Infinite, negative);
  }
  if (a.kind == Kind::Zero || b.kind == Kind::Zero) return Special(Kind::Zero, negative);
  // The product of two significands in [2^63, 2^64) lies in [2^126, 2^128).
  U128 p = Multiply(a.significand, b.significand);
  std::int32_t exponent = a.exponent + b.exponent + 1;
  if (p.hi >> 63 == 0) {
    p = {p.hi << 1 | p.lo >> 63, p.lo << 1};
    --exponent;
  }
  return Rounded(negative, exponent, p);
}

constexpr HwlExtended operator/(const HwlExtended& a, const HwlExtended& b) {
  using namespace hwl_extended;
  using Kind = HwlExtended::Kind;
  const bool negative = a.negative != b.negative;
  if (a.kind == Kind::NaN || b.kind == Kind::NaN) return Special(Kind::NaN, false);
  if (a.kind == b.kind && (a.kind == Kind::Infinite || a.kind == Kind::Zero))
    return Special(Kind::NaN, true);  // inf / inf, 0 / 0
  if (a.kind == Kind::Infinite || b.kind == Kind::Zero) return Special(Kind::Infinite, negative);
  if (a.kind == Kind::Zero || b.kind == Kind::Infinite) return Special(Kind::Zero, negative);
  // Long division, one quotient bit per step, to 64 bits with the
  // significand's top bit set; the remainder decides the rounding.
  std::uint64_t quotient = 0, remainder = a.significand;
  std::int32_t exponent = a.exponent - b.exponent;
  int steps = 64;
  if (a.significand >= b.significand) {
    quotient = 1;
    remainder -= b.significand;
    steps = 63;
  } else {
    --exponent;
  }
  for (int i = 0; i < steps; ++i) {
    const bool carry = remainder >> 63 != 0;
    remainder <<= 1;
    quotient <<= 1;
    if (carry || remainder >= b.significand) {
      remainder -= b.significand;
      quotient |= 1;
    }
  }
  // The rest of the quotient, remainder / divisor, as a round bit (at least
  // one half) and a sticky bit (neither zero nor exactly one half).
  const std::uint64_t other = b.significand - remainder;
  std::uint64_t rest = 0;
  if (remainder != 0) rest = remainder >= other ? std::uint64_t{1} << 63 | (remainder != other ? 1 : 0) : 1;
  return Rounded(negative, exponent, {quotient, rest});
}

constexpr bool operator==(const HwlExtended& a, const HwlExtended& b) {
  using Kind = HwlExtended::Kind;
  if (a.kind == Kind::NaN || b.kind == Kind::NaN) return false;
  if (a.kind == Kind::Zero && b.kind == Kind::Zero) return true;
  return a.kind == b.kind && a.negative == b.negative &&
         (a.kind == Kind::Infinite || (a.exponent == b.exponent && a.significand == b.significand));
}

constexpr std::partial_ordering operator<=>(const HwlExtended& a, const HwlExtended& b) {
  using Kind = HwlExtended::Kind;
  if (a.kind == Kind::NaN || b.kind == Kind::NaN) return std::partial_ordering::unordered;
  if (a == b) return std::partial_ordering::equivalent;
  // Rank of the magnitude: zero, finite, infinite; then exponent and significand.
  const auto below = [](const HwlExtended& x, const HwlExtended& y) {  // |x| < |y|, x != y in magnitude
    if (x.kind != y.kind) return x.kind == Kind::Zero || y.kind == Kind::Infinite;
    return !hwl_extended::LargerOrEqual(x, y);
  };
  const bool aNegative = a.negative && a.kind != Kind::Zero, bNegative = b.negative && b.kind != Kind::Zero;
  if (aNegative != bNegative) return aNegative ? std::partial_ordering::less : std::partial_ordering::greater;
  const bool smaller = aNegative ? below(b, a) : below(a, b);
  return smaller ? std::partial_ordering::less : std::partial_ordering::greater;
}
