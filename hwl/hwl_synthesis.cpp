// Dequantisation and the inverse Haar synthesis, in place on one plane.
#include <algorithm>
#include <array>
#include <vector>

#include "hwl_decode.h"
#include "hwl_threads.h"

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

// Vertical pass of one step over columns [c0, c1) of the w x h block: each
// column's upper half holds approximation values, its lower half details.
// The rule runs row by row across the strip.
void VerticalStrip(double* plane, std::size_t stride, int c0, int c1, int h, std::vector<double>& strip) {
  const int cw = c1 - c0;
  const int p = h / 2;
  strip.resize(std::size_t(p) * cw);
  for (int r = 0; r < p; ++r) std::copy_n(plane + r * stride + c0, cw, strip.data() + std::size_t(r) * cw);
  for (int j = 0; j < p; ++j) {
    const double* s = strip.data() + std::size_t(j) * cw;
    const double* d = plane + std::size_t(p + j) * stride + c0;
    double* even = plane + std::size_t(2 * j) * stride + c0;
    double* odd = even + stride;
    for (int c = 0; c < cw; ++c) SynthesisePair(s + c, cw, d + c, std::ptrdiff_t(stride), j, p, even[c], odd[c]);
  }
}

// Horizontal pass over one row of a block of width w.
void HorizontalRow(double* row, int w, std::vector<double>& line) {
  const int p = w / 2;
  line.assign(row, row + p);
  const double* s = line.data();
  const double* d = row + p;
  for (int j = 0; j < p; ++j) SynthesisePair(s + j, 1, d + j, 1, j, p, row[2 * j], row[2 * j + 1]);
}

// One synthesis step: the w x h upper-left block of the plane, in place.
void SynthesiseStep(double* plane, std::size_t stride, int w, int h, int threads) {
  const int parts = PartsFor(std::size_t(w) * h, threads);
  // Columns are dealt out in whole strips, rows in equal ranges.
  const std::size_t strips = (w + HwlStripWidth - 1) / HwlStripWidth;
  RunParts(parts, [&](int part) {
    std::vector<double> strip;
    const PartRange range = PartOf(strips, part, parts);
    for (std::size_t i = range.first; i < range.last; ++i)
      VerticalStrip(plane, stride, int(i) * HwlStripWidth, std::min(w, int(i + 1) * HwlStripWidth), h, strip);
  });
  RunParts(parts, [&](int part) {
    std::vector<double> line;
    const PartRange range = PartOf(std::size_t(h), part, parts);
    for (std::size_t r = range.first; r < range.last; ++r) HorizontalRow(plane + r * stride, w, line);
  });
}

}  // namespace

void DequantiseBands(std::span<double> plane, int width, int height, int levels,
                     std::span<const double> bandScales, int threads) {
  std::array<double, HwlMaxBands> factor{};
  for (int i = 0; i <= levels + 1; ++i) factor[i] = HwlBandFactor(bandScales[i]);
  const int parts = PartsFor(plane.size(), threads);
  RunParts(parts, [&](int part) {
    const PartRange rows = PartOf(std::size_t(height), part, parts);
    for (int y = int(rows.first); y < int(rows.last); ++y) {
      // From the right: level i covers columns [W >> (i + 1), W >> i) of the
      // rows in its upper quarter, and every column left of W >> i below it.
      double* row = plane.data() + std::size_t(y) * width;
      int end = width;
      for (int i = 0; i <= levels + 1; ++i) {
        const bool whole = i == levels + 1 || y >= (height >> (i + 1));
        const int begin = whole ? 0 : width >> (i + 1);
        const double f = factor[i];
        for (int x = begin; x < end; ++x) row[x] *= f;
        if (whole) break;
        end = begin;
      }
    }
  });
}

void SynthesisePlane(std::span<double> plane, int width, int height, int levels, int threads) {
  for (int n = levels; n >= 0; --n)
    SynthesiseStep(plane.data(), std::size_t(width), width >> n, height >> n, std::max(1, threads));
}
