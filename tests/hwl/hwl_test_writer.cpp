#include "hwl_test_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace testhwl {

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = std::uint8_t(v >> (8 * i));
}

void PutDouble(std::vector<std::uint8_t>& bytes, std::size_t at, double v) {
  std::memcpy(bytes.data() + at, &v, 8);
}

std::vector<std::uint8_t> PackSymbols(const std::vector<std::uint8_t>& symbols) {
  std::vector<std::uint8_t> out((symbols.size() + 3) / 4);
  for (std::size_t i = 0; i < symbols.size(); ++i) out[i / 4] |= std::uint8_t(symbols[i] << (2 * (i % 4)));
  return out;
}

std::vector<std::uint8_t> PackValues(const std::vector<std::uint8_t>& values, int bits) {
  std::vector<std::uint8_t> out((values.size() * bits + 7) / 8);
  std::size_t bit = 0;
  for (const std::uint8_t v : values)
    for (int i = 0; i < bits; ++i, ++bit)
      if (v >> i & 1) out[bit / 8] |= std::uint8_t(1 << (bit % 8));
  return out;
}

std::vector<std::uint8_t> Write(const File& f) {
  std::vector<std::uint8_t> out(34);
  out[0] = 'H';
  out[1] = 'W';
  out[2] = 'L';
  out[WidthOffset] = std::uint8_t(f.width);
  out[WidthOffset + 1] = std::uint8_t(f.width >> 8);
  out[HeightOffset] = std::uint8_t(f.height);
  out[HeightOffset + 1] = std::uint8_t(f.height >> 8);
  out[BppOffset] = std::uint8_t(f.bitsPerPixel);
  out[LevelsOffset] = std::uint8_t(f.levels);
  out[ValueBitsOffset] = std::uint8_t(f.valueBits);
  for (std::size_t p = 0; p < f.planes.size(); ++p) {
    PutU32(out, SymbolCountOffset + 4 * p, std::uint32_t(f.planes[p].symbols.size()));
    PutU32(out, ValueCountOffset + 4 * p, std::uint32_t(f.planes[p].values.size()));
  }
  for (const Plane& p : f.planes)
    for (const double s : p.scales) {
      out.resize(out.size() + 8);
      PutDouble(out, out.size() - 8, s);
    }
  for (const Plane& p : f.planes) {
    const auto s = PackSymbols(p.symbols);
    const auto v = PackValues(p.values, f.valueBits);
    out.insert(out.end(), s.begin(), s.end());
    out.insert(out.end(), v.begin(), v.end());
  }
  return out;
}

std::vector<std::size_t> RegionEnds(const File& f) {
  std::vector<std::size_t> ends{34};
  std::size_t at = 34;
  for (const Plane& p : f.planes) at += p.scales.size() * 8;
  ends.push_back(at);
  for (const Plane& p : f.planes) {
    at += (p.symbols.size() + 3) / 4;
    ends.push_back(at);
    at += (p.values.size() * f.valueBits + 7) / 8;
    ends.push_back(at);
  }
  return ends;
}

void CodeCoefficients(const std::vector<int>& c, int bits, Plane& plane, std::mt19937* rng) {
  const int maxRun = std::min(256, 1 << bits);
  std::size_t i = 0;
  while (i < c.size()) {
    if (c[i] != 0) {
      plane.symbols.push_back(c[i] > 0 ? 2 : 3);
      plane.values.push_back(std::uint8_t(std::abs(c[i])));
      ++i;
      continue;
    }
    std::size_t run = 1;
    while (i + run < c.size() && c[i + run] == 0 && run < std::size_t(maxRun)) ++run;
    if (rng) run = std::uniform_int_distribution<std::size_t>(1, run)(*rng);
    const int how = rng ? std::uniform_int_distribution<int>(0, 5)(*rng) : 0;
    if (run == 1 && how == 1) {
      plane.symbols.push_back(0);
    } else if (run == 1 && how >= 2) {
      plane.symbols.push_back(how == 2 ? 2 : 3);  // a signed zero value
      plane.values.push_back(0);
    } else {
      plane.symbols.push_back(1);
      plane.values.push_back(std::uint8_t(run - 1));
    }
    i += run;
  }
}

File AllZeroRuns(int width, int height, int bitsPerPixel, int levels) {
  File f;
  f.width = width;
  f.height = height;
  f.bitsPerPixel = bitsPerPixel;
  f.levels = levels;
  f.valueBits = 8;
  Plane plane;
  plane.scales.assign(levels + 2, 1.0);
  for (std::size_t left = std::size_t(width) * height; left > 0;) {
    const std::size_t run = std::min<std::size_t>(left, 256);
    plane.symbols.push_back(1);
    plane.values.push_back(std::uint8_t(run - 1));
    left -= run;
  }
  f.planes.assign(bitsPerPixel == 24 ? 3 : 1, plane);
  return f;
}

namespace {

constexpr double K = 0.7071067811865476;

// Band index of a position: 0 .. levels for details, levels + 1 approximation.
int BandOf(int x, int y, int w, int h, int levels) {
  for (int i = 0; i <= levels; ++i)
    if (x >= (w >> (i + 1)) || y >= (h >> (i + 1))) return i;
  return levels + 1;
}

}  // namespace

File Analyse(const std::vector<std::vector<double>>& planes, int w, int h, int levels, int bits) {
  File f;
  f.width = w;
  f.height = h;
  f.levels = levels;
  f.valueBits = bits;
  f.bitsPerPixel = planes.size() == 1 ? 8 : 24;
  const int top = (1 << bits) - 1;
  for (const auto& input : planes) {
    std::vector<double> a = input, t(a.size());
    for (int step = 0; step <= levels; ++step) {
      const int bw = w >> step, bh = h >> step;
      for (int y = 0; y < bh; ++y)
        for (int x = 0; x < bw / 2; ++x) {
          t[y * w + x] = (a[y * w + 2 * x] + a[y * w + 2 * x + 1]) * K;
          t[y * w + bw / 2 + x] = (a[y * w + 2 * x] - a[y * w + 2 * x + 1]) * K;
        }
      for (int x = 0; x < bw; ++x)
        for (int y = 0; y < bh / 2; ++y) {
          a[y * w + x] = (t[2 * y * w + x] + t[(2 * y + 1) * w + x]) * K;
          a[(bh / 2 + y) * w + x] = (t[2 * y * w + x] - t[(2 * y + 1) * w + x]) * K;
        }
    }
    std::vector<double> largest(levels + 2, 0.0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        double& m = largest[BandOf(x, y, w, h, levels)];
        m = std::max(m, std::fabs(a[y * w + x]));
      }
    Plane plane;
    for (const double m : largest) plane.scales.push_back(m > 0 ? top / m : 0.0);
    std::vector<int> c(a.size());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const double v = std::nearbyint(a[y * w + x] * plane.scales[BandOf(x, y, w, h, levels)]);
        c[y * w + x] = std::clamp(int(v), -top, top);
      }
    CodeCoefficients(c, bits, plane);
    f.planes.push_back(std::move(plane));
  }
  return f;
}

File RandomFile(std::mt19937& rng, int maxSide) {
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
  File f;
  f.levels = pick(0, 5);
  while ((2 << f.levels) > maxSide) --f.levels;
  const int block = 2 << f.levels;
  f.width = block * pick(1, std::max(1, maxSide / block));
  f.height = block * pick(1, std::max(1, maxSide / block));
  f.valueBits = pick(1, 8);
  f.bitsPerPixel = chance(0.5) ? 8 : 24;
  const int top = (1 << f.valueBits) - 1;
  const double zeroShare = std::uniform_real_distribution<double>(0.2, 0.97)(rng);
  for (int p = 0; p < (f.bitsPerPixel == 8 ? 1 : 3); ++p) {
    Plane plane;
    for (int i = 0; i <= f.levels + 1; ++i) {
      // Factors that keep samples roughly within 0..255.
      const double largest = (i == f.levels + 1 ? 255.0 : pick(1, 120)) * std::ldexp(1.0, i + 1);
      double scale = top / largest * std::uniform_real_distribution<double>(0.5, 1.5)(rng);
      if (chance(0.05)) scale = 0;
      if (chance(0.03)) scale = -scale;
      plane.scales.push_back(scale);
    }
    std::vector<int> c(std::size_t(f.width) * f.height);
    int previous = pick(0, top);
    for (int y = 0; y < f.height; ++y)
      for (int x = 0; x < f.width; ++x) {
        int& v = c[std::size_t(y) * f.width + x];
        if (x < (f.width >> (f.levels + 1)) && y < (f.height >> (f.levels + 1))) {
          if (chance(0.4)) previous = chance(0.3) ? top : pick(0, top);
          v = previous;
        } else {
          v = chance(zeroShare) ? 0 : pick(-top, top);
        }
      }
    CodeCoefficients(c, f.valueBits, plane, &rng);
    f.planes.push_back(std::move(plane));
  }
  return f;
}

std::vector<std::vector<double>> Picture(int w, int h) {
  std::vector<std::vector<double>> rgb(3, std::vector<double>(std::size_t(w) * h));
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 6.0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double u = double(x) / w, v = double(y) / h;
      const double hill = 0.55 + 0.08 * std::sin(u * 9.0) + 0.05 * std::sin(u * 23.0 + 1.0);
      double r, g, b;
      if (v < hill) {  // sky with a sun
        r = 90 + 120 * v;
        g = 140 + 90 * v;
        b = 235 - 40 * v;
        const double d = std::hypot(u - 0.72, v - 0.22);
        if (d < 0.08) r = 255, g = 236, b = 150;
        else if (d < 0.16) r += (0.16 - d) * 900, g += (0.16 - d) * 700;
      } else {  // ground: grass with stripes of texture and a path
        const double tex = 20 * std::sin(x * 0.9 + std::sin(y * 0.3) * 3) + noise(rng);
        r = 70 + tex + 40 * v;
        g = 130 + tex;
        b = 50 + tex * 0.5;
        if (std::fabs(u - 0.4 - (v - hill) * 0.6) < 0.03 + (v - hill) * 0.2) r = 190, g = 170, b = 130;
      }
      if (x % (w / 4) < 2 && v > hill) r = g = b = 30;  // fence posts: sharp edges
      rgb[0][std::size_t(y) * w + x] = std::clamp(r, 0.0, 255.0);
      rgb[1][std::size_t(y) * w + x] = std::clamp(g, 0.0, 255.0);
      rgb[2][std::size_t(y) * w + x] = std::clamp(b, 0.0, 255.0);
    }
  return rgb;
}

}  // namespace testhwl
