// HWL encoder: forward orthonormal Haar analysis, per-band quantisation to
// valueBits-wide magnitudes, a pass that checks the quantised details
// against the reader's synthesis (its ramp smoothing of zero details smears
// sharp edges unless a detail is kept non-zero), and the Zero / ZeroRun /
// Positive / Negative symbol coding of the coefficient planes in raster order.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "hwl.h"
#include "hwl_arithmetic.h"
#include "hwl_decode.h"
#include "hwl_precision.h"

namespace {

// Coefficients this small are left-overs of floating-point cancellation, not
// image content (the smallest real detail of 8-bit samples is far larger).
constexpr double CancellationNoise = 1e-9;

HwlStatus InvalidInput(const std::string& reason) { return {HwlFormatError, "encoder input: " + reason}; }

}  // namespace

HwlStatus CheckHwlEncodeInput(int width, int height, int channels, const HwlEncodeOptions& options) {
  if (channels != 1 && channels != 3)
    return InvalidInput("channels is " + std::to_string(channels) + ", must be 1 (grey) or 3 (R, G, B)");
  if (options.levels < 0 || options.levels > HwlMaxLevels)
    return InvalidInput("levels is " + std::to_string(options.levels) + ", must be 0 to " +
                        std::to_string(HwlMaxLevels));
  if (options.valueBits < 1 || options.valueBits > HwlMaxValueBits)
    return InvalidInput("valueBits is " + std::to_string(options.valueBits) + ", must be 1 to " +
                        std::to_string(HwlMaxValueBits));
  const long unit = 1L << (options.levels + 1);
  for (auto [name, size] : {std::pair{"width", width}, std::pair{"height", height}}) {
    if (size <= 0 || size > HwlMaxSide)
      return InvalidInput(std::string(name) + " is " + std::to_string(size) + ", must be 1 to " +
                          std::to_string(HwlMaxSide));
    if (size % unit != 0)
      return InvalidInput(std::string(name) + " " + std::to_string(size) + " is not a multiple of " +
                          std::to_string(unit) + " (2^(levels + 1) with levels " +
                          std::to_string(options.levels) + ")");
  }
  return {};
}

namespace {

HwlStatus ValidateInput(std::span<const std::uint8_t> pixels, int width, int height, int channels,
                        const HwlEncodeOptions& options) {
  if (HwlStatus status = CheckHwlEncodeInput(width, height, channels, options); !status) return status;
  const std::uint64_t expected = std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(channels);
  if (pixels.size() != expected)
    return InvalidInput("pixel buffer holds " + std::to_string(pixels.size()) + " bytes, " +
                        std::to_string(width) + " x " + std::to_string(height) + " x " +
                        std::to_string(channels) + " = " + std::to_string(expected) + " expected");
  return {};
}

// Columns of the vertical analysis pass done together: the scratch holds
// their differences only.
constexpr std::size_t AnalysisStrip = 64;

// One analysis step on the upper-left w x h block of a plane with the given
// stride: horizontal pairs to (a + b) k | (a - b) k, then vertical pairs of
// the result to sums (upper half) and differences (lower half).
void AnalyseBlock(std::vector<double>& plane, std::vector<double>& line, std::size_t stride, std::size_t w,
                  std::size_t h) {
  const std::size_t halfW = w / 2, halfH = h / 2;
  for (std::size_t r = 0; r < h; ++r) {
    double* row = &plane[r * stride];
    for (std::size_t j = 0; j < halfW; ++j) {
      line[j] = (row[2 * j] + row[2 * j + 1]) * HwlHaarK;
      line[halfW + j] = (row[2 * j] - row[2 * j + 1]) * HwlHaarK;
    }
    std::copy_n(line.begin(), w, row);
  }
  // Vertical pass in strips of columns: source rows 2j and 2j + 1 make sum
  // row j, written in place (rows up to 2j have been read by then), and
  // difference row j, kept in a scratch and copied to the lower half last.
  std::vector<double> diffs(halfH * std::min(w, AnalysisStrip));
  for (std::size_t c0 = 0; c0 < w; c0 += AnalysisStrip) {
    const std::size_t cw = std::min(AnalysisStrip, w - c0);
    for (std::size_t j = 0; j < halfH; ++j) {
      const double* a = &plane[2 * j * stride + c0];
      const double* b = &plane[(2 * j + 1) * stride + c0];
      double* sum = &plane[j * stride + c0];
      double* diff = &diffs[j * cw];
      for (std::size_t c = 0; c < cw; ++c) {
        const double x = a[c], y = b[c];
        diff[c] = (x - y) * HwlHaarK;
        sum[c] = (x + y) * HwlHaarK;
      }
    }
    for (std::size_t j = 0; j < halfH; ++j) std::copy_n(&diffs[j * cw], cw, &plane[(halfH + j) * stride + c0]);
  }
}

// Band index of a coefficient position: detail level i (0 finest) or
// levels + 1 for the approximation band.
int BandOf(std::size_t x, std::size_t y, std::size_t width, std::size_t height, int levels) {
  for (int i = 0; i <= levels; ++i)
    if (x >= (width >> (i + 1)) || y >= (height >> (i + 1))) return i;
  return levels + 1;
}

// Fields of `bits` bits packed least significant bit first, as the file
// holds them: field n is stream bits n x bits ... n x bits + bits - 1, and
// stream bit m is bit m mod 8 of byte m div 8.
struct PackedStream {
  int bits = 0;
  std::uint64_t count = 0;
  std::vector<std::uint8_t> bytes;
};

void Put(PackedStream& stream, unsigned field) {
  const std::uint64_t bit = stream.count++ * unsigned(stream.bits);
  const std::size_t end = std::size_t((bit + unsigned(stream.bits) + 7) / 8);
  if (stream.bytes.size() < end) stream.bytes.resize(end, 0);
  const unsigned spread = field << (bit % 8);  // at most 15 bits: two bytes
  stream.bytes[bit / 8] |= std::uint8_t(spread);
  if (spread > 0xFF) stream.bytes[bit / 8 + 1] |= std::uint8_t(spread >> 8);
}

constexpr int SymbolBits = 2;

// One plane's two streams, packed as they are made.
struct PlaneCode {
  PackedStream symbols;
  PackedStream values;
};

// Zero runs: a ZeroRun costs 2 + valueBits bits for up to 2^valueBits
// zeros, a Zero 2 bits for one; take whichever is shorter.
void EmitZeros(PlaneCode& code, std::size_t count, int valueBits) {
  const std::size_t maxRun = std::size_t(1) << valueBits;
  const std::size_t runWorthIt = std::size_t(valueBits) / 2 + 2;  // 2n > 2 + valueBits
  while (count >= runWorthIt) {
    const std::size_t run = std::min(count, maxRun);
    Put(code.symbols, unsigned(HwlSymbol::ZeroRun));
    Put(code.values, unsigned(run - 1));
    count -= run;
  }
  for (; count > 0; --count) Put(code.symbols, unsigned(HwlSymbol::Zero));
}

// ---- The decoder's synthesis step, simulated so that quantisation can see
// what the reader will rebuild. Where a detail is exactly zero the reader
// may pull the pair's samples towards their neighbours (a ramp instead of a
// step); at a sharp edge that smears light into the black around it. The
// pairs are the decoder's own (HwlSynthesisePair), with its arithmetic.

// Pair j of a line with its approximation values at s and details at d,
// step elements apart.
struct PairSamples {
  double even = 0, odd = 0;
};
PairSamples Pair(const double* s, const double* d, std::size_t step, std::size_t j, std::size_t p) {
  PairSamples samples;
  HwlSynthesisePair(s, std::ptrdiff_t(step), d, std::ptrdiff_t(step), int(j), int(p), samples.even, samples.odd);
  return samples;
}

// A w x h block (stride w) in band layout: approximation upper left, details around it.
struct StepBlock {
  std::vector<double> x;
  std::size_t w = 0, h = 0;
};

// The block an analysis step started from, which refinement aims at: the
// source plane itself for step 0, a copy for coarser steps.
struct Target {
  const double* values = nullptr;        // w x h, row-major
  const std::uint8_t* pixels = nullptr;  // or the source plane's samples, `stride` bytes apart
  std::size_t stride = 1;
  double operator[](std::size_t i) const { return values != nullptr ? values[i] : double(pixels[i * stride]); }
};

// Sample r of column c after the vertical pass.
double VerticalValue(const StepBlock& b, std::size_t r, std::size_t c) {
  const std::size_t p = b.h / 2, j = r / 2;
  const double* s = &b.x[j * b.w + c];
  const auto [even, odd] = Pair(s, s + p * b.w, b.w, j, p);
  return r % 2 == 1 ? odd : even;
}

// A row after the horizontal pass, from the row's vertical-pass samples.
void HorizontalRow(const std::vector<double>& row, double* out) {
  const std::size_t p = row.size() / 2;
  for (std::size_t j = 0; j < p; ++j) {
    const auto [even, odd] = Pair(&row[j], &row[p + j], 1, j, p);
    out[2 * j] = even;
    out[2 * j + 1] = odd;
  }
}

// The whole step, row by row: vertical pass, then horizontal pass.
std::vector<double> SynthesiseStep(const StepBlock& b) {
  std::vector<double> v(b.w), out(b.w * b.h);
  for (std::size_t r = 0; r < b.h; ++r) {
    for (std::size_t c = 0; c < b.w; ++c) v[c] = VerticalValue(b, r, c);
    HorizontalRow(v, &out[r * b.w]);
  }
  return out;
}

// A pair without smoothing: the plain sum or difference.
double PlainPair(double s, double d, bool odd) {
  double even = 0, oddSample = 0;
  HwlPlainPair(s, d, even, oddSample);
  return odd ? oddSample : even;
}

// Outputs of the step where the reader's smoothing lands further from the
// target than plain synthesis (every pair the plain sum and difference)
// would, by more than the threshold; `any` tells whether there is one.
std::vector<std::uint8_t> Harmed(const StepBlock& b, const Target& target, double threshold, bool& any) {
  std::vector<std::uint8_t> harmed(b.w * b.h);
  std::vector<double> v(b.w);
  const std::size_t pw = b.w / 2, ph = b.h / 2;
  any = false;
  for (std::size_t r = 0; r < b.h; ++r) {
    for (std::size_t c = 0; c < b.w; ++c) v[c] = VerticalValue(b, r, c);
    // Column c of the plain vertical pass.
    const auto plain = [&](std::size_t c) {
      return PlainPair(b.x[r / 2 * b.w + c], b.x[(ph + r / 2) * b.w + c], r % 2 == 1);
    };
    for (std::size_t j = 0; j < pw; ++j) {
      const auto [even, odd] = Pair(&v[j], &v[pw + j], 1, j, pw);
      for (const std::size_t q : {2 * j, 2 * j + 1}) {
        const std::size_t i = r * b.w + q;
        const double current = q == 2 * j ? even : odd;
        const double flat = PlainPair(plain(j), plain(pw + j), q % 2 == 1);
        harmed[i] = std::fabs(current - target[i]) > std::fabs(flat - target[i]) + threshold;
        any = any || harmed[i];
      }
    }
  }
  return harmed;
}

// Output rows [r0, r1] and columns [c0, c1] of a step (inclusive).
struct Window {
  std::size_t r0, r1, c0, c1;
};

// Squared error of the step's output against the target inside a window,
// computing only the vertical-pass samples that window depends on.
double WindowError(const StepBlock& b, const Target& target, const Window& win) {
  const std::size_t p = b.w / 2;
  const std::size_t ja = win.c0 / 2, jb = win.c1 / 2;
  const std::size_t sLo = ja >= 2 ? ja - 2 : 0, sHi = std::min(jb + 2, p - 1);
  const std::size_t dLo = ja >= 1 ? ja - 1 : 0, dHi = std::min(jb + 1, p - 1);
  std::array<double, 16> sv{}, dv{};  // jb - ja <= 4: at most 9 and 7 entries
  double error = 0.0;
  for (std::size_t r = win.r0; r <= win.r1; ++r) {
    for (std::size_t q = sLo; q <= sHi; ++q) sv[q - sLo] = VerticalValue(b, r, q);
    for (std::size_t q = dLo; q <= dHi; ++q) dv[q - dLo] = VerticalValue(b, r, p + q);
    for (std::size_t j = win.c0 / 2; j <= win.c1 / 2; ++j) {
      const auto [even, odd] = Pair(&sv[j - sLo], &dv[j - dLo], 1, j, p);
      for (const std::size_t c : {2 * j, 2 * j + 1}) {
        if (c < win.c0 || c > win.c1) continue;
        const double e = (c == 2 * j ? even : odd) - target[r * b.w + c];
        error += e * e;
      }
    }
  }
  return error;
}

// The outputs a detail at (x, y) of the block can change: its own pairs and
// the neighbours whose smoothing tests read it, in both passes.
Window AffectedWindow(const StepBlock& b, std::size_t x, std::size_t y) {
  const std::size_t ph = b.h / 2, pw = b.w / 2;
  // Vertical pass: a detail reaches pairs j - 1 ... j + 1, an approximation j - 2 ... j + 2.
  const std::size_t jv = y >= ph ? y - ph : y, reachV = y >= ph ? 1 : 2;
  const std::size_t jh = x >= pw ? x - pw : x, reachH = x >= pw ? 1 : 2;
  auto span = [](std::size_t j, std::size_t reach, std::size_t p) {
    const std::size_t lo = j >= reach ? j - reach : 0, hi = std::min(j + reach, p - 1);
    return std::pair{2 * lo, 2 * hi + 1};
  };
  const auto [r0, r1] = span(jv, reachV, ph);
  const auto [c0, c1] = span(jh, reachH, pw);
  return {r0, r1, c0, c1};
}

struct BandPlane {
  std::size_t width = 0, height = 0;
  int levels = 0;
  std::vector<std::int16_t> q;  // quantised coefficients, band layout; |q| < 2^valueBits
  std::vector<double> factors;  // dequantisation factor per band, as the reader forms it
};

double Dequantised(const BandPlane& plane, std::size_t x, std::size_t y) {
  return double(plane.q[y * plane.width + x]) * plane.factors[BandOf(x, y, plane.width, plane.height, plane.levels)];
}

// Harm from smoothing below this (in grey levels of the final pixels) is left alone.
constexpr double RefineThresholdGrey = 1.0;
// Squared error (in grey levels squared, summed over pixels) that each coded
// bit of a value must remove to be worth it. The transform is orthonormal, so a
// block's squared error equals that of the pixels it becomes.
constexpr double RefineGainPerBit = 1.0;

// Passes over a step: a change can expose or settle its neighbours.
constexpr int RefinePasses = 2;

// Coarse to fine, rebuilds each step as the reader will and, around every
// output where the reader's smoothing lands further from the original block
// than plain synthesis would by more than the threshold, tries each detail
// one step up and down. A zero becomes +-1 (smoothing needs an exact zero);
// a non-zero value moves too, since quantisation noise between equal
// neighbours can make two opposite details cancel into a zero. A change is
// kept when it lowers squared error plus RefineGainPerBit per coded bit.
// Magnitudes at the band's top stay, so the band's scale stays exact.
// coarse[s] is the block that analysis step s >= 1 started from; step 0
// aims at the source plane, `source` (samples sourceStride bytes apart).
// Each step's target is released once the step is done.
void RefineAgainstReader(BandPlane& plane, std::vector<std::vector<double>> coarse, const std::uint8_t* source,
                         std::size_t sourceStride, int valueBits) {
  const int top = (1 << valueBits) - 1;
  const double valueCost = RefineGainPerBit * double(valueBits + 2);  // one symbol and one value
  auto cost = [&](double error, int q) { return error + (q != 0 ? valueCost : 0.0); };
  const std::size_t width = plane.width, height = plane.height;
  const int levels = plane.levels;
  std::vector<double> rebuilt;  // output of the previous (coarser) step
  for (int step = levels; step >= 0; --step) {
    StepBlock b;
    b.w = width >> step;
    b.h = height >> step;
    b.x.resize(b.w * b.h);
    for (std::size_t y = 0; y < b.h; ++y)
      for (std::size_t x = 0; x < b.w; ++x) {
        const bool approx = x < b.w / 2 && y < b.h / 2;
        b.x[y * b.w + x] = approx && step < levels ? rebuilt[y * (b.w / 2) + x] : Dequantised(plane, x, y);
      }
    rebuilt = std::vector<double>();
    const Target target = step == 0 ? Target{nullptr, source, sourceStride} : Target{coarse[step].data()};
    const double factor = plane.factors[step];
    const double threshold = RefineThresholdGrey * double(std::size_t(1) << step);  // samples are pixel x 2^step
    for (int pass = 0; pass < RefinePasses && factor != 0.0; ++pass) {
      bool any = false;
      const std::vector<std::uint8_t> harmed = Harmed(b, target, threshold, any);
      if (!any) break;
      bool changed = false;
      for (std::size_t y = 0; y < b.h; ++y)
        for (std::size_t x = 0; x < b.w; ++x) {
          std::int16_t& q = plane.q[y * width + x];
          if ((x < b.w / 2 && y < b.h / 2) || q == top || q == -top) continue;
          const Window win = AffectedWindow(b, x, y);
          bool off = false;
          for (std::size_t r = win.r0; r <= win.r1 && !off; ++r)
            for (std::size_t c = win.c0; c <= win.c1 && !off; ++c)
              off = harmed[r * b.w + c] != 0;
          if (!off) continue;
          double& sample = b.x[y * b.w + x];
          const std::int16_t original = q;
          double bestCost = cost(WindowError(b, target, win), q);
          for (const int candidate : {original + 1, original - 1}) {
            sample = double(candidate) * factor;
            const double c = cost(WindowError(b, target, win), candidate);
            if (c < bestCost) {
              q = std::int16_t(candidate);
              bestCost = c;
            }
          }
          sample = double(q) * factor;
          changed = changed || q != original;
        }
      if (!changed) break;
    }
    if (step > 0) rebuilt = SynthesiseStep(b);
    coarse[step] = std::vector<double>();  // (= {} would keep the capacity)
  }
}

// Transform and quantise one channel of interleaved pixels; scales receives
// levels + 2 entries.
BandPlane QuantisePlane(std::span<const std::uint8_t> pixels, int channels, int channel, std::size_t width,
                        std::size_t height, int levels, int valueBits, std::vector<double>& scales) {
  std::vector<double> plane(width * height);
  for (std::size_t i = 0; i < plane.size(); ++i) plane[i] = pixels[i * channels + channel];
  std::vector<std::vector<double>> coarse(levels + 1);  // the blocks steps 1 ... levels start from
  {
    std::vector<double> line(width);
    for (int step = 0; step <= levels; ++step) {
      const std::size_t w = width >> step, h = height >> step;
      if (step > 0) {
        coarse[step].resize(w * h);
        for (std::size_t y = 0; y < h; ++y) std::copy_n(&plane[y * width], w, &coarse[step][y * w]);
      }
      AnalyseBlock(plane, line, width, w, h);
    }
  }

  const int bandCount = levels + 2;
  std::vector<double> maxMagnitude(bandCount, 0.0);
  for (std::size_t y = 0; y < height; ++y)
    for (std::size_t x = 0; x < width; ++x) {
      double& c = plane[y * width + x];
      if (std::fabs(c) < CancellationNoise) c = 0.0;
      double& m = maxMagnitude[BandOf(x, y, width, height, levels)];
      m = std::max(m, std::fabs(c));
    }
  const double top = double((1 << valueBits) - 1);
  BandPlane bands{width, height, levels, std::vector<std::int16_t>(width * height), std::vector<double>(bandCount, 0.0)};
  scales.assign(bandCount, 0.0);
  for (int b = 0; b < bandCount; ++b)
    if (maxMagnitude[b] > 0.0) {
      scales[b] = top / maxMagnitude[b];
      bands.factors[b] = HwlBandFactor(scales[b]);  // the reader's reciprocal
    }
  for (std::size_t y = 0; y < height; ++y)
    for (std::size_t x = 0; x < width; ++x) {
      const double scaled = plane[y * width + x] * scales[BandOf(x, y, width, height, levels)];
      bands.q[y * width + x] = std::int16_t(std::clamp(std::nearbyint(scaled), -top, top));
    }
  plane = std::vector<double>();  // the transform is in the integers now: free it for refinement
  RefineAgainstReader(bands, std::move(coarse), pixels.data() + channel, std::size_t(channels), valueBits);
  return bands;
}

// Coefficients in raster order of the whole plane, zeros gathered into runs.
PlaneCode CodePlane(const BandPlane& plane, int valueBits) {
  PlaneCode code;
  code.symbols.bits = SymbolBits;
  code.values.bits = valueBits;
  std::size_t zeros = 0;
  for (const int q : plane.q) {
    if (q == 0) {
      ++zeros;
      continue;
    }
    EmitZeros(code, zeros, valueBits);
    zeros = 0;
    Put(code.symbols, unsigned(q > 0 ? HwlSymbol::Positive : HwlSymbol::Negative));
    Put(code.values, unsigned(q > 0 ? q : -q));
  }
  EmitZeros(code, zeros, valueBits);
  code.symbols.bytes.shrink_to_fit();
  code.values.bytes.shrink_to_fit();
  return code;
}

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(std::uint8_t(value >> (8 * i)));
}

HwlStatus EncodeValidated(std::span<const std::uint8_t> pixels, int width, int height, int channels,
                          const HwlEncodeOptions& options, std::vector<std::uint8_t>& file) {
  const HwlExtendedPrecision precision;
  const std::size_t w = std::size_t(width), h = std::size_t(height);
  const int levels = options.levels, valueBits = options.valueBits;

  // One plane at a time: only its coded streams stay.
  std::array<PlaneCode, 3> codes;
  std::array<std::vector<double>, 3> scales;
  for (int p = 0; p < channels; ++p) {
    codes[p] = CodePlane(QuantisePlane(pixels, channels, p, w, h, levels, valueBits, scales[p]), valueBits);
    // The reader forms the value stream's bit length as an unsigned 32-bit number.
    if (codes[p].values.count * std::uint64_t(valueBits) > std::numeric_limits<std::uint32_t>::max())
      return InvalidInput("plane " + std::to_string(p + 1) + " needs more value bits than a 32-bit count holds");
  }

  std::vector<std::uint8_t> out;  // the caller's file changes only on success
  std::size_t size = HwlHeaderSize;
  for (int p = 0; p < channels; ++p)
    size += scales[p].size() * sizeof(double) + codes[p].symbols.bytes.size() + codes[p].values.bytes.size();
  out.reserve(size);
  for (char c : {'H', 'W', 'L'}) out.push_back(std::uint8_t(c));
  PutLittleEndian(out, w, 2);
  PutLittleEndian(out, h, 2);
  PutLittleEndian(out, channels == 3 ? 24 : 8, 1);
  PutLittleEndian(out, std::uint64_t(levels), 1);
  for (const PlaneCode& code : codes) PutLittleEndian(out, code.symbols.count, 4);
  for (const PlaneCode& code : codes) PutLittleEndian(out, code.values.count, 4);
  PutLittleEndian(out, std::uint64_t(valueBits), 1);
  for (int p = 0; p < channels; ++p)
    for (double s : scales[p]) PutLittleEndian(out, std::bit_cast<std::uint64_t>(s), 8);
  for (int p = 0; p < channels; ++p) {
    out.insert(out.end(), codes[p].symbols.bytes.begin(), codes[p].symbols.bytes.end());
    out.insert(out.end(), codes[p].values.bytes.begin(), codes[p].values.bytes.end());
    codes[p] = {};
  }
  file = std::move(out);
  return {};
}

}  // namespace

HwlStatus EncodeHwlImage(std::span<const std::uint8_t> pixels, int width, int height, int channels,
                         const HwlEncodeOptions& options, std::vector<std::uint8_t>& file) {
  if (HwlStatus status = ValidateInput(pixels, width, height, channels, options); !status) return status;
  try {
    return EncodeValidated(pixels, width, height, channels, options, file);
  } catch (const std::bad_alloc&) {
    // Working memory is at most HwlEncodeBytesPerPixel per pixel and a row.
    return {HwlOutOfMemory, "encoder: out of memory for a " + std::to_string(width) + " x " +
                                std::to_string(height) + " picture"};
  }
}
