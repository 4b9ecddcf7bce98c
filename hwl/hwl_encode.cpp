// HWL encoder: forward orthonormal Haar analysis, per-band quantisation to
// valueBits-wide magnitudes, and the Zero / ZeroRun / Positive / Negative
// symbol coding of the coefficient planes in raster order.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "hwl.h"

namespace {

constexpr double HaarK = 0.7071067811865476;  // 1 / sqrt(2), as the decoder uses it
constexpr int MaxEncodeLevels = 16;           // a band-scale table holds at most 18 entries
constexpr int MaxValueBits = 8;               // a value is a byte
constexpr long MaxDimension = 0xFFFF;         // width and height are 16-bit header fields
// Coefficients this small are left-overs of floating-point cancellation, not
// image content (the smallest real detail of 8-bit samples is far larger).
constexpr double CancellationNoise = 1e-9;

enum class Symbol : std::uint8_t { Zero = 0, ZeroRun = 1, Positive = 2, Negative = 3 };

HwlStatus InvalidInput(const std::string& reason) { return {HwlFormatError, "encoder input: " + reason}; }

HwlStatus ValidateInput(std::span<const std::uint8_t> pixels, int width, int height, int channels,
                        const HwlEncodeOptions& options) {
  if (channels != 1 && channels != 3)
    return InvalidInput("channels is " + std::to_string(channels) + ", must be 1 (grey) or 3 (R, G, B)");
  if (options.levels < 0 || options.levels > MaxEncodeLevels)
    return InvalidInput("levels is " + std::to_string(options.levels) + ", must be 0 to 16");
  if (options.valueBits < 1 || options.valueBits > MaxValueBits)
    return InvalidInput("valueBits is " + std::to_string(options.valueBits) + ", must be 1 to 8");
  const long unit = 1L << (options.levels + 1);
  for (auto [name, size] : {std::pair{"width", width}, std::pair{"height", height}}) {
    if (size <= 0 || size > MaxDimension)
      return InvalidInput(std::string(name) + " is " + std::to_string(size) + ", must be 1 to 65535");
    if (size % unit != 0)
      return InvalidInput(std::string(name) + " " + std::to_string(size) + " is not a multiple of " +
                          std::to_string(unit) + " (2^(levels + 1) with levels " +
                          std::to_string(options.levels) + ")");
  }
  const std::uint64_t expected = std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(channels);
  if (pixels.size() != expected)
    return InvalidInput("pixel buffer holds " + std::to_string(pixels.size()) + " bytes, " +
                        std::to_string(width) + " x " + std::to_string(height) + " x " +
                        std::to_string(channels) + " = " + std::to_string(expected) + " expected");
  return {};
}

// One analysis step on the upper-left w x h block of a plane with the given
// stride: horizontal pairs to (a + b) k | (a - b) k, then vertical pairs of
// the result to sums (upper half) and differences (lower half).
void AnalyseBlock(std::vector<double>& plane, std::vector<double>& line, std::size_t stride, std::size_t w,
                  std::size_t h) {
  const std::size_t halfW = w / 2, halfH = h / 2;
  for (std::size_t r = 0; r < h; ++r) {
    double* row = &plane[r * stride];
    for (std::size_t j = 0; j < halfW; ++j) {
      line[j] = (row[2 * j] + row[2 * j + 1]) * HaarK;
      line[halfW + j] = (row[2 * j] - row[2 * j + 1]) * HaarK;
    }
    std::copy_n(line.begin(), w, row);
  }
  // Vertical pass row-wise: one pair of source rows makes one sum row and one
  // difference row, kept in a scratch block of h rows.
  std::vector<double> block(w * h);
  for (std::size_t j = 0; j < halfH; ++j) {
    const double* a = &plane[2 * j * stride];
    const double* b = &plane[(2 * j + 1) * stride];
    double* sum = &block[j * w];
    double* diff = &block[(halfH + j) * w];
    for (std::size_t c = 0; c < w; ++c) {
      sum[c] = (a[c] + b[c]) * HaarK;
      diff[c] = (a[c] - b[c]) * HaarK;
    }
  }
  for (std::size_t r = 0; r < h; ++r) std::copy_n(&block[r * w], w, &plane[r * stride]);
}

// Band index of a coefficient position: detail level i (0 finest) or
// levels + 1 for the approximation band.
int BandOf(std::size_t x, std::size_t y, std::size_t width, std::size_t height, int levels) {
  for (int i = 0; i <= levels; ++i)
    if (x >= (width >> (i + 1)) || y >= (height >> (i + 1))) return i;
  return levels + 1;
}

struct PlaneCode {
  std::vector<std::uint8_t> symbols;  // one symbol per byte
  std::vector<std::uint8_t> values;   // one value per byte
};

// Zero runs: a ZeroRun costs 2 + valueBits bits for up to 2^valueBits
// zeros, a Zero 2 bits for one; take whichever is shorter.
void EmitZeros(PlaneCode& code, std::size_t count, int valueBits) {
  const std::size_t maxRun = std::size_t(1) << valueBits;
  const std::size_t runWorthIt = std::size_t(valueBits) / 2 + 2;  // 2n > 2 + valueBits
  while (count >= runWorthIt) {
    const std::size_t run = std::min(count, maxRun);
    code.symbols.push_back(std::uint8_t(Symbol::ZeroRun));
    code.values.push_back(std::uint8_t(run - 1));
    count -= run;
  }
  code.symbols.insert(code.symbols.end(), count, std::uint8_t(Symbol::Zero));
}

// Transform, quantise and code one plane; scales receives levels + 2 entries.
PlaneCode EncodePlane(std::vector<double> plane, std::size_t width, std::size_t height, int levels,
                      int valueBits, std::vector<double>& scales) {
  std::vector<double> line(width);
  for (int step = 0; step <= levels; ++step) AnalyseBlock(plane, line, width, width >> step, height >> step);

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
  scales.assign(bandCount, 0.0);
  for (int b = 0; b < bandCount; ++b)
    if (maxMagnitude[b] > 0.0) scales[b] = top / maxMagnitude[b];

  PlaneCode code;
  std::size_t zeros = 0;
  for (std::size_t y = 0; y < height; ++y)
    for (std::size_t x = 0; x < width; ++x) {
      const double scaled = plane[y * width + x] * scales[BandOf(x, y, width, height, levels)];
      const double q = std::clamp(std::nearbyint(scaled), -top, top);
      if (q == 0.0) {
        ++zeros;
        continue;
      }
      EmitZeros(code, zeros, valueBits);
      zeros = 0;
      code.symbols.push_back(std::uint8_t(q > 0 ? Symbol::Positive : Symbol::Negative));
      code.values.push_back(std::uint8_t(std::fabs(q)));
    }
  EmitZeros(code, zeros, valueBits);
  return code;
}

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(std::uint8_t(value >> (8 * i)));
}

void PackSymbols(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& symbols) {
  const std::size_t start = out.size();
  out.resize(start + (symbols.size() + 3) / 4, 0);
  for (std::size_t n = 0; n < symbols.size(); ++n) out[start + n / 4] |= std::uint8_t(symbols[n] << (2 * (n % 4)));
}

// Values least significant bit first: stream bit n is bit n mod 8 of byte n div 8.
void PackValues(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& values, int valueBits) {
  const std::size_t start = out.size();
  out.resize(start + (values.size() * valueBits + 7) / 8, 0);
  std::size_t bit = 0;
  for (std::uint8_t v : values) {
    const unsigned spread = unsigned(v) << (bit % 8);  // at most 15 bits: two bytes
    out[start + bit / 8] |= std::uint8_t(spread);
    if (spread > 0xFF) out[start + bit / 8 + 1] |= std::uint8_t(spread >> 8);
    bit += valueBits;
  }
}

}  // namespace

HwlStatus EncodeHwlImage(std::span<const std::uint8_t> pixels, int width, int height, int channels,
                         const HwlEncodeOptions& options, std::vector<std::uint8_t>& file) {
  if (HwlStatus status = ValidateInput(pixels, width, height, channels, options); !status) return status;
  const std::size_t w = std::size_t(width), h = std::size_t(height), count = w * h;
  const int levels = options.levels, valueBits = options.valueBits;

  std::array<PlaneCode, 3> codes;
  std::array<std::vector<double>, 3> scales;
  for (int p = 0; p < channels; ++p) {
    std::vector<double> plane(count);
    for (std::size_t i = 0; i < count; ++i) plane[i] = pixels[i * channels + p];
    codes[p] = EncodePlane(std::move(plane), w, h, levels, valueBits, scales[p]);
    // The reader forms the value stream's bit length as an unsigned 32-bit number.
    if (std::uint64_t(codes[p].values.size()) * std::uint64_t(valueBits) > std::numeric_limits<std::uint32_t>::max())
      return InvalidInput("plane " + std::to_string(p + 1) + " needs more value bits than a 32-bit count holds");
  }

  file.clear();
  for (char c : {'H', 'W', 'L'}) file.push_back(std::uint8_t(c));
  PutLittleEndian(file, w, 2);
  PutLittleEndian(file, h, 2);
  PutLittleEndian(file, channels == 3 ? 24 : 8, 1);
  PutLittleEndian(file, std::uint64_t(levels), 1);
  for (const PlaneCode& code : codes) PutLittleEndian(file, code.symbols.size(), 4);
  for (const PlaneCode& code : codes) PutLittleEndian(file, code.values.size(), 4);
  PutLittleEndian(file, std::uint64_t(valueBits), 1);
  for (int p = 0; p < channels; ++p)
    for (double s : scales[p]) PutLittleEndian(file, std::bit_cast<std::uint64_t>(s), 8);
  for (int p = 0; p < channels; ++p) {
    PackSymbols(file, codes[p].symbols);
    PackValues(file, codes[p].values, valueBits);
  }
  return {};
}
