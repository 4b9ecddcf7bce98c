// The pair rule in double precision, exactly: a fast path in front of the
// extended arithmetic, written once for any lane type L (one double, or a
// vector of them).
//
// A formula's extended evaluation rounds the inner sum or weighted sum and
// then the product with k to 64 bits; each rounding moves the value by at
// most 2^-64 of itself. The lanes form the exact value X of the formula as
// an unevaluated sum hi + l2 of doubles (error-free sums and products: an
// FMA, or Veltkamp's split and Dekker's product where there is none), to
// about 2^-100 relative, and keep hi where the extended result must round
// to it too. Two checks, picked by what a refused lane costs:
// - loose, in front of the x87: without cancellation the extended result
//   lies within 3 x 2^-64 of X, 2^-9.4 ulp of the result; a lane is kept
//   when X is at least 2^-8 ulp from a midpoint between doubles (one
//   multiply-add and a compare) and its weighted terms have one sign. About
//   one result in 128 is refused, and weighted sums of mixed signs.
// - tight, in front of the software type: the distance E between X and the
//   extended result is bounded per lane from the sizes of the rounded
//   terms, and a lane is kept when hi + l2 - E and hi + l2 + E both round to
//   hi. About one result in 500 is refused, more where a weighted sum
//   cancels.
// Both refuse values outside [HwlLaneTiny, HwlLaneHuge] (the error-free
// products must neither underflow nor overflow). The caller recomputes
// refused lanes with the extended arithmetic.
//
// A lane type provides, for L::V (lanes of doubles) and L::M (lane masks):
// Set, Add, Sub, Mul; ProductError(a, b, p) = a x b - p exactly when p is
// the rounded a x b; MulAdd(a, b, c) = a x b + c (fused or not); Equal,
// NotEqual (true for NaN), AtMost, AtLeast, Abs; And, Or, Not, NoLanes;
// Select(m, a, b) = m ? a : b; SignsDiffer; Any; AllZero(a, b, c, d).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "hwl_arithmetic.h"

constexpr double HwlLaneTiny = 0x1p-900;  // error-free products stay clear of underflow
constexpr double HwlLaneHuge = 0x1p990;   // and of overflow (Veltkamp's split multiplies by 2^27 + 1)
constexpr double HwlRoundingUnit = 0x1p-64;  // the largest relative error of one rounding to 64 bits
constexpr double HwlLaneMargin = 1 + 0x1p-7;  // the loose check: |l2| x this within half an ulp

// The smoothing weights split into two doubles each, exactly.
struct HwlSplitWeight {
  double high, low;
};
constexpr HwlSplitWeight SplitWeight(double unit) {
  // The significand rounded to 53 bits (its low 11 bits are 0x4CD: up), and what is left.
  const std::uint64_t top = (HwlWeightSignificand >> 11) + 1;
  return {double(top) * 0x1p11 * unit, -double((top << 11) - HwlWeightSignificand) * unit};
}
constexpr HwlSplitWeight HwlHeavySplit = SplitWeight(0x1p-64), HwlLightSplit = SplitWeight(0x1p-66);
static_assert(HwlHeavySplit.high == 0.8 && HwlLightSplit.high == 0.2);
static_assert(HwlExtended(HwlHeavySplit.high) + HwlExtended(HwlHeavySplit.low) == HwlHeavyWeight);
static_assert(HwlExtended(HwlLightSplit.high) + HwlExtended(HwlLightSplit.low) == HwlLightWeight);

// Lanes that are zero or of a magnitude in [HwlLaneTiny, HwlLaneHuge].
template <class L>
inline typename L::M LaneInRange(typename L::V x) {
  const typename L::V magnitude = L::Abs(x);
  return L::Or(L::Equal(x, L::Set(0)),
               L::And(L::AtLeast(magnitude, L::Set(HwlLaneTiny)), L::AtMost(magnitude, L::Set(HwlLaneHuge))));
}

// (in + lo) x k rounded like the extended evaluation, where in + lo is the
// exact inner sum (|lo| at most a few ulps of in) and, for the tight check,
// `bound` bounds the distance of its extended evaluation from it; lanes it
// cannot settle are added to `bad`.
template <class L, bool Tight>
inline typename L::V LaneTimesK(typename L::V in, typename L::V lo, typename L::V bound, typename L::M& bad) {
  using V = typename L::V;
  const V k = L::Set(HwlHaarK);
  const V ph = L::Mul(in, k);
  const V pl = L::ProductError(in, k, ph);  // in x k = ph + pl exactly
  const V l = L::MulAdd(lo, k, pl);
  const V hi = L::Add(ph, l);
  const V l2 = L::Sub(l, L::Sub(hi, ph));  // hi + l2 = ph + l exactly
  typename L::M settled;
  if constexpr (Tight) {
    // E: the inner error times k, the product's rounding and the
    // double-double's own error, enlarged for the roundings of this bound
    // and of l2 +- E.
    const V e = L::Mul(L::MulAdd(bound, k, L::Mul(L::Abs(ph), L::Set(HwlRoundingUnit + 0x1p-90))),
                       L::Set(1 + 0x1p-30));
    settled = L::And(L::Equal(L::Add(hi, L::Add(l2, e)), hi), L::Equal(L::Add(hi, L::Sub(l2, e)), hi));
  } else {
    settled = L::Equal(L::MulAdd(l2, L::Set(HwlLaneMargin), hi), hi);
  }
  bad = L::Or(bad, L::Not(L::And(settled, LaneInRange<L>(in))));
  // A zero sum keeps its sign (lo is then a zero of either sign).
  return L::Select(L::Equal(in, L::Set(0)), ph, hi);
}

// s x 0.8 + n x 0.2 as hi + lo, to about 2^-100 of its terms. For the
// loose check, lanes whose terms differ in sign go to `bad`. For the tight
// one, `bound` bounds its extended evaluation's error: the two products and
// the sum each round once; a sum that cancels has a large bound and is
// refused by LaneTimesK. Either way the range test of LaneTimesK on the sum
// covers the terms: NaN from an overflowing split fails every comparison,
// and a sum from HwlLaneTiny up holds a product's bits lost to underflow far
// inside the double-double's error allowance.
template <class L, bool Tight>
inline typename L::V LaneWeighted(typename L::V s, typename L::V n, typename L::V& lo, typename L::V& bound,
                                  typename L::M& bad) {
  using V = typename L::V;
  const V heavy = L::Set(HwlHeavySplit.high), light = L::Set(HwlLightSplit.high);
  const V a1 = L::Mul(s, heavy), a2 = L::ProductError(s, heavy, a1);
  const V b1 = L::Mul(n, light), b2 = L::ProductError(n, light, b1);
  const V c = L::Add(a1, b1);
  const V cb = L::Sub(c, a1);
  const V ce = L::Add(L::Sub(a1, L::Sub(c, cb)), L::Sub(b1, cb));  // c + ce = a1 + b1 exactly
  const V small = L::MulAdd(n, L::Set(HwlLightSplit.low), L::Mul(s, L::Set(HwlHeavySplit.low)));
  lo = L::Add(L::Add(ce, small), L::Add(a2, b2));
  if constexpr (!Tight) {
    // With one sign a zero sum is exact or the zero that both terms round to.
    bad = L::Or(bad, L::SignsDiffer(s, n));
    return c;
  }
  bound = L::Mul(L::Add(L::Add(L::Abs(a1), L::Abs(b1)), L::Abs(c)), L::Set(HwlRoundingUnit * (1 + 0x1p-30)));
  // A zero sum is exact only when both terms are zero (a product of a
  // subnormal can round to zero while the extended product does not): the
  // others get an infinite bound, which LaneTimesK refuses.
  const typename L::V zero = L::Set(0);
  const typename L::M lost = L::And(L::Equal(c, zero), L::Not(L::And(L::Equal(s, zero), L::Equal(n, zero))));
  bound = L::Select(lost, L::Set(std::numeric_limits<double>::infinity()), bound);
  return c;
}

// The results of pairs whose rule has been decided: plain lanes take
// (s + d) k and (s - d) k; the others s k, or where smoothEven (smoothOdd)
// is set the weighted sum with the left (right) neighbour times k. Returns
// the lanes to recompute; their results are undefined.
template <class L, bool Tight>
inline typename L::M PairLanes(typename L::V s, typename L::V d, typename L::V left, typename L::V right,
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
  V inEven = L::Select(plain, a, s), loEven = L::Select(plain, ae, zero);
  V inOdd = L::Select(plain, b, s), loOdd = L::Select(plain, be, zero);
  V boundEven = zero, boundOdd = zero;
  if constexpr (Tight) {
    const V unit = L::Set(HwlRoundingUnit);
    boundEven = L::Select(plain, L::Mul(L::Abs(a), unit), zero);
    boundOdd = L::Select(plain, L::Mul(L::Abs(b), unit), zero);
  }
  if (L::Any(L::Or(smoothEven, smoothOdd))) {
    typename L::M badEven = L::NoLanes(), badOdd = L::NoLanes();
    V lo, bound = zero;
    V w = LaneWeighted<L, Tight>(s, left, lo, bound, badEven);
    inEven = L::Select(smoothEven, w, inEven);
    loEven = L::Select(smoothEven, lo, loEven);
    boundEven = L::Select(smoothEven, bound, boundEven);
    w = LaneWeighted<L, Tight>(s, right, lo, bound, badOdd);
    inOdd = L::Select(smoothOdd, w, inOdd);
    loOdd = L::Select(smoothOdd, lo, loOdd);
    boundOdd = L::Select(smoothOdd, bound, boundOdd);
    bad = L::Or(L::And(badEven, smoothEven), L::And(badOdd, smoothOdd));
  }
  even = LaneTimesK<L, Tight>(inEven, loEven, boundEven, bad);
  odd = LaneTimesK<L, Tight>(inOdd, loOdd, boundOdd, bad);
  return bad;
}

// Inner pairs (2 <= j <= p - 3: every neighbour exists and the clauses
// j = 1 and j = p - 2 of the rule are false), from S(j - 2) ... S(j + 2) and
// D(j - 1) ... D(j + 1).
template <class L, bool Tight>
inline typename L::M InnerPairLanes(typename L::V s, typename L::V sl, typename L::V sll, typename L::V sr,
                                    typename L::V srr, typename L::V dl, typename L::V d, typename L::V dr,
                                    typename L::V& even, typename L::V& odd) {
  // Zero details next to zero approximation values (most of a dark
  // picture): no smoothing, and S(j) x k is S(j), a zero of its own sign.
  if (L::AllZero(s, d, sl, sr)) {
    even = s;
    odd = s;
    return L::NoLanes();
  }
  const typename L::V zero = L::Set(0);
  const typename L::M flat = L::Equal(d, zero);  // -0 counts as zero
  const typename L::M smoothEven = L::And(L::And(flat, L::Equal(dl, zero)),
                                          L::And(L::NotEqual(s, sr), L::NotEqual(sr, srr)));
  const typename L::M smoothOdd = L::And(L::And(flat, L::Equal(dr, zero)),
                                         L::And(L::NotEqual(s, sl), L::NotEqual(sl, sll)));
  return PairLanes<L, Tight>(s, d, sl, sr, L::Not(flat), smoothEven, smoothOdd, even, odd);
}

// One double per lane; the exact product error by FMA where the target has
// it in hardware, else by Veltkamp's split and Dekker's product (exact when
// a x b neither overflows, including the split's 2^27 + 1, nor underflows).
template <bool Fused>
struct HwlScalarLane {
  using V = double;
  using M = bool;
  static V Set(double x) { return x; }
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
  static M Equal(V a, V b) { return a == b; }
  static M NotEqual(V a, V b) { return a != b; }
  static M AtMost(V a, V b) { return a <= b; }
  static M AtLeast(V a, V b) { return a >= b; }
  static V Abs(V a) { return std::fabs(a); }
  static M And(M a, M b) { return a && b; }
  static M Or(M a, M b) { return a || b; }
  static M Not(M a) { return !a; }
  static M NoLanes() { return false; }
  static V Select(M m, V a, V b) { return m ? a : b; }
  static M SignsDiffer(V a, V b) { return std::signbit(a) != std::signbit(b); }
  static bool Any(M m) { return m; }
  static bool AllZero(V a, V b, V c, V d) { return a == 0 && b == 0 && c == 0 && d == 0; }
};

#if defined(FP_FAST_FMA)
using HwlScalarLaneHere = HwlScalarLane<true>;
#else
using HwlScalarLaneHere = HwlScalarLane<false>;
#endif

// The pair rule for pair j of a line (s and d point at S(j) and D(j), the
// neighbours sStep and dStep elements away), exact: lanes hand the pairs
// they cannot settle to one of these.
using HwlPairFunction = void (*)(const double* s, std::ptrdiff_t sStep, const double* d, std::ptrdiff_t dStep, int j,
                                 int p, double& even, double& odd);

// Row loops over inner pairs with a vector lane type, compiled for one
// processor family each (hwl_lanes_avx2.cpp, hwl_lanes_neon.cpp):
// vertical: inner row j of a strip, count columns (a multiple of width);
//   s: approximation values of the strip's row j (rows cw apart), d: the
//   detail row j in the plane (rows stride apart), even and odd: output rows.
// horizontal: inner pairs [j0, j0 + count) of a row, count a multiple of
//   width, from a copy of the row (approximations at line, details at line +
//   p), results interleaved into row.
// Each family exports two: [0] with the loose check, [1] with the tight one.
struct HwlLaneRows {
  int width;
  void (*vertical)(const double* s, std::size_t cw, const double* d, std::size_t stride, double* even, double* odd,
                   int j, int p, int count, HwlPairFunction exact);
  void (*horizontal)(const double* line, double* row, int j0, int p, int count, HwlPairFunction exact);
};

// The row loops on lane type L (width lanes; L::Load, L::Store,
// L::StoreInterleaved and L::Bits as well).
template <class L, bool Tight>
void HwlVerticalLaneRow(const double* s, std::size_t cw, const double* d, std::size_t stride, double* even,
                        double* odd, int j, int p, int count, HwlPairFunction exact) {
  for (int c = 0; c < count; c += L::Width) {
    typename L::V e, o;
    const int redo =
        L::Bits(InnerPairLanes<L, Tight>(L::Load(s + c), L::Load(s + c - cw), L::Load(s + c - 2 * cw),
                                         L::Load(s + c + cw), L::Load(s + c + 2 * cw), L::Load(d + c - stride),
                                         L::Load(d + c), L::Load(d + c + stride), e, o));
    L::Store(even + c, e);
    L::Store(odd + c, o);
    for (int i = 0; redo != 0 && i < L::Width; ++i)
      if ((redo >> i & 1) != 0)
        exact(s + c + i, std::ptrdiff_t(cw), d + c + i, std::ptrdiff_t(stride), j, p, even[c + i], odd[c + i]);
  }
}

template <class L, bool Tight>
void HwlHorizontalLaneRow(const double* line, double* row, int j0, int p, int count, HwlPairFunction exact) {
  const double* d = line + p;
  for (int j = j0; j < j0 + count; j += L::Width) {
    typename L::V e, o;
    const int redo = L::Bits(InnerPairLanes<L, Tight>(L::Load(line + j), L::Load(line + j - 1), L::Load(line + j - 2),
                                                      L::Load(line + j + 1), L::Load(line + j + 2),
                                                      L::Load(d + j - 1), L::Load(d + j), L::Load(d + j + 1), e, o));
    L::StoreInterleaved(row + 2 * j, e, o);
    for (int i = 0; redo != 0 && i < L::Width; ++i)
      if ((redo >> i & 1) != 0) exact(line + j + i, 1, d + j + i, 1, j + i, p, row[2 * (j + i)], row[2 * (j + i) + 1]);
  }
}

// Both rows of lane type L, by check.
template <class L>
constexpr HwlLaneRows HwlLaneRowsOf(bool tight) {
  return tight ? HwlLaneRows{L::Width, HwlVerticalLaneRow<L, true>, HwlHorizontalLaneRow<L, true>}
               : HwlLaneRows{L::Width, HwlVerticalLaneRow<L, false>, HwlHorizontalLaneRow<L, false>};
}
