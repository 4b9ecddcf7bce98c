// Reference decoder: one procedure per stage, written for clarity, not speed.
#include "hwl_oracle.h"

#include <cstring>

namespace oracle {
namespace {

struct Reader {
  std::span<const std::uint8_t> bytes;
  std::size_t at = 0;
  void Read(void* out, std::size_t n) {
    std::memcpy(out, bytes.data() + at, n);
    at += n;
  }
};

struct Header {
  std::uint16_t width, height;
  std::uint8_t bitsPerPixel, levels;
  std::uint32_t symbolCount[3], valueCount[3];
  std::uint8_t valueBits;
};

Header ReadHeader(Reader& r) {
  std::uint8_t raw[34];
  r.Read(raw, 34);
  Header h;
  std::memcpy(&h.width, raw + 3, 2);
  std::memcpy(&h.height, raw + 5, 2);
  h.bitsPerPixel = raw[7];
  h.levels = raw[8];
  std::memcpy(h.symbolCount, raw + 9, 12);
  std::memcpy(h.valueCount, raw + 21, 12);
  h.valueBits = raw[33];
  return h;
}

void ExpandSymbols(std::vector<std::int32_t>& plane, const std::vector<std::uint8_t>& symbols,
                   std::uint32_t symbolCount, const std::vector<std::uint8_t>& values, std::uint32_t valueCount,
                   int width, int height) {
  std::uint32_t position = 0, symbol = 0, value = 0;
  const std::uint32_t end = std::uint32_t(width) * height;
  while (position < end && symbol < symbolCount) {
    const std::uint8_t code = symbols[symbol++];
    if (code == 0) {
      plane[position++] = 0;
      continue;
    }
    if (value >= valueCount) break;
    const std::uint8_t v = values[value++];
    if (code == 1) {
      for (std::uint32_t i = 0; i <= v && position < end; ++i) plane[position++] = 0;
    } else {
      plane[position++] = code == 2 ? v : -v;
    }
  }
}

void DecodePlane(Reader& r, const Header& h, int p, std::vector<std::int32_t>& plane) {
  const std::uint32_t n = h.symbolCount[p], m = h.valueCount[p];
  std::vector<std::uint8_t> packed((n % 4 == 0) ? n / 4 : n / 4 + 1);
  r.Read(packed.data(), packed.size());
  std::vector<std::uint8_t> symbols(n);
  for (std::uint32_t q = 0; q < n / 4; ++q) {
    const std::uint8_t b = packed[q];
    symbols[4 * q] = b & 3;
    symbols[4 * q + 1] = (b >> 2) & 3;
    symbols[4 * q + 2] = (b >> 4) & 3;
    symbols[4 * q + 3] = b >> 6;
  }
  if (n % 4 != 0) {
    const std::uint32_t t = n / 4;
    const std::uint8_t b = packed[t];
    symbols[4 * t] = b & 3;
    if (n % 4 >= 2) symbols[4 * t + 1] = (b >> 2) & 3;
    if (n % 4 == 3) symbols[4 * t + 2] = (b >> 4) & 3;
  }
  const std::uint32_t b = h.valueBits;
  const std::uint32_t bits = m * b;
  std::vector<std::uint8_t> stream(bits % 8 == 0 ? bits / 8 : bits / 8 + 1);
  r.Read(stream.data(), stream.size());
  std::vector<std::uint8_t> values(m);
  std::uint32_t s = 0;
  const std::uint32_t mask = (1u << b) - 1;
  for (std::uint32_t k = 0; k < m; ++k) {
    std::uint32_t v;
    if (s % 8 == 0) {
      v = stream[s / 8] & mask;
    } else {
      v = (std::uint32_t(stream[s / 8]) >> (s % 8)) & mask;
      // The next byte contributes (s + b) mod 8 bits. When that is 0 it adds
      // nothing, and for the last value it would lie past the stream: skip it.
      if ((s + b) / 8 > s / 8 && (s + b) % 8 != 0)
        v |= (stream[s / 8 + 1] & ((1u << ((s + b) % 8)) - 1)) << (8 - s % 8);
    }
    values[k] = std::uint8_t(v);
    s += b;
  }
  ExpandSymbols(plane, symbols, n, values, m, h.width, h.height);
}

void DequantiseBands(const std::vector<std::int32_t>& c, std::vector<double>& sample, int W, int H, int L,
                     const double* scales) {
  auto factor = [](double scale) { return scale != 0 ? double(Real(1.0) / Real(scale)) : 0.0; };
  for (int i = 0; i <= L; ++i) {
    const double f = factor(scales[i]);
    for (int y = 0; y < (H >> i); ++y)
      for (int x = (y < (H >> (i + 1))) ? (W >> (i + 1)) : 0; x < (W >> i); ++x)
        sample[y * W + x] = double(Real(c[y * W + x]) * Real(f));
  }
  const double f = factor(scales[L + 1]);
  for (int y = 0; y < (H >> (L + 1)); ++y)
    for (int x = 0; x < (W >> (L + 1)); ++x) sample[y * W + x] = double(Real(c[y * W + x]) * Real(f));
}

// The pair rule for pair j of a line given by accessors S and D.
template <typename S, typename D>
void PairRule(const S& s, const D& d, int j, int p, double& even, double& odd) {
  if (d(j) != 0 || j == 0 || j == p - 1) {
    even = double((Real(s(j)) + Real(d(j))) * Real(K));
    odd = double((Real(s(j)) - Real(d(j))) * Real(K));
    return;
  }
  bool smoothEven = false;
  if (d(j - 1) == 0)
    if (s(j) != s(j + 1))
      if (j == p - 2 || s(j + 1) != s(j + 2)) smoothEven = true;
  even = smoothEven ? double((Real(s(j)) * Heavy + Real(s(j - 1)) * Light) * Real(K)) : double(Real(s(j)) * Real(K));
  bool smoothOdd = false;
  if (d(j + 1) == 0)
    if (s(j) != s(j - 1))
      if (j == 1 || s(j - 1) != s(j - 2)) smoothOdd = true;
  odd = smoothOdd ? double((Real(s(j)) * Heavy + Real(s(j + 1)) * Light) * Real(K)) : double(Real(s(j)) * Real(K));
}

void SynthesisePlane(std::vector<double>& X, std::vector<double>& Y, int w, int h, int stride, int fullHeight,
                     int n) {
  if (n > 0) SynthesisePlane(X, X, w / 2, h / 2, stride, fullHeight, n - 1);
  std::vector<double> V(std::size_t(stride) * fullHeight), Z(std::size_t(stride) * fullHeight);
  for (int c = 0; c < w; ++c)
    for (int j = 0; j < h / 2; ++j)
      PairRule([&](int r) { return X[r * stride + c]; }, [&](int r) { return X[(h / 2 + r) * stride + c]; }, j,
               h / 2, V[2 * j * stride + c], V[(2 * j + 1) * stride + c]);
  for (int r = 0; r < h; ++r)
    for (int j = 0; j < w / 2; ++j)
      PairRule([&](int q) { return V[r * stride + q]; }, [&](int q) { return V[r * stride + w / 2 + q]; }, j,
               w / 2, Z[r * stride + 2 * j], Z[r * stride + 2 * j + 1]);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) Y[r * stride + c] = Z[r * stride + c];
}

std::uint8_t ToByte(double s) {
  if (s <= 0) return 0;
  if (s >= 255) return 255;
  int r = static_cast<int>(s);
  const double frac = s - r;  // exact below 256
  if (frac > 0.5 || (frac == 0.5 && r % 2 == 1)) ++r;
  return std::uint8_t(r);
}

}  // namespace

std::vector<double> SynthesiseLine(const std::vector<double>& line) {
  const int p = int(line.size() / 2);
  std::vector<double> out(line.size());
  for (int j = 0; j < p; ++j)
    PairRule([&](int i) { return line[i]; }, [&](int i) { return line[p + i]; }, j, p, out[2 * j], out[2 * j + 1]);
  return out;
}

std::vector<std::vector<double>> SamplePlanes(std::span<const std::uint8_t> file) {
  Reader r{file};
  const Header h = ReadHeader(r);
  const int planes = h.bitsPerPixel == 8 ? 1 : h.bitsPerPixel == 24 ? 3 : 0;
  const int W = h.width, H = h.height, L = h.levels;
  double tables[3][18] = {};
  for (int p = 0; p < planes; ++p) r.Read(tables[p], (L + 2) * 8);
  std::vector<std::vector<std::int32_t>> coefficients(planes, std::vector<std::int32_t>(std::size_t(W) * H));
  for (int p = 0; p < planes; ++p) DecodePlane(r, h, p, coefficients[p]);
  std::vector<std::vector<double>> result;
  for (int p = 0; p < planes; ++p) {
    std::vector<double> dequantised(std::size_t(W) * H), synthesised(std::size_t(W) * H);
    DequantiseBands(coefficients[p], dequantised, W, H, L, tables[p]);
    SynthesisePlane(dequantised, synthesised, W, H, W, H, L);
    result.push_back(std::move(synthesised));
  }
  return result;
}

bool Decode(std::span<const std::uint8_t> file, HwlHeader& header, std::vector<std::uint8_t>& pixels) {
  Reader r{file};
  const Header h = ReadHeader(r);
  std::memcpy(header.magic.data(), file.data(), 3);
  header.width = h.width;
  header.height = h.height;
  header.bitsPerPixel = h.bitsPerPixel;
  header.levels = h.levels;
  for (int p = 0; p < 3; ++p) {
    header.symbolCount[p] = h.symbolCount[p];
    header.valueCount[p] = h.valueCount[p];
  }
  header.valueBits = h.valueBits;
  if (h.bitsPerPixel != 8 && h.bitsPerPixel != 24) return false;
  const std::vector<std::vector<double>> planes = SamplePlanes(file);
  const std::size_t n = std::size_t(h.width) * h.height;
  if (h.bitsPerPixel == 8) {
    pixels.resize(n);
    for (std::size_t i = 0; i < n; ++i) pixels[i] = ToByte(planes[0][i]);
  } else {
    pixels.resize(n * 4);
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t word =
          std::uint32_t(ToByte(planes[2][i])) | std::uint32_t(ToByte(planes[1][i])) << 8 |
          std::uint32_t(ToByte(planes[0][i])) << 16;
      pixels[4 * i] = word & 0xFF;
      pixels[4 * i + 1] = (word >> 8) & 0xFF;
      pixels[4 * i + 2] = (word >> 16) & 0xFF;
      pixels[4 * i + 3] = word >> 24;
    }
  }
  return true;
}

}  // namespace oracle
