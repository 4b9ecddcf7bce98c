// Dequantisation and the inverse Haar synthesis, in place on one plane.
#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

#include "hwl_decode.h"

namespace {

// 1/sqrt(2) rounded to a double, then used exactly in extended precision.
constexpr long double K = 0.7071067811865476;
// The smoothing weights, in extended precision.
constexpr long double Heavy = 0.8L;
constexpr long double Light = 0.2L;

// Blocks smaller than this many samples are not worth a second thread.
constexpr long MinSamplesPerThread = 1 << 15;

double Round(long double x) { return static_cast<double>(x); }

// The pair rule for pair j of a line of half length p. s and d point at the
// approximation value S(j) and the detail value D(j); neighbouring pairs are
// `step` elements away. A zero detail inside the line pulls each of the two
// samples a fifth of the way towards the approximation value on its side,
// where the neighbourhood is not flat; tests are exact (-0 counts as zero)
// and made in the order written, so S(j - 2) and S(j + 2) are read only
// inside the line.
inline void SynthesisePair(const double* s, const double* d, std::ptrdiff_t step, int j, int p, double& even,
                           double& odd) {
  const double sj = s[0];
  const double dj = d[0];
  if (dj != 0 || j == 0 || j == p - 1) {
    even = Round((static_cast<long double>(sj) + dj) * K);
    odd = Round((static_cast<long double>(sj) - dj) * K);
    return;
  }
  const double left = s[-step];
  const double right = s[step];
  if (d[-step] == 0 && sj != right && (j == p - 2 || right != s[2 * step]))
    even = Round((sj * Heavy + left * Light) * K);
  else
    even = Round(sj * K);
  if (d[step] == 0 && sj != left && (j == 1 || left != s[-2 * step]))
    odd = Round((sj * Heavy + right * Light) * K);
  else
    odd = Round(sj * K);
}

// Runs work(0 .. parts - 1) on up to `parts` threads, the calling thread
// included. If a thread cannot be started its part runs here.
template <typename Work>
void RunParts(int parts, const Work& work) {
  if (parts <= 1) {
    work(0);
    return;
  }
  std::vector<std::thread> helpers;
  std::vector<int> inline_parts;
  for (int i = 1; i < parts; ++i) {
    try {
      helpers.emplace_back(work, i);
    } catch (const std::exception&) {
      inline_parts.push_back(i);
    }
  }
  work(0);
  for (const int i : inline_parts) work(i);
  for (std::thread& t : helpers) t.join();
}

// Vertical pass of one step over columns [c0, c1) of the w x h block: each
// column's upper half holds approximation values, its lower half details.
// The strip's input rows are copied first, because the output rows overwrite
// them; the rule then runs row by row across the strip.
void VerticalStrip(double* plane, std::size_t stride, int c0, int c1, int h, std::vector<double>& strip) {
  const int cw = c1 - c0;
  const int p = h / 2;
  strip.resize(std::size_t(h) * cw);
  for (int r = 0; r < h; ++r)
    std::copy_n(plane + r * stride + c0, cw, strip.data() + std::size_t(r) * cw);
  for (int j = 0; j < p; ++j) {
    const double* s = strip.data() + std::size_t(j) * cw;
    const double* d = strip.data() + std::size_t(p + j) * cw;
    double* even = plane + std::size_t(2 * j) * stride + c0;
    double* odd = even + stride;
    for (int c = 0; c < cw; ++c) SynthesisePair(s + c, d + c, cw, j, p, even[c], odd[c]);
  }
}

// Horizontal pass over one row of a block of width w.
void HorizontalRow(double* row, int w, std::vector<double>& line) {
  const int p = w / 2;
  line.assign(row, row + w);
  const double* s = line.data();
  const double* d = s + p;
  for (int j = 0; j < p; ++j) SynthesisePair(s + j, d + j, 1, j, p, row[2 * j], row[2 * j + 1]);
}

// One synthesis step: the w x h upper-left block of the plane, in place.
void SynthesiseStep(double* plane, std::size_t stride, int w, int h, int threads) {
  const long samples = long(w) * h;
  const int parts = int(std::clamp<long>(samples / MinSamplesPerThread, 1, threads));
  // Columns are dealt out in whole strips, rows in equal ranges.
  const int strips = (w + HwlStripWidth - 1) / HwlStripWidth;
  RunParts(parts, [&](int part) {
    std::vector<double> strip;
    const int first = strips * part / parts, last = strips * (part + 1) / parts;
    for (int i = first; i < last; ++i)
      VerticalStrip(plane, stride, i * HwlStripWidth, std::min(w, (i + 1) * HwlStripWidth), h, strip);
  });
  RunParts(parts, [&](int part) {
    std::vector<double> line;
    const int first = h * part / parts, last = h * (part + 1) / parts;
    for (int r = first; r < last; ++r) HorizontalRow(plane + r * stride, w, line);
  });
}

}  // namespace

void DequantiseBands(std::span<double> plane, int width, int height, int levels,
                     std::span<const double> bandScales) {
  const auto scaleBlock = [&](int x0, int x1, int y0, int y1, double f) {
    for (int y = y0; y < y1; ++y) {
      double* row = plane.data() + std::size_t(y) * width;
      for (int x = x0; x < x1; ++x) row[x] *= f;
    }
  };
  for (int i = 0; i <= levels; ++i) {
    const double f = HwlBandFactor(bandScales[i]);
    const int w = width >> i, h = height >> i;
    scaleBlock(w / 2, w, 0, h / 2, f);  // horizontal detail
    scaleBlock(0, w, h / 2, h, f);      // vertical and diagonal detail
  }
  const double f = HwlBandFactor(bandScales[levels + 1]);
  scaleBlock(0, width >> (levels + 1), 0, height >> (levels + 1), f);
}

void SynthesisePlane(std::span<double> plane, int width, int height, int levels, int threads) {
  for (int n = levels; n >= 0; --n)
    SynthesiseStep(plane.data(), std::size_t(width), width >> n, height >> n, std::max(1, threads));
}
