// Dequantisation and the inverse Haar synthesis, in place on one plane.
#include <algorithm>
#include <array>
#include <vector>

#include "hwl_decode.h"
#include "hwl_lanes.h"
#include "hwl_precision.h"
#include "hwl_threads.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Vector row loops, where the build has them for this processor family.
#if HWL_AVX2_ROWS
extern const HwlLaneRows HwlAvx2Rows[2];  // hwl_lanes_avx2.cpp
#endif
#if HWL_NEON_ROWS
extern const HwlLaneRows HwlNeonRows[2];  // hwl_lanes_neon.cpp
#endif

bool HwlUseCpuExtensions = true;
bool HwlUseX87 = true;

namespace {

// The results of a pair whose case the rule has decided, by the extended
// arithmetic A (the x87, or the software type).
template <class A>
struct ExactResults {
  static void Plain(double s, double d, double& even, double& odd) {
    even = A::SumTimesK(s, d);
    odd = A::DifferenceTimesK(s, d);
  }
  static void Flat(double s, double left, double right, bool smoothEven, bool smoothOdd, double& even,
                   double& odd) {
    even = smoothEven ? A::SmoothTimesK(s, left) : A::TimesK(s);
    odd = smoothOdd ? A::SmoothTimesK(s, right) : A::TimesK(s);
  }
};

// The same with the double-double lane in front; A takes only what that
// cannot settle. A flat pair needs s x k once for both of its samples.
template <class A>
struct FastResults {
  using Lane = HwlScalarLaneHere;
  static void Plain(double s, double d, double& even, double& odd) {
    if (PairLanes<Lane, true>(s, d, 0.0, 0.0, true, false, false, even, odd)) ExactResults<A>::Plain(s, d, even, odd);
  }
  static void Flat(double s, double left, double right, bool smoothEven, bool smoothOdd, double& even,
                   double& odd) {
    bool bad = false;
    const double flat = smoothEven && smoothOdd ? 0.0 : LaneTimesK<Lane, true>(s, 0.0, 0.0, bad);
    even = smoothEven ? Smooth(s, left, bad) : flat;
    odd = smoothOdd ? Smooth(s, right, bad) : flat;
    if (bad) ExactResults<A>::Flat(s, left, right, smoothEven, smoothOdd, even, odd);
  }
  static double Smooth(double s, double n, bool& bad) {
    double lo = 0, bound = 0;
    const double sum = LaneWeighted<Lane, true>(s, n, lo, bound, bad);
    return LaneTimesK<Lane, true>(sum, lo, bound, bad);
  }
};

// The pair rule for pair j of a line of half length p. s and d point at the
// approximation value S(j) and the detail value D(j); neighbouring pairs are
// sStep and dStep elements away. A zero detail inside the line pulls each of
// the two samples a fifth of the way towards the approximation value on its
// side, where the neighbourhood is not flat; tests are exact (-0 counts as
// zero) and made in the order written, so S(j - 2) and S(j + 2) are read only
// inside the line. All inputs are read before the results are stored (a
// result may overwrite a detail that is no longer needed).
template <class Results>
inline void SynthesisePairWith(const double* s, std::ptrdiff_t sStep, const double* d, std::ptrdiff_t dStep, int j,
                               int p, double& even, double& odd) {
  const double sj = s[0];
  const double dj = d[0];
  if (dj != 0 || j == 0 || j == p - 1) return Results::Plain(sj, dj, even, odd);
  const double left = s[-sStep];
  const double right = s[sStep];
  const bool smoothEven = d[-dStep] == 0 && sj != right && (j == p - 2 || right != s[2 * sStep]);
  const bool smoothOdd = d[dStep] == 0 && sj != left && (j == 1 || left != s[-2 * sStep]);
  Results::Flat(sj, left, right, smoothEven, smoothOdd, even, odd);
}

// The vector rows this machine has, or none; tight: with the check for a
// costly extended arithmetic behind them.
const HwlLaneRows* CpuLaneRows(bool tight) {
  if (!HwlUseCpuExtensions) return nullptr;
#if HWL_AVX2_ROWS
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has ? &HwlAvx2Rows[tight] : nullptr;
#elif HWL_NEON_ROWS
  return &HwlNeonRows[tight];
#else
  (void)tight;
  return nullptr;
#endif
}

// In place, the results of pair j go where S(2j) and S(2j + 1) (or later
// details) were, so the approximation half of a line is copied first. The
// detail half is read in place: detail i sits at line position p + i and is
// overwritten by pair (p + i) / 2, never before its last reader, pair i + 1
// (pair p - 1, which overwrites D(p - 2), takes the plain case and reads only
// D(p - 1)).
//
// The pass functions below take the rule's evaluation as Results (pairs that
// no vector row takes), and the vector rows with the exact rule for the
// lanes they hand back.

// Vertical pass of one step over columns [c0, c1) of the w x h block: each
// column's upper half holds approximation values, its lower half details.
// The rule runs row by row across the strip. The inner rows never overwrite
// a detail row that their own pair or a later one still reads. A cancelled
// decode stops part-way.
template <class Results>
void VerticalStrip(double* plane, std::size_t stride, int c0, int c1, int h, std::vector<double>& strip,
                   const HwlLaneRows* rows, HwlPairFunction exact, const HwlTeam& team) {
  const int cw = c1 - c0;
  const int p = h / 2;
  strip.resize(std::size_t(p) * cw);
  for (int r = 0; r < p; ++r) std::copy_n(plane + r * stride + c0, cw, strip.data() + std::size_t(r) * cw);
  const int laneColumns = rows ? cw - cw % rows->width : 0;
  for (int j = 0; j < p; ++j) {
    if (j % 1024 == 0 && team.Cancelled()) return;
    const double* s = strip.data() + std::size_t(j) * cw;
    const double* d = plane + std::size_t(p + j) * stride + c0;
    double* even = plane + std::size_t(2 * j) * stride + c0;
    double* odd = even + stride;
    int c = 0;
    if (laneColumns > 0 && j >= 2 && j <= p - 3) {
      rows->vertical(s, std::size_t(cw), d, stride, even, odd, j, p, laneColumns, exact);
      c = laneColumns;
    }
    for (; c < cw; ++c) SynthesisePairWith<Results>(s + c, cw, d + c, std::ptrdiff_t(stride), j, p, even[c], odd[c]);
  }
}

// Horizontal pass over one row of a block of width w, from a copy of the row.
template <class Results>
void HorizontalRow(double* row, int w, std::vector<double>& line, const HwlLaneRows* rows, HwlPairFunction exact) {
  const int p = w / 2;
  line.assign(row, row + 2 * p);
  const double* s = line.data();
  const double* d = s + p;
  int j = 0;
  // Pairs 2 ... 2 + inner - 1 <= p - 3 go to the vector row.
  const int inner = rows && p >= 4 + rows->width ? (p - 4) - (p - 4) % rows->width : 0;
  for (; j < 2 && j < p; ++j) SynthesisePairWith<Results>(s + j, 1, d + j, 1, j, p, row[2 * j], row[2 * j + 1]);
  if (inner > 0) {
    rows->horizontal(s, row, 2, p, inner, exact);
    j = 2 + inner;
  }
  for (; j < p; ++j) SynthesisePairWith<Results>(s + j, 1, d + j, 1, j, p, row[2 * j], row[2 * j + 1]);
}

// One synthesis step: the w x h upper-left block of the plane, in place.
template <class Results>
void SynthesiseStepWith(double* plane, std::size_t stride, int w, int h, HwlTeam& team, HwlRowSink sink,
                        const HwlLaneRows* rows, HwlPairFunction exact) {
  const int parts = PartsFor(std::size_t(w) * h, team.Size());
  // Columns are dealt out in whole strips, rows in equal ranges.
  const std::size_t strips = (w + HwlStripWidth - 1) / HwlStripWidth;
  team.Run(parts, [&](int part) {
    std::vector<double> strip;
    const PartRange range = PartOf(strips, part, parts);
    for (std::size_t i = range.first; i < range.last; ++i)
      VerticalStrip<Results>(plane, stride, int(i) * HwlStripWidth, std::min(w, int(i + 1) * HwlStripWidth), h,
                             strip, rows, exact, team);
  });
  team.Run(parts, [&](int part) {
    std::vector<double> line;
    const PartRange range = PartOf(std::size_t(h), part, parts);
    for (std::size_t r = range.first; r < range.last && !team.Cancelled(); ++r) {
      HorizontalRow<Results>(plane + r * stride, w, line, rows, exact);
      if (sink.call) sink.call(sink.context, int(r), plane + r * stride);
    }
  });
}

// The x87 evaluates every pair the vector rows do not take, where there is
// one: it is faster than the double-double lane in front of the software
// type, and it takes the lanes the rows' loose check refuses. Elsewhere that
// lane does, and the software type takes the rest, behind the tight check.
#if HWL_X87
using X87Pairs = ExactResults<HwlX87Arithmetic>;
#endif
using SoftPairs = ExactResults<HwlSoftArithmetic>;
using FastSoftPairs = FastResults<HwlSoftArithmetic>;

void SynthesiseStep(double* plane, std::size_t stride, int w, int h, HwlTeam& team, HwlRowSink sink) {
#if HWL_X87
  if (HwlUseX87)
    return SynthesiseStepWith<X87Pairs>(plane, stride, w, h, team, sink, CpuLaneRows(false),
                                        &SynthesisePairWith<X87Pairs>);
#endif
  SynthesiseStepWith<FastSoftPairs>(plane, stride, w, h, team, sink, CpuLaneRows(true),
                                    &SynthesisePairWith<SoftPairs>);
}

}  // namespace

void HwlSynthesisePair(const double* s, std::ptrdiff_t sStep, const double* d, std::ptrdiff_t dStep, int j, int p,
                       double& even, double& odd) {
#if HWL_X87
  if (HwlUseX87) {
    const HwlExtendedPrecision precision;
    return SynthesisePairWith<X87Pairs>(s, sStep, d, dStep, j, p, even, odd);
  }
#endif
  SynthesisePairWith<FastSoftPairs>(s, sStep, d, dStep, j, p, even, odd);
}

void HwlPlainPair(double s, double d, double& even, double& odd) {
#if HWL_X87
  if (HwlUseX87) {
    const HwlExtendedPrecision precision;
    return X87Pairs::Plain(s, d, even, odd);
  }
#endif
  FastSoftPairs::Plain(s, d, even, odd);
}

double HwlBandFactor(double scale) {
  if (scale == 0) return 0;
#if HWL_X87
  if (HwlUseX87) {
    const HwlExtendedPrecision precision;
    return HwlX87Arithmetic::Reciprocal(scale);
  }
#endif
  return HwlSoftArithmetic::Reciprocal(scale);
}

void DequantiseBands(std::span<double> plane, int width, int height, int levels,
                     std::span<const double> bandScales, HwlTeam& team) {
  const HwlExtendedPrecision precision;
  std::array<double, HwlMaxBands> factor{};
  for (int i = 0; i <= levels + 1; ++i) factor[i] = HwlBandFactor(bandScales[i]);
  const int parts = PartsFor(plane.size(), team.Size());
  team.Run(parts, [&](int part) {
    const PartRange rows = PartOf(std::size_t(height), part, parts);
    for (int y = int(rows.first); y < int(rows.last) && !team.Cancelled(); ++y) {
      // From the right: level i covers columns [W >> (i + 1), W >> i) of the
      // rows in its upper quarter, and every column left of W >> i below it.
      double* row = plane.data() + std::size_t(y) * width;
      int end = width;
      for (int i = 0; i <= levels + 1; ++i) {
        const bool whole = i == levels + 1 || y >= (height >> (i + 1));
        const int begin = whole ? 0 : width >> (i + 1);
        const double f = factor[i];
        int x = begin;
#if defined(__SSE2__)
        for (const __m128d vf = _mm_set1_pd(f); x + 2 <= end; x += 2)
          _mm_storeu_pd(row + x, _mm_mul_pd(_mm_loadu_pd(row + x), vf));
#endif
        for (; x < end; ++x) row[x] *= f;
        if (whole) break;
        end = begin;
      }
    }
  });
}

void DequantiseBands(std::span<double> plane, int width, int height, int levels,
                     std::span<const double> bandScales, int threads) {
  HwlTeam team(PartsFor(plane.size(), std::max(1, threads)));
  DequantiseBands(plane, width, height, levels, bandScales, team);
}

void SynthesisePlane(std::span<double> plane, int width, int height, int levels, HwlTeam& team, HwlRowSink sink) {
  const HwlExtendedPrecision precision;
  for (int n = levels; n >= 0; --n)
    SynthesiseStep(plane.data(), std::size_t(width), width >> n, height >> n, team, n == 0 ? sink : HwlRowSink{});
}

void SynthesisePlane(std::span<double> plane, int width, int height, int levels, int threads) {
  HwlTeam team(PartsFor(plane.size(), std::max(1, threads)));
  SynthesisePlane(plane, width, height, levels, team);
}
