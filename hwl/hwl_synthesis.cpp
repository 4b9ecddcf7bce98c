// Dequantisation and the inverse Haar synthesis, in place on one plane.
#include <algorithm>
#include <array>
#include <vector>

#include "hwl_decode.h"
#include "hwl_threads.h"
#include "hwl_precision.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define HWL_SIMD 1
#define HWL_SIMD_TARGET __attribute__((target("avx2,fma")))
#define HWL_SIMD_INLINE __attribute__((target("avx2,fma"), always_inline)) inline
#else
#define HWL_SIMD 0
#endif

bool HwlUseCpuExtensions = true;

namespace {

// 1/sqrt(2) rounded to a double, then used exactly in extended precision.
constexpr long double K = 0.7071067811865476;
// The smoothing weights, in extended precision.
constexpr long double Heavy = 0.8L;
constexpr long double Light = 0.2L;

double Round(long double x) { return static_cast<double>(x); }

// The pair rule for pair j of a line of half length p. s and d point at the
// approximation value S(j) and the detail value D(j); neighbouring pairs are
// sStep and dStep elements away. A zero detail inside the line pulls each of
// the two samples a fifth of the way towards the approximation value on its
// side, where the neighbourhood is not flat; tests are exact (-0 counts as
// zero) and made in the order written, so S(j - 2) and S(j + 2) are read only
// inside the line. All inputs are read before the results are stored (a
// result may overwrite a detail that is no longer needed).
inline void SynthesisePair(const double* s, std::ptrdiff_t sStep, const double* d, std::ptrdiff_t dStep, int j,
                           int p, double& even, double& odd) {
  const double sj = s[0];
  const double dj = d[0];
  if (dj != 0 || j == 0 || j == p - 1) {
    even = Round((static_cast<long double>(sj) + dj) * K);
    odd = Round((static_cast<long double>(sj) - dj) * K);
    return;
  }
  const double left = s[-sStep];
  const double right = s[sStep];
  const bool smoothEven = d[-dStep] == 0 && sj != right && (j == p - 2 || right != s[2 * sStep]);
  const bool smoothOdd = d[dStep] == 0 && sj != left && (j == 1 || left != s[-2 * sStep]);
  // Stored straight from the extended result (one rounding to double).
  if (smoothEven)
    even = Round((sj * Heavy + left * Light) * K);
  else
    even = Round(sj * K);
  if (smoothOdd)
    odd = Round((sj * Heavy + right * Light) * K);
  else
    odd = Round(sj * K);
}

// In place, the results of pair j go where S(2j) and S(2j + 1) (or later
// details) were, so the approximation half of a line is copied first. The
// detail half is read in place: detail i sits at line position p + i and is
// overwritten by pair (p + i) / 2, never before its last reader, pair i + 1
// (pair p - 1, which overwrites D(p - 2), takes the plain case and reads only
// D(p - 1)).

#if HWL_SIMD
// Four inner pairs at once (2 <= j <= p - 3, so every neighbour exists and
// the clauses j = 1 and j = p - 2 are false) in double precision, exactly.
// Every extended-precision result is close to the exact value X of its
// formula: the sum or weighted sum and the product with k each round to 64
// bits, so the stored double differs from the double nearest X only when X
// lies within 2^-10 ulp of a midpoint between two doubles. X is formed as an
// unevaluated sum hi + lo (error-free sums and products); a lane whose lo is
// within 2^-8 ulp of half an ulp, whose values are very large or very small,
// or that takes the smoothing rule, is marked and left to SynthesisePair.
constexpr double Tiny = 0x1p-900;  // error-free products stay clear of underflow
constexpr double Huge = 0x1p1000;  // and of overflow
constexpr double Margin = 1 + 0x1p-7;

HWL_SIMD_INLINE __m256d AllOnes() { return _mm256_castsi256_pd(_mm256_set1_epi64x(-1)); }

// Lanes that are zero or of a magnitude in [Tiny, Huge].
HWL_SIMD_INLINE __m256d InRange(__m256d x) {
  const __m256d mag = _mm256_andnot_pd(_mm256_set1_pd(-0.0), x);
  return _mm256_or_pd(_mm256_cmp_pd(x, _mm256_setzero_pd(), _CMP_EQ_OQ),
                      _mm256_and_pd(_mm256_cmp_pd(mag, _mm256_set1_pd(Tiny), _CMP_GE_OQ),
                                    _mm256_cmp_pd(mag, _mm256_set1_pd(Huge), _CMP_LE_OQ)));
}

// (in + lo) x k rounded like the extended evaluation, where in + lo is the
// exact sum (|lo| at most a few ulps of in); lanes it cannot settle are
// added to `bad`.
HWL_SIMD_INLINE __m256d TimesK(__m256d in, __m256d lo, __m256d& bad) {
  const __m256d k = _mm256_set1_pd(0.7071067811865476);
  const __m256d ph = _mm256_mul_pd(in, k);
  const __m256d pl = _mm256_fmsub_pd(in, k, ph);  // exact: in x k = ph + pl
  const __m256d l = _mm256_fmadd_pd(lo, k, pl);
  const __m256d hi = _mm256_add_pd(ph, l);
  const __m256d l2 = _mm256_sub_pd(l, _mm256_sub_pd(hi, ph));  // exact: hi + l2 = ph + l
  const __m256d settled = _mm256_cmp_pd(_mm256_fmadd_pd(l2, _mm256_set1_pd(Margin), hi), hi, _CMP_EQ_OQ);
  bad = _mm256_or_pd(bad, _mm256_andnot_pd(_mm256_and_pd(settled, InRange(in)), AllOnes()));
  // A zero sum keeps its sign (lo is then a zero of either sign).
  return _mm256_blendv_pd(hi, ph, _mm256_cmp_pd(in, _mm256_setzero_pd(), _CMP_EQ_OQ));
}

// The smoothing weights split into two doubles each (exactly: 64 bits).
constexpr double Heavy1 = double(Heavy), Heavy2 = double(Heavy - Heavy1);
constexpr double Light1 = double(Light), Light2 = double(Light - Light1);

// s x 0.8 + n x 0.2 as hi + lo (to about 2^-100 relative) for lanes where s
// and n have the same sign, so that the sum does not cancel and its
// extended evaluation is within 3 x 2^-64 of it; other lanes go to `bad`.
HWL_SIMD_INLINE __m256d Weighted(__m256d s, __m256d n, __m256d& lo, __m256d& bad) {
  const __m256d a1 = _mm256_mul_pd(s, _mm256_set1_pd(Heavy1));
  const __m256d a2 = _mm256_fmsub_pd(s, _mm256_set1_pd(Heavy1), a1);
  const __m256d b1 = _mm256_mul_pd(n, _mm256_set1_pd(Light1));
  const __m256d b2 = _mm256_fmsub_pd(n, _mm256_set1_pd(Light1), b1);
  const __m256d c = _mm256_add_pd(a1, b1);
  const __m256d cb = _mm256_sub_pd(c, a1);
  const __m256d ce = _mm256_add_pd(_mm256_sub_pd(a1, _mm256_sub_pd(c, cb)), _mm256_sub_pd(b1, cb));
  const __m256d small = _mm256_fmadd_pd(n, _mm256_set1_pd(Light2), _mm256_mul_pd(s, _mm256_set1_pd(Heavy2)));
  lo = _mm256_add_pd(_mm256_add_pd(ce, small), _mm256_add_pd(a2, b2));
  // Only sign bits of `bad` count: set where the signs differ. The range
  // test of TimesK on c covers s and n too: with one sign, |c| bounds both
  // terms from above, and from Tiny up the error of a product of a smaller
  // subnormal term is far below the margin.
  bad = _mm256_or_pd(bad, _mm256_xor_pd(s, n));
  return c;
}

// Results of four inner pairs; returns a 4-bit mask of the lanes to redo.
HWL_SIMD_INLINE int InnerQuad(__m256d s, __m256d sl, __m256d sll, __m256d sr, __m256d srr, __m256d dl,
                                     __m256d d, __m256d dr, __m256d& even, __m256d& odd) {
  const __m256d z = _mm256_setzero_pd();
  // Zero details next to zero approximation values (most of a dark
  // picture): no smoothing, and S(j) x k is S(j), zero of its own sign.
  const __m256d magnitudes = _mm256_andnot_pd(_mm256_set1_pd(-0.0),
                                              _mm256_or_pd(_mm256_or_pd(s, d), _mm256_or_pd(sl, sr)));
  const __m256i bits = _mm256_castpd_si256(magnitudes);
  if (_mm256_testz_si256(bits, bits)) {
    even = s;
    odd = s;
    return 0;
  }
  const __m256d flat = _mm256_cmp_pd(d, z, _CMP_EQ_OQ);  // -0 counts as zero
  const __m256d smoothEven = _mm256_and_pd(
      _mm256_and_pd(flat, _mm256_cmp_pd(dl, z, _CMP_EQ_OQ)),
      _mm256_and_pd(_mm256_cmp_pd(s, sr, _CMP_NEQ_UQ), _mm256_cmp_pd(sr, srr, _CMP_NEQ_UQ)));
  const __m256d smoothOdd = _mm256_and_pd(
      _mm256_and_pd(flat, _mm256_cmp_pd(dr, z, _CMP_EQ_OQ)),
      _mm256_and_pd(_mm256_cmp_pd(s, sl, _CMP_NEQ_UQ), _mm256_cmp_pd(sl, sll, _CMP_NEQ_UQ)));
  __m256d bad = z;
  // Error-free sum and difference; an unsmoothed zero detail gives S(j) x k.
  const __m256d a = _mm256_add_pd(s, d);
  const __m256d ab = _mm256_sub_pd(a, s);
  const __m256d ae = _mm256_add_pd(_mm256_sub_pd(s, _mm256_sub_pd(a, ab)), _mm256_sub_pd(d, ab));
  const __m256d b = _mm256_sub_pd(s, d);
  const __m256d bb = _mm256_sub_pd(b, s);
  const __m256d be = _mm256_sub_pd(_mm256_sub_pd(s, _mm256_sub_pd(b, bb)), _mm256_add_pd(d, bb));
  __m256d inEven = _mm256_blendv_pd(a, s, flat), loEven = _mm256_andnot_pd(flat, ae);
  __m256d inOdd = _mm256_blendv_pd(b, s, flat), loOdd = _mm256_andnot_pd(flat, be);
  if (!_mm256_testz_pd(_mm256_or_pd(smoothEven, smoothOdd), AllOnes())) {
    __m256d badEven = z, badOdd = z, lo;
    __m256d w = Weighted(s, sl, lo, badEven);
    inEven = _mm256_blendv_pd(inEven, w, smoothEven);
    loEven = _mm256_blendv_pd(loEven, lo, smoothEven);
    w = Weighted(s, sr, lo, badOdd);
    inOdd = _mm256_blendv_pd(inOdd, w, smoothOdd);
    loOdd = _mm256_blendv_pd(loOdd, lo, smoothOdd);
    bad = _mm256_or_pd(_mm256_and_pd(badEven, smoothEven), _mm256_and_pd(badOdd, smoothOdd));
  }
  even = TimesK(inEven, loEven, bad);
  odd = TimesK(inOdd, loOdd, bad);
  return _mm256_movemask_pd(bad);
}

bool HasSimd() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has && HwlUseCpuExtensions;
}

// Inner rows of the vertical pass, four columns at a time.
HWL_SIMD_TARGET void VerticalRowSimd(const double* s, std::size_t cw, const double* d, std::size_t stride,
                                     double* even, double* odd, int j, int p, int count) {
  for (int c = 0; c < count; c += 4) {
    __m256d e, o;
    const int redo =
        InnerQuad(_mm256_loadu_pd(s + c), _mm256_loadu_pd(s + c - cw), _mm256_loadu_pd(s + c - 2 * cw),
                  _mm256_loadu_pd(s + c + cw), _mm256_loadu_pd(s + c + 2 * cw), _mm256_loadu_pd(d + c - stride),
                  _mm256_loadu_pd(d + c), _mm256_loadu_pd(d + c + stride), e, o);
    _mm256_storeu_pd(even + c, e);
    _mm256_storeu_pd(odd + c, o);
    for (int i = 0; redo && i < 4; ++i)
      if (redo & (1 << i))
        SynthesisePair(s + c + i, std::ptrdiff_t(cw), d + c + i, std::ptrdiff_t(stride), j, p, even[c + i],
                       odd[c + i]);
  }
}

// Inner pairs [j0, j0 + count) of a row (count a multiple of 4) from a copy
// of the whole row: approximation half at line, details at line + p.
HWL_SIMD_TARGET void HorizontalRowSimd(const double* line, double* row, int j0, int p, int count) {
  const double* d = line + p;
  for (int j = j0; j < j0 + count; j += 4) {
    __m256d e, o;
    const int redo = InnerQuad(_mm256_loadu_pd(line + j), _mm256_loadu_pd(line + j - 1),
                               _mm256_loadu_pd(line + j - 2), _mm256_loadu_pd(line + j + 1),
                               _mm256_loadu_pd(line + j + 2), _mm256_loadu_pd(d + j - 1), _mm256_loadu_pd(d + j),
                               _mm256_loadu_pd(d + j + 1), e, o);
    const __m256d lo = _mm256_unpacklo_pd(e, o), hi = _mm256_unpackhi_pd(e, o);
    _mm256_storeu_pd(row + 2 * j, _mm256_permute2f128_pd(lo, hi, 0x20));
    _mm256_storeu_pd(row + 2 * j + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
    for (int i = 0; redo && i < 4; ++i)
      if (redo & (1 << i)) SynthesisePair(line + j + i, 1, d + j + i, 1, j + i, p, row[2 * (j + i)], row[2 * (j + i) + 1]);
  }
}
#else
bool HasSimd() { return false; }
void VerticalRowSimd(const double*, std::size_t, const double*, std::size_t, double*, double*, int, int, int) {}
void HorizontalRowSimd(const double*, double*, int, int, int) {}
#endif

// Vertical pass of one step over columns [c0, c1) of the w x h block: each
// column's upper half holds approximation values, its lower half details.
// The rule runs row by row across the strip. The inner rows never overwrite
// a detail row that their own pair or a later one still reads. A cancelled
// decode stops part-way.
void VerticalStrip(double* plane, std::size_t stride, int c0, int c1, int h, std::vector<double>& strip,
                   const HwlTeam& team) {
  const int cw = c1 - c0;
  const int p = h / 2;
  strip.resize(std::size_t(p) * cw);
  for (int r = 0; r < p; ++r) std::copy_n(plane + r * stride + c0, cw, strip.data() + std::size_t(r) * cw);
  const int simdColumns = HasSimd() ? cw & ~3 : 0;
  for (int j = 0; j < p; ++j) {
    if (j % 1024 == 0 && team.Cancelled()) return;
    const double* s = strip.data() + std::size_t(j) * cw;
    const double* d = plane + std::size_t(p + j) * stride + c0;
    double* even = plane + std::size_t(2 * j) * stride + c0;
    double* odd = even + stride;
    int c = 0;
    if (j >= 2 && j <= p - 3) {
      VerticalRowSimd(s, std::size_t(cw), d, stride, even, odd, j, p, simdColumns);
      c = simdColumns;
    }
    for (; c < cw; ++c) SynthesisePair(s + c, cw, d + c, std::ptrdiff_t(stride), j, p, even[c], odd[c]);
  }
}

// Horizontal pass over one row of a block of width w, from a copy of the row.
void HorizontalRow(double* row, int w, std::vector<double>& line) {
  const int p = w / 2;
  line.assign(row, row + 2 * p);
  const double* s = line.data();
  const double* d = s + p;
  int j = 0;
  const int inner = HasSimd() && p >= 6 ? (p - 4) & ~3 : 0;  // pairs 2 .. 2 + inner - 1 <= p - 3
  for (; j < 2 && j < p; ++j) SynthesisePair(s + j, 1, d + j, 1, j, p, row[2 * j], row[2 * j + 1]);
  if (inner > 0) {
    HorizontalRowSimd(s, row, 2, p, inner);
    j = 2 + inner;
  }
  for (; j < p; ++j) SynthesisePair(s + j, 1, d + j, 1, j, p, row[2 * j], row[2 * j + 1]);
}

// One synthesis step: the w x h upper-left block of the plane, in place.
void SynthesiseStep(double* plane, std::size_t stride, int w, int h, HwlTeam& team, HwlRowSink sink) {
  const int parts = PartsFor(std::size_t(w) * h, team.Size());
  // Columns are dealt out in whole strips, rows in equal ranges.
  const std::size_t strips = (w + HwlStripWidth - 1) / HwlStripWidth;
  team.Run(parts, [&](int part) {
    std::vector<double> strip;
    const PartRange range = PartOf(strips, part, parts);
    for (std::size_t i = range.first; i < range.last; ++i)
      VerticalStrip(plane, stride, int(i) * HwlStripWidth, std::min(w, int(i + 1) * HwlStripWidth), h, strip, team);
  });
  team.Run(parts, [&](int part) {
    std::vector<double> line;
    const PartRange range = PartOf(std::size_t(h), part, parts);
    for (std::size_t r = range.first; r < range.last && !team.Cancelled(); ++r) {
      HorizontalRow(plane + r * stride, w, line);
      if (sink.call) sink.call(sink.context, int(r), plane + r * stride);
    }
  });
}

}  // namespace

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
