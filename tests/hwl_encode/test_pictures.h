// Pictures for the encoder and tool tests, a PSNR measure, and an
// independent reading of a file's layout (counts, tables, streams).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace test_pictures {

// Light drawn on black: bars with hard and soft edges, a diagonal stroke and
// a glow, like the show's text cards. channels 1 or 3.
inline std::vector<std::uint8_t> Card(int width, int height, int channels) {
  std::vector<std::uint8_t> pixels(std::size_t(width) * height * channels, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      double v = 0.0;
      if (y > height / 5 && y < height / 5 + 3 + height / 16 && x > width / 7 && x < width - width / 5) v = 255.0;
      const double stroke = std::fabs(double(x) - 1.7 * double(y) - width * 0.1);
      if (stroke < 2.5) v = std::max(v, 255.0 * (1.0 - stroke / 2.5));
      const double dx = x - width * 0.7, dy = y - height * 0.65;
      v = std::max(v, 200.0 * std::exp(-(dx * dx + dy * dy) / (width * height * 0.01 + 1.0)));
      for (int c = 0; c < channels; ++c)
        pixels[(std::size_t(y) * width + x) * channels + c] = std::uint8_t(std::lround(v * (1.0 - 0.3 * c)));
    }
  return pixels;
}

// A smooth colour field, like a photograph.
inline std::vector<std::uint8_t> Field(int width, int height, int channels) {
  std::vector<std::uint8_t> pixels(std::size_t(width) * height * channels);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) {
        const double v = 128 + 90 * std::sin(x * 0.05 + c) + 30 * std::cos(y * 0.09 - c * 0.5) + (x * y % 7) - 3;
        pixels[(std::size_t(y) * width + x) * channels + c] = std::uint8_t(std::clamp(v, 0.0, 255.0));
      }
  return pixels;
}

// PSNR of decoded pixels (grey bytes, or 32-bit words blue, green, red, 0)
// against the interleaved source.
inline double Psnr(std::span<const std::uint8_t> source, std::span<const std::uint8_t> decoded, int channels) {
  double sum = 0.0;
  const std::size_t count = source.size() / channels;
  for (std::size_t i = 0; i < count; ++i)
    for (int c = 0; c < channels; ++c) {
      const int got = channels == 1 ? decoded[i] : decoded[i * 4 + 2 - c];
      const double e = double(got) - source[i * channels + c];
      sum += e * e;
    }
  if (sum == 0.0) return 200.0;
  return 10.0 * std::log10(255.0 * 255.0 * double(source.size()) / sum);
}

inline int MaxError(std::span<const std::uint8_t> source, std::span<const std::uint8_t> decoded, int channels) {
  int worst = 0;
  const std::size_t count = source.size() / channels;
  for (std::size_t i = 0; i < count; ++i)
    for (int c = 0; c < channels; ++c) {
      const int got = channels == 1 ? decoded[i] : decoded[i * 4 + 2 - c];
      worst = std::max(worst, std::abs(got - int(source[i * channels + c])));
    }
  return worst;
}

// One plane of a file as its streams describe it.
struct ParsedPlane {
  std::vector<double> scales;
  std::vector<int> coefficients;  // band layout; filled only as far as the streams go
  std::uint32_t symbolsUsed = 0, valuesUsed = 0;
  std::uint32_t symbolCount = 0, valueCount = 0;
  std::size_t positions = 0;  // coefficients the symbols describe
};

struct ParsedFile {
  int width = 0, height = 0, bitsPerPixel = 0, levels = 0, valueBits = 0;
  std::size_t expectedLength = 0;  // header + tables + streams as the counts announce
  // planes is empty when the file is shorter than that
  std::vector<ParsedPlane> planes;
};

inline std::uint32_t Le(const std::uint8_t* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// Reads the layout straight from the bytes: little-endian header fields at
// their offsets, all tables before the streams, 2-bit symbols low bits
// first, values least significant bit first. Streams are read only when the
// file is as long as its counts announce.
inline ParsedFile Parse(const std::vector<std::uint8_t>& file) {
  ParsedFile f;
  if (file.size() < 34) return f;
  f.width = int(Le(&file[3], 2));
  f.height = int(Le(&file[5], 2));
  f.bitsPerPixel = file[7];
  f.levels = file[8];
  f.valueBits = file[33];
  const int planes = f.bitsPerPixel == 24 ? 3 : 1;
  std::size_t at = 34;
  f.expectedLength = at + std::size_t(planes) * (f.levels + 2) * 8;
  for (int p = 0; p < planes; ++p)
    f.expectedLength += (Le(&file[9 + 4 * p], 4) + 3) / 4 + (std::size_t(Le(&file[21 + 4 * p], 4)) * f.valueBits + 7) / 8;
  if (file.size() < f.expectedLength) return f;
  f.planes.resize(planes);
  for (ParsedPlane& plane : f.planes) {
    plane.scales.resize(f.levels + 2);
    for (double& s : plane.scales) {
      std::memcpy(&s, &file[at], 8);
      at += 8;
    }
  }
  const std::size_t total = std::size_t(f.width) * f.height;
  for (int p = 0; p < planes; ++p) {
    ParsedPlane& plane = f.planes[p];
    plane.symbolCount = Le(&file[9 + 4 * p], 4);
    plane.valueCount = Le(&file[21 + 4 * p], 4);
    const std::size_t symbolBytes = (plane.symbolCount + 3) / 4;
    const std::size_t valueBytes = (std::size_t(plane.valueCount) * f.valueBits + 7) / 8;
    const std::uint8_t* symbols = &file[at];
    const std::uint8_t* values = symbols + symbolBytes;
    at += symbolBytes + valueBytes;
    auto nextValue = [&] {
      std::uint32_t v = 0;
      for (int b = 0; b < f.valueBits; ++b) {
        const std::size_t bit = std::size_t(plane.valuesUsed) * f.valueBits + b;
        v |= std::uint32_t((values[bit / 8] >> (bit % 8)) & 1) << b;
      }
      ++plane.valuesUsed;
      return int(v);
    };
    plane.coefficients.assign(total, 0);
    for (; plane.symbolsUsed < plane.symbolCount; ++plane.symbolsUsed) {
      const int symbol = (symbols[plane.symbolsUsed / 4] >> (2 * (plane.symbolsUsed % 4))) & 3;
      if (symbol == 1) {
        plane.positions += std::size_t(nextValue()) + 1;
        continue;
      }
      const int v = symbol == 0 ? 0 : symbol == 2 ? nextValue() : -nextValue();
      if (plane.positions < total) plane.coefficients[plane.positions] = v;
      ++plane.positions;
    }
  }
  return f;
}

// Band of a coefficient position: detail level i, or levels + 1 for the approximation.
inline int BandOf(int x, int y, int width, int height, int levels) {
  for (int i = 0; i <= levels; ++i)
    if (x >= (width >> (i + 1)) || y >= (height >> (i + 1))) return i;
  return levels + 1;
}

}  // namespace test_pictures
