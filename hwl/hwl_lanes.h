// The pair rule in double precision, exactly: fast paths in front of the
// extended arithmetic, written once for any lane type L (one double, or a
// vector of them).
//
// A formula's extended evaluation rounds its inner sum (or its two weighted
// terms and their sum) and then the product with k to 64 bits; each rounding
// moves the value by at most 2^-64 of itself. The lanes form the exact
// value X of the formula to about 2^-100 relative (error-free sums; an FMA,
// or Veltkamp's split and Dekker's product, for the products), take the
// double y nearest X, and keep it where the extended result must round to y
// too. Two checks, picked by what a refused lane costs:
// - the row check (HwlPairGroup), in the vector rows in front of every
//   path: the extended result lies within 2 x 2^-64 of X (plain pairs) or
//   3 x 2^-64 (smoothing with terms of one sign), at most 2^-9.4 ulp of y;
//   a lane is kept when y + (X - y) x HwlLaneMargin still rounds to y, that
//   is when X is at least 2^-9 ulp from a midpoint between doubles. About
//   one result in 256 is refused, and weighted sums of mixed signs. It
//   trusts its inputs (HwlLaneFloor below).
// - the pair check (HwlPairLanes), one pair at a time behind it where the
//   extended arithmetic is the slow software type: the distance E between
//   X and the extended result is bounded per lane from the sizes of the
//   rounded terms, and a lane is kept when X - E and X + E round to the same
//   double. About one result in 500 is refused; it takes any doubles.
// The caller recomputes refused lanes with the extended arithmetic.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "hwl_arithmetic.h"

constexpr double HwlRoundingUnit = 0x1p-64;  // the largest relative error of one rounding to 64 bits
// The row check: (X - y) x this must still round to y. The distance it
// leaves to a midpoint, half an ulp x 2^-8 / (1 + 2^-8), is above 2^-9.01
// ulp (2^-10.01 of the smaller ulp below a power of two), more than the
// extended evaluation's 3 x 2^-64 of X, 2^-9.41 ulp (2^-10.41): the rest
// (over 2^-11 ulp) covers the lanes' own roundings, below 2^-50 ulp.
constexpr double HwlLaneMargin = 1 + 0x1p-8;

// What the row check needs of its inputs: every value zero (+0: no -0) or
// of a magnitude in [HwlLaneFloor, HwlLaneCeiling]. Then every sum the rows
// form is 0 or at least 2^-53 of the floor (both terms are multiples of its
// ulp), each rounding of a product or a sum below 2^-1000 adds at most
// 2^-1075 (2^-70 ulp of a result), and nothing overflows, Veltkamp's split
// (x 2^27 + 1) included. A pass of the synthesis (vertical or horizontal)
// turns inputs of at least m into nonzero results of at least m x
// HwlPassShrink (a sum of multiples of m's ulp, times k, or a weighted sum,
// at least a fifth of m apart from a cancelling one: 0.8 s + 0.2 n = 0.2
// (4 s + n)) and never makes -0 from values that are not -0 (an exact zero
// sum is +0; nothing underflows). The decoder keeps such a bound per step
// and looks at the values again where it runs low.
constexpr double HwlLaneFloor = 0x1p-950;
constexpr double HwlLaneCeiling = 0x1p968;  // a file's values: 255 x 2^960, times 2^17 over 34 passes
constexpr double HwlPassShrink = 0x1p-56;

// A constant as an unevaluated sum of two doubles.
struct HwlSplitConstant {
  double high, low;
};

// The smoothing weights 0.8 and 0.2 rounded to 64 bits, split into two
// doubles each, exactly (for the pair check).
constexpr HwlSplitConstant SplitWeight(double unit) {
  // The significand rounded to 53 bits (its low 11 bits are 0x4CD: up), and what is left.
  const std::uint64_t top = (HwlWeightSignificand >> 11) + 1;
  return {double(top) * 0x1p11 * unit, -double((top << 11) - HwlWeightSignificand) * unit};
}
constexpr HwlSplitConstant HwlHeavySplit = SplitWeight(0x1p-64), HwlLightSplit = SplitWeight(0x1p-66);
static_assert(HwlHeavySplit.high == 0.8 && HwlLightSplit.high == 0.2);
static_assert(HwlExtended(HwlHeavySplit.high) + HwlExtended(HwlHeavySplit.low) == HwlHeavyWeight);
static_assert(HwlExtended(HwlLightSplit.high) + HwlExtended(HwlLightSplit.low) == HwlLightWeight);

// The heavy weight times k, 0.8 x k, for the row check's smoothing: the
// weights are one significand at exponents -1 and -3, so the light weight
// is exactly a quarter of the heavy one and s x 0.8 + n x 0.2 is exactly
// (s + n / 4) x 0.8. The 64-bit x 53-bit product has 117 bits: its top 53
// as the high part, the other 64 rounded once (2^-106 of the whole).
constexpr HwlSplitConstant HeavyTimesK() {
  const std::uint64_t kSignificand = (std::bit_cast<std::uint64_t>(HwlHaarK) & ((std::uint64_t{1} << 52) - 1)) |
                                     std::uint64_t{1} << 52;  // k = this x 2^-53
  const hwl_extended::U128 product = hwl_extended::Multiply(HwlWeightSignificand, kSignificand);
  return {double(product.hi) * 0x1p-53, double(product.lo) * 0x1p-117};
}
constexpr HwlSplitConstant HwlHeavyK = HeavyTimesK();
static_assert(HeavyTimesK().high > 0.5656854 && HeavyTimesK().high < 0.5656855 && HeavyTimesK().low < 0x1p-53);

// For the loops that take the rule as lambdas, and for the rule where a
// loop applies it to two rows: inlined, their state stays in registers,
// where byte stores (which may alias anything) would otherwise make the
// compiler reload it for every group.
#if defined(__GNUC__)
#define HWL_ALWAYS_INLINE inline __attribute__((always_inline))
#define HWL_NOINLINE __attribute__((noinline))
#else
#define HWL_ALWAYS_INLINE inline
#define HWL_NOINLINE
#endif

// ---- Lane types.
//
// A lane type provides, for L::V (lanes of doubles) and L::M (lane masks),
// with Width lanes: Set, Zero, Iota (0, 1, 2, ...), Load, LoadScaled(int16
// coefficients, factor) = each coefficient times the factor, rounded once;
// Store, StoreInterleaved(out, even, odd); Add, Sub, Mul; MulAdd(a, b, c) =
// a x b + c, fused or not; ProductError(a, b, p) = a x b - p exactly when p
// is the rounded a x b; MulAddResidual(a, b, c, y, r): y = a x b + c rounded
// (near enough: within an ulp) and r = a x b + c - y to 2^-100 of y; Equal,
// NotEqual (true for NaN), AtMost, AtLeast, Abs; And, Or, AndNot(a, b) = b
// and not a, Not, NoLanes, MaskOf(bool); Select(m, a, b) = m ? a : b for
// values, SelectMask for masks; SignsDiffer; Bits (one bit per lane: Full
// when all are set); AllZero(a, b, c): every lane of the three is +0;
// Either(a, b): the bitwise or of two values.
// For bytes: Round (to the nearest integer, ties to even; NaN and
// infinities unchanged), Min(a, b) and Max(a, b) (b where a is NaN);
// StoreBytes(out, even, odd), for values in [0, 255]: each rounded to the
// nearest integer (ties to even), 2 x Width bytes interleaved from out[0];
// StoreWords(out, even, odd, second, third): the same bytes as the low
// bytes of 2 x Width little-endian 32-bit words, second[i] and third[i]
// (i = 0 ... 2 x Width - 1) their bytes 1 and 2, byte 3 zero; Beyond(a, b):
// not a <= b (true for NaN).

// One double per lane; the exact product error by FMA where the target has
// it in hardware, else by Veltkamp's split and Dekker's product (exact when
// a x b neither overflows, including the split's 2^27 + 1, nor underflows).
// Tag keeps the instances of files compiled for other processors apart.
template <bool Fused, class Tag = void>
struct HwlScalarLane {
  using V = double;
  using M = bool;
  static constexpr int Width = 1;
  static constexpr int Full = 1;
  static V Set(double x) { return x; }
  static V Zero() { return 0.0; }
  static V Iota() { return 0.0; }
  static V Load(const double* p) { return *p; }
  static V LoadScaled(const std::int16_t* p, V factor) { return double(*p) * factor; }
  static void Store(double* p, V v) { *p = v; }
  static void StoreInterleaved(double* out, V even, V odd) {
    out[0] = even;
    out[1] = odd;
  }
  static V Add(V a, V b) { return a + b; }
  static V Sub(V a, V b) { return a - b; }
  static V Mul(V a, V b) { return a * b; }
  static V ProductError(V a, V b, V p) {
    if constexpr (Fused) {
      return std::fma(a, b, -p);
    } else {
      constexpr double Splitter = 0x1p27 + 1;
      const double ca = Splitter * a, ah = ca - (ca - a), al = a - ah;
      const double cb = Splitter * b, bh = cb - (cb - b), bl = b - bh;
      return ((ah * bh - p) + ah * bl + al * bh) + al * bl;
    }
  }
  static V MulAdd(V a, V b, V c) {
    if constexpr (Fused) return std::fma(a, b, c);
    return a * b + c;  // contraction is off for the codec: two roundings
  }
  static void MulAddResidual(V a, V b, V c, V& y, V& r) {
    if constexpr (Fused) {
      y = std::fma(a, b, c);
      r = std::fma(a, b, -y) + c;
    } else {
      // p + pe = a x b exactly; |pe + c| is about an ulp of p at most.
      const double p = a * b, t = ProductError(a, b, p) + c;
      y = p + t;
      r = t - (y - p);
    }
  }
  static M Equal(V a, V b) { return a == b; }
  static M NotEqual(V a, V b) { return a != b; }
  static M AtMost(V a, V b) { return a <= b; }
  static M AtLeast(V a, V b) { return a >= b; }
  static M Beyond(V a, V b) { return !(a <= b); }
  static V Abs(V a) { return std::fabs(a); }
  static M And(M a, M b) { return a && b; }
  static M Or(M a, M b) { return a || b; }
  static M AndNot(M a, M b) { return !a && b; }
  static M Not(M a) { return !a; }
  static M NoLanes() { return false; }
  static M MaskOf(bool b) { return b; }
  static V Select(M m, V a, V b) { return m ? a : b; }
  static M SelectMask(M m, M a, M b) { return m ? a : b; }
  static M SignsDiffer(V a, V b) { return std::signbit(a) != std::signbit(b); }
  static int Bits(M m) { return m ? 1 : 0; }
  static bool AllZero(V a, V b, V c) {
    return (std::bit_cast<std::uint64_t>(a) | std::bit_cast<std::uint64_t>(b) | std::bit_cast<std::uint64_t>(c)) == 0;
  }
  static V Round(V a) {
    // Adding 2^52 rounds to an integer (the default rounding mode), and the
    // subtraction is exact; from 2^52 up every double is an integer.
    constexpr double Shift = 0x1p52;
    const double m = std::fabs(a);
    return m < Shift ? std::copysign((m + Shift) - Shift, a) : a;
  }
  static V Min(V a, V b) { return a < b ? a : b; }
  static V Max(V a, V b) { return a > b ? a : b; }
  static void StoreBytes(std::uint8_t* out, V even, V odd) {
    out[0] = std::uint8_t(Round(even));
    out[1] = std::uint8_t(Round(odd));
  }
  static void StoreWords(std::uint8_t* out, V even, V odd, const std::uint8_t* second, const std::uint8_t* third) {
    const std::uint8_t words[8] = {std::uint8_t(Round(even)), second[0], third[0], 0,
                                   std::uint8_t(Round(odd)),  second[1], third[1], 0};
    std::memcpy(out, words, sizeof words);
  }
  static V Either(V a, V b) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(a) | std::bit_cast<std::uint64_t>(b));
  }
};

#if defined(FP_FAST_FMA)
using HwlScalarLaneHere = HwlScalarLane<true>;
#else
using HwlScalarLaneHere = HwlScalarLane<false>;
#endif

// ---- The row check.

// y = x x factor + tail rounded, kept (ok) where the extended evaluation of
// the formula that x x factor + tail stands for must round to y as well.
template <class L>
inline typename L::V HwlCheckedProduct(typename L::V x, typename L::V factor, typename L::V tail, typename L::M& ok) {
  typename L::V y, r;
  L::MulAddResidual(x, factor, tail, y, r);
  ok = L::Equal(L::MulAdd(r, L::Set(HwlLaneMargin), y), y);
  return y;
}

// (s + d) k and (s - d) k: the exact sum and difference as hi + lo
// (Knuth's error-free sum), then hi x k + lo x k.
template <class L>
inline void HwlPlainLanes(typename L::V s, typename L::V d, typename L::V& even, typename L::V& odd,
                          typename L::M& okEven, typename L::M& okOdd) {
  using V = typename L::V;
  const V k = L::Set(HwlHaarK);
  const V a = L::Add(s, d), az = L::Sub(a, s);
  const V ae = L::Add(L::Sub(s, L::Sub(a, az)), L::Sub(d, az));
  const V b = L::Sub(s, d), bz = L::Sub(b, s);
  const V be = L::Sub(L::Sub(s, L::Sub(b, bz)), L::Add(d, bz));
  even = HwlCheckedProduct<L>(a, k, L::Mul(ae, k), okEven);
  odd = HwlCheckedProduct<L>(b, k, L::Mul(be, k), okOdd);
}

// (s x 0.8 + n x 0.2) k = (s + n / 4) x 0.8 k, for terms of one sign (the
// others are refused: their sum may cancel).
template <class L>
inline typename L::V HwlSmoothLanes(typename L::V s, typename L::V n, typename L::M& ok) {
  using V = typename L::V;
  const V u = L::Mul(n, L::Set(0.25));
  const V t = L::Add(s, u), tz = L::Sub(t, s);
  const V te = L::Add(L::Sub(s, L::Sub(t, tz)), L::Sub(u, tz));
  const V high = L::Set(HwlHeavyK.high);
  const V y = HwlCheckedProduct<L>(t, high, L::MulAdd(te, high, L::Mul(t, L::Set(HwlHeavyK.low))), ok);
  ok = L::AndNot(L::SignsDiffer(s, n), ok);
  return y;
}

// The extended arithmetic for one pair whose rule is decided: plain (s + d) k
// and (s - d) k, or else each sample s k or, where smoothEven (smoothOdd) is
// set, the weighted sum with left (right) times k. For lanes the row check
// refuses.
using HwlExactPair = void (*)(double s, double d, double left, double right, bool plain, bool smoothEven,
                              bool smoothOdd, double& even, double& odd);

// The clauses a line's ends decide, per lane: plain for pairs 0 and p - 1,
// even (its smoothing needs no S(j + 2)) for pair p - 2, odd for pair 1.
template <class L>
struct HwlLineEnds {
  typename L::M plain, even, odd;
};

// Recomputes the refused lanes (bits) with the extended arithmetic.
template <class L, class Put>
void HwlRedoLanes(int refused, typename L::V s, typename L::V d, typename L::V left, typename L::V right,
                  typename L::M plain, typename L::M smoothEven, typename L::M smoothOdd, const Put& put,
                  HwlExactPair exact) {
  double sv[L::Width], dv[L::Width], lv[L::Width], rv[L::Width];
  L::Store(sv, s);
  L::Store(dv, d);
  L::Store(lv, left);
  L::Store(rv, right);
  const int plainBits = L::Bits(plain), evenBits = L::Bits(smoothEven), oddBits = L::Bits(smoothOdd);
  for (int i = 0; i < L::Width; ++i)
    if ((refused >> i & 1) != 0)
      exact(sv[i], dv[i], lv[i], rv[i], (plainBits >> i & 1) != 0, (evenBits >> i & 1) != 0,
            (oddBits >> i & 1) != 0, *put.Even(i), *put.Odd(i));
}

// What a group's results are for, and so how they are computed: Plain(s,
// d, even, odd, okEven, okOdd) gives (s + d) k and (s - d) k, Times(s, ok)
// s k, Smooth(s, n, ok) (s x 0.8 + n x 0.2) k, each with the lanes it
// settles; Redo recomputes the refused lanes (bits) of a group whose
// results even and odd are stored, and stores them.

// Exact doubles, for a later pass or the caller (the row check).
template <class L>
struct HwlDoubleResults {
  using V = typename L::V;
  using M = typename L::M;
  static void Plain(V s, V d, V& even, V& odd, M& okEven, M& okOdd) { HwlPlainLanes<L>(s, d, even, odd, okEven, okOdd); }
  static V Times(V s, M& ok) { return HwlCheckedProduct<L>(s, L::Set(HwlHaarK), L::Zero(), ok); }
  static V Smooth(V s, V n, M& ok) { return HwlSmoothLanes<L>(s, n, ok); }
  template <class Put>
  static void Redo(int refused, V s, V d, V left, V right, M plain, M smoothEven, M smoothOdd, V, V, const Put& put,
                   HwlExactPair exact) {
    HwlRedoLanes<L>(refused, s, d, left, right, plain, smoothEven, smoothOdd, put, exact);
  }
};

// ---- Bytes: the last pass of a plane.
//
// The loader keeps only SampleToByte of the samples of a plane's last
// horizontal pass (0 for NaN and up to 0, 255 from 255 on, else the nearest
// integer, ties to even), so there a cheap value y gives the byte of the
// exact double R wherever it lies far from the roundings' boundaries. With
// X the exact value of the formula, u = 2^-53 and v = 2^-64:
// - R is X rounded to 64 bits and then to double: plain pairs and s k round
//   twice to 64 bits, so |R - X| <= ((1 + v)^2 (1 + u) - 1) |X| + 2^-1075
//   (a subnormal R). The weighted sum rounds s x 0.8 and n x 0.2 (by up to
//   v of each), their sum and its product with k; the first two roundings
//   do not shrink with X where the terms cancel: |R - X| <= ((1 + v)^2 (1 +
//   u) - 1) |X| + v 0.8 k (|s| + |n| / 4) (1 + v)^2 (1 + u) + 2^-1075, for
//   |s| + |n| <= HwlByteTerms = 2^16 below 2^-52.99 |X| + 2^-48.8.
// - y is (s + d) k, (s - d) k or s k, each operation rounded to double, or
//   (s + n / 4) x c, c = HwlHeavyK.high, 0.8 k cut to 53 bits (what is cut,
//   HwlHeavyK.low, is below 2^-54: c is within 2^-53.17 of 0.8 k
//   relatively), where n / 4 is exact and the sum of two doubles is rounded
//   once, whatever they cancel: |y - X| <= ((1 + u)^2 (1 + 2^-53.17) - 1)
//   |X| + 2^-1074 (n / 4 and the product may lose bits below 2^-1074; a sum
//   of doubles never does), below 2^-51.47 |X| + 2^-1074.
// Together |y - R| < 2^-51.04 |X| + 2^-48.8 (the terms of weighted sums at
// most HwlByteTerms; larger ones are refused).
// - The details may be estimates d' of the exact d, |d' - d| <= 2^-50 |d|
//   (HwlDetailResults; HwlExactDetails gives the exact ones), or on a line
//   known to be narrow within the larger of that and 2^-37
//   (HwlNarrowDetailResults). A plain pair with |s| above HwlByteWide =
//   2^15 is refused. y is then the value of the formula on d', whose exact
//   value lies k |d' - d| from X. Where |X| <= 2^9, |d| <= |s| + 2^9 / k <
//   2^15.04 and so k |d' - d| < 2^-35.46 (k 2^-37 < 2^-37.5): |y - R| <
//   2^-51.04 |X| + 2^-48.8 + 2^-35.46. Where |X| > 2^9, k |d' - d| is below
//   2^-34.5 (|d| up to 2^16) or below 2^-49 |X| (|X| >= k |d| / 2 beyond).
// A lane is kept when |y - rint(y)| <= 1/2 - HwlByteMargin; the difference
// is exact (Sterbenz: y and rint(y) are within a factor of two, or rint(y)
// is 0), and NaN and infinities fail. Where |X| <= 2^9, |y - R| < 2^-42.04
// + 2^-48.8 + 2^-35.46 < 2^-35.4, far below the margin: R lies strictly
// within 1/2 of rint(y) and rounds to it, and SampleToByte(R) is rint(y)
// clamped to [0, 255], the byte of y (rounding and clamping commute). Where
// |X| > 2^9, y and R both lie beyond 511 on X's side and clamp to the same
// end. The margin is 2^5.4 times the error: what is refused is y within
// 2^-30 of a half (about one value in 2^29, unless the values sit on
// halves), infinities and NaN, and values beyond HwlByteWide (no picture's
// samples come near it); the exact arithmetic and SampleToByte settle
// those, with the exact details.
constexpr double HwlByteMargin = 0x1p-30;
constexpr double HwlByteTerms = 0x1p16;
constexpr double HwlByteWide = HwlByteTerms / 2;
static_assert(HwlHeavyK.low < 0x1p-54 && HwlHeavyK.high > 0.5656);

template <class L>
struct HwlByteResults {
  using V = typename L::V;
  using M = typename L::M;
  static V Checked(V y, M& ok) {
    ok = L::AtMost(L::Abs(L::Sub(y, L::Round(y))), L::Set(0.5 - HwlByteMargin));
    return y;
  }
  // The lanes Checked refuses.
  static M Refused(V y) { return L::Beyond(L::Abs(L::Sub(y, L::Round(y))), L::Set(0.5 - HwlByteMargin)); }
  // The values y, unchecked: (s + d) k and (s - d) k; (s + n / 4) x c.
  static void PlainValues(V s, V d, V& even, V& odd) {
    const V k = L::Set(HwlHaarK);
    even = L::Mul(L::Add(s, d), k);
    odd = L::Mul(L::Sub(s, d), k);
  }
  static V SmoothValue(V s, V n) { return L::Mul(L::Add(s, L::Mul(n, L::Set(0.25))), L::Set(HwlHeavyK.high)); }
  static void Plain(V s, V d, V& even, V& odd, M& okEven, M& okOdd) {
    PlainValues(s, d, even, odd);
    Checked(even, okEven);
    Checked(odd, okOdd);
    const M narrow = L::AtMost(L::Abs(s), L::Set(HwlByteWide));
    okEven = L::And(okEven, narrow);
    okOdd = L::And(okOdd, narrow);
  }
  static V Times(V s, M& ok) { return Checked(L::Mul(s, L::Set(HwlHaarK)), ok); }
  static V Smooth(V s, V n, M& ok) {
    const V y = Checked(SmoothValue(s, n), ok);
    ok = L::And(ok, L::AtMost(L::Add(L::Abs(s), L::Abs(n)), L::Set(HwlByteTerms)));
    return y;
  }
  // The exact doubles of the refused lanes and the values of the others go
  // through the same conversion.
  template <class Put>
  static void Redo(int refused, V s, V d, V left, V right, M plain, M smoothEven, M smoothOdd, V even, V odd,
                   const Put& put, HwlExactPair exact) {
    struct Lanes {
      double *even, *odd;
      double* Even(int i) const { return even + i; }
      double* Odd(int i) const { return odd + i; }
    };
    double ev[L::Width], od[L::Width];
    L::Store(ev, even);
    L::Store(od, odd);
    HwlRedoLanes<L>(refused, s, put.ExactDetails(refused, d), left, right, plain, smoothEven, smoothOdd, Lanes{ev, od},
                    exact);
    put.Store(L::Load(ev), L::Load(od));
  }
};

// Estimates of the details of a plane's last horizontal pass (the last
// step's right half): only their zeros decide that pass's rule, and only
// its bytes are kept, so they need not be the exact doubles R. With X the
// exact value of the formula, as above, the estimate y is (s + d) k, (s -
// d) k, s k or (s + n / 4) x c, each operation rounded to double, and so
// within 2^-51.47 |X| of X; R is within 2^-52.98 |X| (for a weighted sum of
// terms of one sign the roundings of its terms shrink with X too), so |y -
// R| < 2^-51.04 |X| <= 2^-50 |R|. y is 0 exactly where X and R are: a sum
// of doubles of HwlLaneFloor's range is 0 only when it is exact, and
// nothing underflows. Weighted sums of mixed signs (R is then off by up to
// 2^-64 of the terms, which may cancel) go to the exact arithmetic.
// Refused lanes are redone as HwlDoubleResults does.
template <class L>
struct HwlDetailResults : HwlDoubleResults<L> {
  static constexpr bool BranchFree = true;  // (HwlPairGroup)
  using V = typename L::V;
  using M = typename L::M;
  static void Plain(V s, V d, V& even, V& odd, M& okEven, M& okOdd) {
    HwlByteResults<L>::PlainValues(s, d, even, odd);
    okEven = okOdd = L::MaskOf(true);
  }
  static V Times(V s, M& ok) {
    ok = L::MaskOf(true);
    return L::Mul(s, L::Set(HwlHaarK));
  }
  static V Smooth(V s, V n, M& ok) {
    ok = L::Not(L::SignsDiffer(s, n));
    return HwlByteResults<L>::SmoothValue(s, n);
  }
};

// The same where the byte pass's line is known to be narrow (HwlByteLine):
// then the two bands' values lie within 2^14.5 (their pass's results lie
// within HwlByteWide = 2^15, HwlPassBound), and a weighted sum of mixed
// signs needs no refusal. Its estimate is within 2^-37.5 of X (the sum s +
// n / 4 rounded, by up to 2^-53 of |s| + |n| / 4 <= 2^14.82, times c, off
// 0.8 k by up to 2^-54, rounded) and R within 2^-38.9 (the extended
// arithmetic's roundings of the terms, 2^-64 of them, and the last, to
// double), so |y - R| < 2^-37, and k x 2^-37 is below the 2^-35.46 the
// byte pass allows an estimated detail. And y is 0 exactly where R is: s +
// n / 4 is 0 only when it is exact, and then the extended sum is too (n x
// 0.2 is exactly n / 4 x 0.8 in 64 bits); otherwise s and -n / 4 are
// different doubles, at least 2^-53 of themselves apart, which the terms'
// roundings (2^-64 of them) cannot close. Nothing is refused.
template <class L>
struct HwlNarrowDetailResults : HwlDetailResults<L> {
  static constexpr bool NeverRefused = true;  // (HwlPairGroup)
  using V = typename L::V;
  using M = typename L::M;
  static V Smooth(V s, V n, M& ok) {
    ok = L::MaskOf(true);
    return HwlByteResults<L>::SmoothValue(s, n);
  }
};

// Where a line's details are estimates, the exact double of detail j:
// call(context, j).
struct HwlExactDetails {
  double (*call)(const void* context, int j);
  const void* context;
};

// A bound of the results of a pass whose approximation values lie within a
// and details within d: the plain (s +- d) k is at most (a + d) k, s k and
// the weighted sums (weights 0.8 and 0.2) at most a k, and the rounding of
// a result, like this bound's own roundings, adds far less than 2^-50 of it.
constexpr double HwlPassBound(double a, double d) { return (a + d) * (HwlHaarK * (1 + 0x1p-50)); }

// What the caller knows of a line for its last pass to bytes: where its
// details are estimates (as verticalDetails makes them), their exact values;
// and whether its values, approximations and details, all lie within
// HwlByteWide (narrow), which the rows otherwise test group by group: its
// samples then lie within 2^16.
struct HwlByteLine {
  const HwlExactDetails* details = nullptr;
  bool narrow = false;
};

// x clamped to [0, 255] (NaN gives 0), for StoreBytes and StoreWords;
// lane types whose stores saturate (L::SaturatingBytes: any value within
// +-2^31, and NaN, stored as if clamped) need not where the values are
// known to lie within 2^16: Clamp false.
template <class L, bool Clamp = true>
inline typename L::V HwlByteRange(typename L::V x) {
  if constexpr (!Clamp) return x;
  return L::Min(L::Max(x, L::Zero()), L::Set(255));
}
template <class L>
concept HwlSaturatingBytes = requires { requires L::SaturatingBytes; };

// The pairs of one group of L::Width lanes. get.S(k) gives the approximation
// values S(j + k), k = -2 ... 2, get.D(k) the details D(j + k), k = -1 ... 1
// (read only where the rule needs them); put.Store(even, odd) stores the
// results, put.Even(i) and put.Odd(i) locate those of lane i. Ends: the
// group holds pairs 0, 1, p - 2 or p - 1 (then `ends` says which lanes).
// Results: HwlDoubleResults (inputs as HwlLaneFloor requires) or
// HwlByteResults (any inputs). Returns true when every input it looked at
// was +0 (the results are then +0), a hint that zeros go on.
// BothSides: a group with a flat pair computes both weighted sums, each
// lane taking its own, instead of branching on whether any lane needs
// each. Where flat pairs with and without smoothing alternate (around
// light text on black) the processor mispredicts those branches and
// computing both is cheaper; where the cases come in long runs (a large
// photograph) the branches are slightly faster. The vertical rows take it
// (a tenth faster on the show's pictures, 1 to 3 % slower at 2048 x 2048);
// the horizontal rows, slower with it on every picture, do not.
// Results whose cases cost a few operations each (HwlDetailResults) go
// further: every group computes every case, the plain formula included, and
// each lane takes its own (the show's pictures 1.5 % faster).
template <class R>
concept HwlBranchFree = requires { requires R::BranchFree; };
// Results that refuse no lane: no test of them, and no call in the loop.
template <class R>
concept HwlNeverRefused = requires { requires R::NeverRefused; };
template <class L, bool Ends, class Get, class Put, class Results = HwlDoubleResults<L>, bool BothSides = false>
HWL_ALWAYS_INLINE bool HwlPairGroup(const Get& get, const HwlLineEnds<L>& ends, const Put& put, HwlExactPair exact) {
  using V = typename L::V;
  using M = typename L::M;
  const V zero = L::Zero();
  const V s = get.S(0), d = get.D(0);
  const M flat = L::Equal(d, zero);
  const int flatBits = L::Bits(flat);
  V even, odd;
  M okEven, okOdd;
  if (!HwlBranchFree<Results> && flatBits == 0) {
    Results::Plain(s, d, even, odd, okEven, okOdd);
    put.Store(even, odd);
    if (const int refused = L::Bits(L::Not(L::And(okEven, okOdd))))
      Results::Redo(refused, s, d, s, s, L::MaskOf(true), L::NoLanes(), L::NoLanes(), even, odd, put, exact);
    return false;
  }
  const V left = get.S(-1), right = get.S(1);
  // Zero details next to zero approximation values (most of a dark picture):
  // no smoothing, and S(j) x k = +0.
  if (flatBits == L::Full && L::AllZero(s, left, right)) {
    put.Store(zero, zero);
    return true;
  }
  M farLeft = L::NotEqual(left, get.S(-2)), farRight = L::NotEqual(right, get.S(2));
  M smoothable = flat;
  if constexpr (Ends) {
    farLeft = L::Or(farLeft, ends.odd);
    farRight = L::Or(farRight, ends.even);
    smoothable = L::AndNot(ends.plain, flat);
  }
  const M smoothEven =
      L::And(L::And(smoothable, L::Equal(get.D(-1), zero)), L::And(L::NotEqual(s, right), farRight));
  const M smoothOdd = L::And(L::And(smoothable, L::Equal(get.D(1), zero)), L::And(L::NotEqual(s, left), farLeft));
  if (!HwlBranchFree<Results> && flatBits == L::Full) {
    even = odd = Results::Times(s, okEven);
    okOdd = okEven;
  } else {
    // A flat lane's detail is +0: the plain formula gives s k there.
    Results::Plain(s, d, even, odd, okEven, okOdd);
  }
  if (BothSides || HwlBranchFree<Results> || L::Bits(smoothEven) != 0) {
    M ok;
    const V w = Results::Smooth(s, left, ok);
    even = L::Select(smoothEven, w, even);
    okEven = L::SelectMask(smoothEven, ok, okEven);
  }
  if (BothSides || HwlBranchFree<Results> || L::Bits(smoothOdd) != 0) {
    M ok;
    const V w = Results::Smooth(s, right, ok);
    odd = L::Select(smoothOdd, w, odd);
    okOdd = L::SelectMask(smoothOdd, ok, okOdd);
  }
  put.Store(even, odd);
  if constexpr (!HwlNeverRefused<Results>) {
    if (const int refused = L::Bits(L::Not(L::And(okEven, okOdd)))) {
      const M plain = Ends ? L::Or(L::Not(flat), ends.plain) : L::Not(flat);
      Results::Redo(refused, s, d, left, right, plain, smoothEven, smoothOdd, even, odd, put, exact);
    }
  }
  return false;
}

// A value of a row: a double, or a coefficient times its band's factor.
template <class L>
inline typename L::V HwlLoadValue(const double* p, typename L::V) {
  return L::Load(p);
}
template <class L>
inline typename L::V HwlLoadValue(const std::int16_t* p, typename L::V factor) {
  return L::LoadScaled(p, factor);
}

// A line in memory for HwlPairGroup: approximation values at s, details at d.
template <class L>
struct HwlLineGet {
  const double* s;
  const double* d;
  typename L::V S(int k) const { return L::Load(s + k); }
  typename L::V D(int k) const { return L::Load(d + k); }
};

// Row loops, compiled once per lane type (hwl_lanes_avx2.cpp,
// hwl_lanes_neon.cpp, and one double at a time in hwl_synthesis.cpp):
// vertical: pair rows j ... j + rows - 1 (rows 1 or 2) of a block with p
//   pair rows, `count` columns (at least Width: the last group may overlap
//   the one before it). sRows[0 ... rows + 3] point at the first column of
//   approximation rows j - 2 ... j + rows + 1 and dRows[0 ... rows + 1] at
//   detail rows j - 1 ... j + rows (rows outside the block may point
//   anywhere readable), with their band factors where they are
//   coefficients; out[2r] and out[2r + 1] receive the two output rows of
//   pair row j + r.
// horizontal: pairs [j0, j1) of a line of p pairs (j1 - j0 at least Width),
//   approximations at line[0 ... p), details at line[p ... 2p), with two
//   readable values before and after; results interleaved from out[0] on.
template <class SValue, class DValue>
using HwlVerticalRow = void (*)(const SValue* const* sRows, const DValue* const* dRows, double sFactor, double dFactor,
                                int count, int j, int p, int rows, double* const* out, HwlExactPair exact);
using HwlHorizontalRow = void (*)(const double* line, int p, int j0, int j1, double* out, HwlExactPair exact);
// bytes: the last horizontal pass of a plane, all p pairs of the line (p at
//   least Width; read as by horizontal): SampleToByte of the 2p samples at
//   out[0 ...], or, where second and third are given, 2p words from out on
//   as StoreWords makes them; `known` says what is known of the line.
// verticalDetails: as vertical for the last step's right half, two bands of
//   coefficients, where its results go to bytes: estimates of them
//   (HwlDetailResults); verticalNarrowDetails the same where the byte pass's
//   line is known to be narrow (HwlNarrowDetailResults).
using HwlByteRow = void (*)(const double* line, int p, std::uint8_t* out, const std::uint8_t* second,
                            const std::uint8_t* third, const HwlByteLine& known, HwlExactPair exact);

struct HwlLaneRows {
  int width;
  HwlVerticalRow<double, double> verticalDoubles;          // a dequantised plane
  HwlVerticalRow<double, std::int16_t> verticalScaled;     // synthesised approximations, coefficients
  HwlVerticalRow<std::int16_t, std::int16_t> verticalCoefficients;
  HwlHorizontalRow horizontal;
  HwlByteRow bytes;
  HwlVerticalRow<std::int16_t, std::int16_t> verticalDetails;
  HwlVerticalRow<std::int16_t, std::int16_t> verticalNarrowDetails;
};

// ---- Runs of zeros.
//
// A pair whose approximation values S(j - 1) ... S(j + 1) and detail D(j)
// are all +0 gives +0 twice, whatever its place in the line (plain, flat or
// at an end: nothing is smoothed towards an equal neighbour), which
// HwlPairGroup finds one group at a time. Dark pictures are mostly such
// pairs: after a group found all zero, the row loops test whole blocks of
// HwlZeroGroups groups at once and write their zeros without the rule.
constexpr int HwlZeroGroups = 4;

// True when the n values at p are +0: doubles with no bit set, or zero
// coefficients whose band factor turns 0 into +0 (see HwlZeroStaysZero).
template <class L, int N>
inline bool HwlAllPlusZero(const double* p) {
  static_assert(N >= L::Width);
  typename L::V bits = L::Load(p + N - L::Width);
  for (int i = 0; i + L::Width < N; i += L::Width) bits = L::Either(bits, L::Load(p + i));
  return L::AllZero(bits, bits, bits);
}
template <class L, int N>
inline bool HwlAllPlusZero(const std::int16_t* p) {
  static_assert(N % 4 == 0);
  std::uint64_t bits = 0;
  for (int i = 0; i < N; i += 4) {
    std::uint64_t four;
    std::memcpy(&four, p + i, sizeof four);
    bits |= four;
  }
  return bits == 0;
}
// N doubles from p on set to +0, N a multiple of the lane width; unrolled,
// as a short memset is slower than a few stores.
template <class L, int N>
inline void HwlStoreZeros(double* p) {
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (L::Store(p + I * L::Width, L::Zero()), ...);
  }(std::make_index_sequence<N / L::Width>());
}
// 0 times the factor is +0 (not -0 or NaN).
inline bool HwlZeroStaysZero(double factor) { return std::bit_cast<std::uint64_t>(0.0 * factor) == 0; }
// True when the pairs j ... j + N - 1 of a line of p pairs are all +0 with
// their neighbours. S(j - 1) may be a value before the line and S(j + N)
// one of its details: both are readable, and a value that is not +0 only
// stops a skip.
template <class L, int N>
inline bool HwlZeroPairs(const double* line, int p, int j) {
  return HwlAllPlusZero<L, N>(line + p + j) && HwlAllPlusZero<L, N + 2>(line + j - 1);
}

// The ends of a line for the group of pairs j ... j + Width - 1.
template <class L>
inline HwlLineEnds<L> HwlLineEndsAt(int j, int p) {
  const typename L::V lane = L::Add(L::Set(double(j)), L::Iota());
  return {L::Or(L::Equal(lane, L::Zero()), L::Equal(lane, L::Set(double(p - 1)))),
          L::Equal(lane, L::Set(double(p - 2))), L::Equal(lane, L::Set(1.0))};
}

// The group of a line of p pairs (approximations at line[0 ... p), details
// at line[p ... 2p)) from pair j on, with Results (as HwlPairGroup).
template <class L, class Results, class Put>
inline bool HwlLineGroup(const double* line, int p, int j, const Put& put, HwlExactPair exact) {
  const HwlLineGet<L> get{line + j, line + p + j};
  if (j < 2 || j + L::Width > p - 2)
    return HwlPairGroup<L, true, HwlLineGet<L>, Put, Results>(get, HwlLineEndsAt<L>(j, p), put, exact);
  return HwlPairGroup<L, false, HwlLineGet<L>, Put, Results>(get, HwlLineEnds<L>{}, put, exact);
}

// Walks the groups of pairs first ... end - 1 (at least Width of them; the
// last group overlaps the one before it where Width does not divide their
// number): group(j) makes the group from pair j on and returns true when it
// found it all zero. From then on, and from the start when `zeros` is set,
// whole blocks of HwlZeroGroups groups that zeroBlock(j) finds all zero go
// to storeZeros(j) instead.
template <class L, class ZeroBlock, class StoreZeros, class Group>
HWL_ALWAYS_INLINE void HwlWalkGroups(int first, int end, bool zeros, const ZeroBlock& zeroBlock,
                                     const StoreZeros& storeZeros, const Group& group) {
  constexpr int Block = HwlZeroGroups * L::Width;
  for (int j = first;;) {
    if (zeros && end - j >= Block && zeroBlock(j)) {
      storeZeros(j);
      if ((j += Block) == end) break;
      continue;
    }
    if (j + L::Width > end) j = end - L::Width;  // the last group overlaps
    zeros = group(j);
    if (j + L::Width == end) break;
    j += L::Width;
  }
}

// Vertical rows: the groups of one pair row (HwlVerticalRow's arguments for
// row j), or, with Two, of pair rows j and j + 1 at once, neither at an end
// of its column. The two share four of their five approximation rows and
// two of their three detail rows. Made in one loop, each coefficient they
// share is loaded and converted once for both (the stores of their results,
// doubles, cannot change a coefficient, so the compiler keeps it), and a
// block of zeros is found for both at once: 3 % fewer instructions, 3 %
// less time on the show's pictures.
template <class L, class SValue, class DValue, template <class> class Results, bool Two>
void HwlVerticalGroups(const SValue* const* sRows, const DValue* const* dRows, double sFactor, double dFactor,
                       int count, int j, int p, double* const* out, HwlExactPair exact) {
  using V = typename L::V;
  constexpr int Rows = Two ? 2 : 1;
  struct Get {
    const SValue* const* s;
    const DValue* const* d;
    int c;
    V sf, df;
    V S(int k) const { return HwlLoadValue<L>(s[k + 2] + c, sf); }
    V D(int k) const { return HwlLoadValue<L>(d[k + 1] + c, df); }
  };
  struct Put {
    double* even;
    double* odd;
    void Store(V e, V o) const {
      L::Store(even, e);
      L::Store(odd, o);
    }
    double* Even(int i) const { return even + i; }
    double* Odd(int i) const { return odd + i; }
  };
  const V sf = L::Set(sFactor), df = L::Set(dFactor);
  const HwlLineEnds<L> ends{L::MaskOf(j == 0 || j == p - 1), L::MaskOf(j == p - 2), L::MaskOf(j == 1)};
  const bool atEnds = !Two && (j < 2 || j > p - 3);
  constexpr int Block = HwlZeroGroups * L::Width;
  const bool zerosStay = HwlZeroStaysZero(sFactor) && HwlZeroStaysZero(dFactor);
  // The row pointers as locals of this call, which the stores cannot change.
  const SValue* s[Rows + 4];
  const DValue* d[Rows + 2];
  double* o[2 * Rows];
  std::copy_n(sRows, Rows + 4, s);
  std::copy_n(dRows, Rows + 2, d);
  std::copy_n(out, 2 * Rows, o);
  const auto zeroBlock = [&](int c) {
    bool zero = HwlAllPlusZero<L, Block>(d[1] + c) && HwlAllPlusZero<L, Block>(s[2] + c) &&
                HwlAllPlusZero<L, Block>(s[1] + c) && HwlAllPlusZero<L, Block>(s[3] + c);
    if constexpr (Two) zero = zero && HwlAllPlusZero<L, Block>(d[2] + c) && HwlAllPlusZero<L, Block>(s[4] + c);
    return zero;
  };
  HwlWalkGroups<L>(
      0, count, zerosStay, zeroBlock,
      [&](int c) {
        for (int r = 0; r < 2 * Rows; ++r) HwlStoreZeros<L, Block>(o[r] + c);
      },
      [&](int c) {
        using R = Results<L>;
        const Get get{s, d, c, sf, df};
        const Put put{o[0] + c, o[1] + c};
        bool zero = atEnds ? HwlPairGroup<L, true, Get, Put, R, true>(get, ends, put, exact)
                           : HwlPairGroup<L, false, Get, Put, R, true>(get, ends, put, exact);
        if constexpr (Two) {
          const Get next{s + 1, d + 1, c, sf, df};
          zero = HwlPairGroup<L, false, Get, Put, R, true>(next, ends, Put{o[2] + c, o[3] + c}, exact) && zero;
        }
        return zero && zerosStay;
      });
}

template <class L, class SValue, class DValue, template <class> class Results = HwlDoubleResults>
void HwlVerticalLanes(const SValue* const* sRows, const DValue* const* dRows, double sFactor, double dFactor, int count,
                      int j, int p, int rows, double* const* out, HwlExactPair exact) {
  if (rows == 2 && j >= 2 && j + 1 <= p - 3)
    return HwlVerticalGroups<L, SValue, DValue, Results, true>(sRows, dRows, sFactor, dFactor, count, j, p, out, exact);
  for (int r = 0; r < rows; ++r)
    HwlVerticalGroups<L, SValue, DValue, Results, false>(sRows + r, dRows + r, sFactor, dFactor, count, j + r, p,
                                                         out + 2 * r, exact);
}

template <class L>
void HwlHorizontalLanes(const double* line, int p, int j0, int j1, double* out, HwlExactPair exact) {
  using V = typename L::V;
  struct Put {
    double* out;
    void Store(V e, V o) const { L::StoreInterleaved(out, e, o); }
    double* Even(int i) const { return out + 2 * i; }
    double* Odd(int i) const { return out + 2 * i + 1; }
  };
  constexpr int Block = HwlZeroGroups * L::Width;
  HwlWalkGroups<L>(
      j0, j1, true, [&](int j) { return HwlZeroPairs<L, Block>(line, p, j); },
      [&](int j) { HwlStoreZeros<L, 2 * Block>(out + 2 * (j - j0)); },
      [&](int j) { return HwlLineGroup<L, HwlDoubleResults<L>>(line, p, j, Put{out + 2 * (j - j0)}, exact); });
}

// A group of a line's last pass to bytes away from the line's ends, s and d
// at its first pair's approximation and detail: HwlPairGroup with
// HwlByteResults, lane for lane. Each of the rule's cases costs a few cheap
// operations here, less than the branches between them (unpredictable where
// flat and textured pairs mix) would: every group computes every case and
// each lane takes its own, then checked once. (A branch to the plain
// formula alone for groups without a flat pair measured 2 % slower on the
// show's pictures, 1 to 4 % faster at 2048 x 2048, whose groups without a
// flat pair come in long runs.) Narrow: the line's approximation values are
// known to lie within HwlByteWide. Sets refusedAny where lanes were
// refused, and redoes them unless Defer (the caller then makes the group
// again without it). Returns true when its approximation values and details
// are +0, a hint that zeros go on.
template <class L, bool Narrow, bool Defer, class Put>
HWL_ALWAYS_INLINE bool HwlInnerByteGroup(const double* s, const double* d, const Put& put, HwlExactPair exact,
                                         bool& refusedAny) {
  using V = typename L::V;
  using M = typename L::M;
  using R = HwlByteResults<L>;
  const V zero = L::Zero();
  const V sj = L::Load(s), dj = L::Load(d);
  const M flat = L::Equal(dj, zero);
  V even, odd;
  const V left = L::Load(s - 1), right = L::Load(s + 1);
  const M smoothEven = L::And(L::And(flat, L::Equal(L::Load(d - 1), zero)),
                              L::And(L::NotEqual(sj, right), L::NotEqual(right, L::Load(s + 2))));
  const M smoothOdd = L::And(L::And(flat, L::Equal(L::Load(d + 1), zero)),
                             L::And(L::NotEqual(sj, left), L::NotEqual(left, L::Load(s - 2))));
  // Plain (s + d) k, which is s k for a flat lane, or the weighted sum.
  R::PlainValues(sj, dj, even, odd);
  even = L::Select(smoothEven, R::SmoothValue(sj, left), even);
  odd = L::Select(smoothOdd, R::SmoothValue(sj, right), odd);
  // Weighted sums of terms beyond HwlByteTerms go to the exact arithmetic;
  // so, more simply, does every lane with a value beyond HwlByteWide (none
  // in a picture: samples lie near 0 ... 255), which also bounds the
  // estimated details that matter.
  M refusedLanes = L::Or(R::Refused(even), R::Refused(odd));
  if constexpr (!Narrow)
    refusedLanes = L::Or(refusedLanes, L::Beyond(L::Max(L::Abs(sj), L::Max(L::Abs(left), L::Abs(right))),
                                                 L::Set(HwlByteWide)));
  put.Store(even, odd);
  const int refused = L::Bits(refusedLanes);
  refusedAny = refused != 0;
  if (!Defer && refused != 0)
    R::Redo(refused, sj, dj, left, right, L::Not(flat), smoothEven, smoothOdd, even, odd, put, exact);
  return L::AllZero(sj, dj, sj);
}

// A group of HwlByteGroups made again, with its refused lanes.
template <class L, bool Narrow, class At>
HWL_NOINLINE void HwlRedoByteGroup(const double* line, int p, int j, const At& at, HwlExactPair exact) {
  bool refused;
  HwlInnerByteGroup<L, Narrow, false>(line + j, line + p + j, at(j), exact, refused);
}

// The groups of a line's last pass to bytes; at(j) gives the Put of the
// group from pair j on. Where the line is known to be narrow (every
// picture's are), the groups skip their test of it (3.5 % of a decode of
// the natural 512 x 512 picture) and, where the lanes' stores saturate,
// the clamping of their values (1.4 %).
// The groups that hold pair 0 or 1 and those that hold one of the last two
// take the whole rule (HwlLineGroup); the others, in between, are made by
// a loop with no test of the ends and no call: a call in the loop makes the
// compiler reload the loop's constants after it and keep each group's Put
// in memory for it. The groups with refused lanes (rare) are made again
// after each chunk of HwlByteChunkGroups groups (5 % fewer instructions in
// a decode of the natural 512 x 512 picture, 2 % less time).
constexpr int HwlByteChunkGroups = 64;
template <class L, bool Narrow, class At>
void HwlByteGroups(const double* line, int p, const At& at, HwlExactPair exact) {
  constexpr int Block = HwlZeroGroups * L::Width;
  const auto zeroBlock = [&](int j) { return HwlZeroPairs<L, Block>(line, p, j); };
  const auto storeZeros = [&](int j) {
    for (int g = 0; g < Block; g += L::Width) at(j + g).Store(L::Zero(), L::Zero());
  };
  const auto endGroup = [&](int j) { return HwlLineGroup<L, HwlByteResults<L>>(line, p, j, at(j), exact); };
  constexpr int Inner = (2 + L::Width - 1) / L::Width * L::Width;  // the first group that holds neither 0 nor 1
  const int innerEnd = p - 2;
  if (innerEnd - Inner < L::Width) {
    bool refused;
    return HwlWalkGroups<L>(0, p, true, zeroBlock, storeZeros, [&](int j) {
      if (j < 2 || j + L::Width > innerEnd) return endGroup(j);
      return HwlInnerByteGroup<L, Narrow, false>(line + j, line + p + j, at(j), exact, refused);
    });
  }
  bool zeros = false;
  for (int j = 0; j < Inner; j += L::Width) zeros = endGroup(j);
  int refusedAt[HwlByteChunkGroups + 1];  // a chunk's groups
  for (int first = Inner; first < innerEnd;) {
    const int end = innerEnd - first <= (HwlByteChunkGroups + 1) * L::Width ? innerEnd
                                                                            : first + HwlByteChunkGroups * L::Width;
    int count = 0;
    HwlWalkGroups<L>(first, end, zeros, zeroBlock, storeZeros, [&](int j) {
      bool refused;
      const bool zero = HwlInnerByteGroup<L, Narrow, true>(line + j, line + p + j, at(j), exact, refused);
      refusedAt[count] = j;
      count += refused;
      return zero;
    });
    for (int i = 0; i < count; ++i) HwlRedoByteGroup<L, Narrow>(line, p, refusedAt[i], at, exact);
    zeros = true;
    first = end;
  }
  for (int j = std::min(innerEnd, p - L::Width); j < p; j += L::Width) endGroup(j);
}

// The group of a last pass from pair j on: where it finds the exact
// details of the lanes it refuses (none: they are exact already), and
// where it puts its bytes (HwlBytesAt) or words (HwlWordsAt).
template <class L>
struct HwlGroupDetails {
  int j;
  const HwlExactDetails* details;
  // d with the refused lanes' details made exact.
  typename L::V ExactDetails(int refused, typename L::V d) const {
    if (details == nullptr) return d;
    double dv[L::Width];
    L::Store(dv, d);
    for (int i = 0; i < L::Width; ++i)
      if ((refused >> i & 1) != 0) dv[i] = details->call(details->context, j + i);
    return L::Load(dv);
  }
};
template <class L, bool Clamp>
struct HwlBytesAt : HwlGroupDetails<L> {
  std::uint8_t* out;
  void Store(typename L::V e, typename L::V o) const {
    L::StoreBytes(out, HwlByteRange<L, Clamp>(e), HwlByteRange<L, Clamp>(o));
  }
};
template <class L, bool Clamp>
struct HwlWordsAt : HwlGroupDetails<L> {
  std::uint8_t* out;
  const std::uint8_t *second, *third;
  void Store(typename L::V e, typename L::V o) const {
    L::StoreWords(out, HwlByteRange<L, Clamp>(e), HwlByteRange<L, Clamp>(o), second, third);
  }
};

template <class L>
void HwlHorizontalByteLanes(const double* line, int p, std::uint8_t* out, const std::uint8_t* second,
                            const std::uint8_t* third, const HwlByteLine& known, HwlExactPair exact) {
  const HwlExactDetails* details = known.details;
  const auto groups = [&]<bool Narrow>() {
    constexpr bool Clamp = !(Narrow && HwlSaturatingBytes<L>);
    if (second == nullptr)
      HwlByteGroups<L, Narrow>(
          line, p, [=](int j) { return HwlBytesAt<L, Clamp>{{j, details}, out + 2 * j}; }, exact);
    else
      HwlByteGroups<L, Narrow>(
          line, p, [=](int j) { return HwlWordsAt<L, Clamp>{{j, details}, out + 8 * j, second + 2 * j, third + 2 * j}; },
          exact);
  };
  if (known.narrow)
    groups.template operator()<true>();
  else
    groups.template operator()<false>();
}

template <class L>
constexpr HwlLaneRows HwlLaneRowsOf() {
  return {L::Width, HwlVerticalLanes<L, double, double>, HwlVerticalLanes<L, double, std::int16_t>,
          HwlVerticalLanes<L, std::int16_t, std::int16_t>, HwlHorizontalLanes<L>, HwlHorizontalByteLanes<L>,
          HwlVerticalLanes<L, std::int16_t, std::int16_t, HwlDetailResults>,
          HwlVerticalLanes<L, std::int16_t, std::int16_t, HwlNarrowDetailResults>};
}

// ---- The pair check, one pair at a time, for any doubles.

constexpr double HwlLaneTiny = 0x1p-900;  // error-free products stay clear of underflow
constexpr double HwlLaneHuge = 0x1p990;   // and of overflow (Veltkamp's split multiplies by 2^27 + 1)

// Lanes that are zero or of a magnitude in [HwlLaneTiny, HwlLaneHuge].
template <class L>
inline typename L::M LaneInRange(typename L::V x) {
  const typename L::V magnitude = L::Abs(x);
  return L::Or(L::Equal(x, L::Set(0)),
               L::And(L::AtLeast(magnitude, L::Set(HwlLaneTiny)), L::AtMost(magnitude, L::Set(HwlLaneHuge))));
}

// (in + lo) x k rounded like the extended evaluation, where in + lo is the
// exact inner sum (|lo| at most a few ulps of in) and `bound` bounds the
// distance of its extended evaluation from it; lanes it cannot settle are
// added to `bad`.
template <class L>
inline typename L::V LaneTimesK(typename L::V in, typename L::V lo, typename L::V bound, typename L::M& bad) {
  using V = typename L::V;
  const V k = L::Set(HwlHaarK);
  const V ph = L::Mul(in, k);
  const V pl = L::ProductError(in, k, ph);  // in x k = ph + pl exactly
  const V l = L::MulAdd(lo, k, pl);
  const V hi = L::Add(ph, l);
  const V l2 = L::Sub(l, L::Sub(hi, ph));  // hi + l2 = ph + l exactly
  // E: the inner error times k, the product's rounding and the
  // double-double's own error, enlarged for the roundings of this bound
  // and of l2 +- E.
  const V e = L::Mul(L::MulAdd(bound, k, L::Mul(L::Abs(ph), L::Set(HwlRoundingUnit + 0x1p-90))),
                     L::Set(1 + 0x1p-30));
  const typename L::M settled =
      L::And(L::Equal(L::Add(hi, L::Add(l2, e)), hi), L::Equal(L::Add(hi, L::Sub(l2, e)), hi));
  bad = L::Or(bad, L::Not(L::And(settled, LaneInRange<L>(in))));
  // A zero sum keeps its sign (lo is then a zero of either sign).
  return L::Select(L::Equal(in, L::Set(0)), ph, hi);
}

// s x 0.8 + n x 0.2 as hi + lo, to about 2^-100 of its terms, with `bound`
// bounding its extended evaluation's error: the two products and the sum
// each round once; a sum that cancels has a large bound and is refused by
// LaneTimesK, whose range test on the sum covers the terms: NaN from an
// overflowing split fails every comparison, and a sum from HwlLaneTiny up
// holds a product's bits lost to underflow far inside the double-double's
// error allowance.
template <class L>
inline typename L::V LaneWeighted(typename L::V s, typename L::V n, typename L::V& lo, typename L::V& bound) {
  using V = typename L::V;
  const V heavy = L::Set(HwlHeavySplit.high), light = L::Set(HwlLightSplit.high);
  const V a1 = L::Mul(s, heavy), a2 = L::ProductError(s, heavy, a1);
  const V b1 = L::Mul(n, light), b2 = L::ProductError(n, light, b1);
  const V c = L::Add(a1, b1);
  const V cb = L::Sub(c, a1);
  const V ce = L::Add(L::Sub(a1, L::Sub(c, cb)), L::Sub(b1, cb));  // c + ce = a1 + b1 exactly
  const V small = L::MulAdd(n, L::Set(HwlLightSplit.low), L::Mul(s, L::Set(HwlHeavySplit.low)));
  lo = L::Add(L::Add(ce, small), L::Add(a2, b2));
  bound = L::Mul(L::Add(L::Add(L::Abs(a1), L::Abs(b1)), L::Abs(c)), L::Set(HwlRoundingUnit * (1 + 0x1p-30)));
  // A zero sum is exact only when both terms are zero (a product of a
  // subnormal can round to zero while the extended product does not): the
  // others get an infinite bound, which LaneTimesK refuses.
  const V zero = L::Set(0);
  const typename L::M lost = L::And(L::Equal(c, zero), L::Not(L::And(L::Equal(s, zero), L::Equal(n, zero))));
  bound = L::Select(lost, L::Set(std::numeric_limits<double>::infinity()), bound);
  return c;
}

// The results of a pair whose rule has been decided (as HwlExactPair);
// returns true where they must be recomputed (they are then undefined).
template <class L>
inline typename L::M HwlPairLanes(typename L::V s, typename L::V d, typename L::V left, typename L::V right,
                                  typename L::M plain, typename L::M smoothEven, typename L::M smoothOdd,
                                  typename L::V& even, typename L::V& odd) {
  using V = typename L::V;
  typename L::M bad = L::NoLanes();
  // Error-free sum and difference; an unsmoothed flat pair gives s x k.
  const V a = L::Add(s, d);
  const V ab = L::Sub(a, s);
  const V ae = L::Add(L::Sub(s, L::Sub(a, ab)), L::Sub(d, ab));
  const V b = L::Sub(s, d);
  const V bb = L::Sub(b, s);
  const V be = L::Sub(L::Sub(s, L::Sub(b, bb)), L::Add(d, bb));
  const V zero = L::Set(0);
  const V unit = L::Set(HwlRoundingUnit);
  V inEven = L::Select(plain, a, s), loEven = L::Select(plain, ae, zero);
  V inOdd = L::Select(plain, b, s), loOdd = L::Select(plain, be, zero);
  V boundEven = L::Select(plain, L::Mul(L::Abs(a), unit), zero);
  V boundOdd = L::Select(plain, L::Mul(L::Abs(b), unit), zero);
  if (L::Bits(L::Or(smoothEven, smoothOdd)) != 0) {
    V lo, bound;
    V w = LaneWeighted<L>(s, left, lo, bound);
    inEven = L::Select(smoothEven, w, inEven);
    loEven = L::Select(smoothEven, lo, loEven);
    boundEven = L::Select(smoothEven, bound, boundEven);
    w = LaneWeighted<L>(s, right, lo, bound);
    inOdd = L::Select(smoothOdd, w, inOdd);
    loOdd = L::Select(smoothOdd, lo, loOdd);
    boundOdd = L::Select(smoothOdd, bound, boundOdd);
  }
  even = LaneTimesK<L>(inEven, loEven, boundEven, bad);
  odd = LaneTimesK<L>(inOdd, loOdd, boundOdd, bad);
  return bad;
}
