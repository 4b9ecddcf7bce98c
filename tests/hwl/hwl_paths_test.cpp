// Every way the decoder can evaluate the pair rule gives the same doubles:
// with and without the x87 (the path of machines that have none), with and
// without the vector rows, compared with the plain reference decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "hwl_decode.h"
#include "hwl_oracle.h"
#include "hwl_precision.h"
#include "hwl_test_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Path {
  const char* name;
  bool x87, cpuExtensions;
};

constexpr Path AllPaths[] = {{"x87 + vector rows", true, true},
                              {"x87 only", true, false},
                              {"software + vector rows", false, true},
                              {"software + double-double pairs", false, false}};

// The paths this build has; the first is the default.
std::vector<Path> Paths() {
  std::vector<Path> paths;
  for (const Path& path : AllPaths)
    if (HWL_X87 || !path.x87) paths.push_back(path);
  return paths;
}

// Selects a path for the life of the object.
struct UsePath {
  explicit UsePath(const Path& path) {
    HwlUseX87 = path.x87;
    HwlUseCpuExtensions = path.cpuExtensions;
  }
  ~UsePath() {
    HwlUseX87 = true;
    HwlUseCpuExtensions = true;
  }
};

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

std::vector<std::vector<double>> SamplePlanes(const Bytes& file) {
  const HwlHeader h = ParseHwlHeader(file);
  HwlBody body;
  EXPECT_TRUE(CheckHwlHeader(h, "f"));
  EXPECT_TRUE(DecodeCoefficientPlanes(file, h, "f", body));
  std::vector<std::vector<double>> planes;
  for (int p = 0; p < body.planeCount; ++p) {
    std::vector<double> plane(std::size_t(h.width) * h.height);
    ExpandSymbols(body.streams[p], h.valueBits, plane.size(), plane);
    DequantiseBands(plane, h.width, h.height, h.levels, body.bandScales[p]);
    SynthesisePlane(plane, h.width, h.height, h.levels, 1);
    planes.push_back(std::move(plane));
  }
  return planes;
}

void ExpectSameOnEveryPath(const Bytes& file, const std::string& what) {
  const auto expected = oracle::SamplePlanes(file);
  Bytes expectedPixels;
  HwlHeader header;
  ASSERT_TRUE(oracle::Decode(file, header, expectedPixels));
  for (const Path& path : Paths()) {
    const UsePath use(path);
    const auto planes = SamplePlanes(file);
    ASSERT_EQ(planes.size(), expected.size());
    for (std::size_t p = 0; p < planes.size(); ++p)
      ASSERT_TRUE(SameBits(planes[p], expected[p])) << what << ", plane " << p << ", " << path.name;
    Bytes pixels;
    ASSERT_TRUE(DecodeHwlImage(file, pixels, header, "f", true, 2)) << what;
    ASSERT_EQ(pixels, expectedPixels) << what << ", " << path.name;
  }
}

// Band scales anywhere in the double range: factors up to 2^960, results
// down to subnormals, and sums of unrelated multiples that fall near the
// rounding ties of the extended evaluation.
void ExtremeScales(testhwl::File& f, std::mt19937& rng) {
  for (testhwl::Plane& plane : f.planes)
    for (double& scale : plane.scales) {
      const int exponent = std::uniform_int_distribution<int>(-960, 1023)(rng);
      scale = std::ldexp(std::uniform_real_distribution<double>(1, 2)(rng), exponent) * (rng() % 8 == 0 ? -1 : 1);
    }
}

TEST(HwlPaths, RandomFiles) {
  std::mt19937 rng(1212);
  for (int i = 0; i < 60; ++i) {
    testhwl::File f = testhwl::RandomFile(rng, 64);
    if (i % 3 == 0) ExtremeScales(f, rng);
    ExpectSameOnEveryPath(testhwl::Write(f), "file " + std::to_string(i));
  }
}

TEST(HwlPaths, AnalysedPictures) {
  const auto picture = testhwl::Picture(192, 192);
  for (const int bits : {2, 8})
    ExpectSameOnEveryPath(testhwl::Write(testhwl::Analyse(picture, 192, 192, 4, bits)),
                          "picture bits " + std::to_string(bits));
}

TEST(HwlPaths, ShowPictures) {
  for (const char* name : {"zem_logo.hwl", "loading.hwl", "text_5.hwl", "text_99.hwl"}) {
    std::ifstream in(std::string(HWL_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(file.empty()) << name;
    ExpectSameOnEveryPath(file, name);
  }
}

TEST(HwlPaths, SynthesisOfArbitraryDoubles) {
  // One step on samples no file makes: any magnitude, subnormals, zeros of
  // both signs, neighbours a few ulps apart, mixed signs under smoothing.
  std::mt19937 rng(44);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 40; ++round) {
    const int w = 4 * pick(2, 20), h = 4 * pick(2, 20);
    std::vector<double> x(std::size_t(w) * h);
    double previous = 1;
    for (double& v : x) {
      switch (pick(0, 5)) {
        case 5:  // the smallest subnormals: products that round to zero
          v = pick(-3, 3) * 0x1p-1074;
          break;
        case 0:
          v = std::ldexp(std::uniform_real_distribution<double>(-1, 1)(rng), pick(-1074, 1020));
          break;
        case 1:
          v = pick(0, 1) ? 0.0 : -0.0;
          break;
        case 2:
          v = std::nextafter(previous, pick(0, 1) ? 1e300 : -1e300);
          break;
        case 3:
          v = -previous * std::ldexp(1.0, -pick(0, 60));
          break;
        default:
          v = previous;
      }
      if (v != 0) previous = v;
    }
    const auto expected = [&] {
      std::vector<double> line, v(x);
      for (int c = 0; c < w; ++c) {
        line.clear();
        for (int r = 0; r < h; ++r) line.push_back(x[std::size_t(r) * w + c]);
        line = oracle::SynthesiseLine(line);
        for (int r = 0; r < h; ++r) v[std::size_t(r) * w + c] = line[r];
      }
      for (int r = 0; r < h; ++r) {
        line.assign(v.begin() + std::size_t(r) * w, v.begin() + std::size_t(r + 1) * w);
        line = oracle::SynthesiseLine(line);
        std::copy(line.begin(), line.end(), v.begin() + std::size_t(r) * w);
      }
      return v;
    }();
    for (const Path& path : Paths()) {
      const UsePath use(path);
      std::vector<double> plane = x;
      SynthesisePlane(plane, w, h, 0, 1);
      ASSERT_TRUE(SameBits(plane, expected)) << "round " << round << ", " << path.name;
    }
  }
}

TEST(HwlPaths, BandFactorsAndEncoderPairs) {
  // The encoder rebuilds the decoder's steps through these.
  std::mt19937 rng(3);
  for (int i = 0; i < 20000; ++i) {
    const double scale = std::ldexp(std::uniform_real_distribution<double>(1, 2)(rng), int(rng() % 1980) - 957);
    const double s = std::ldexp(std::uniform_real_distribution<double>(-1, 1)(rng), int(rng() % 200) - 100);
    const double d = i % 2 ? s * std::ldexp(1.0, -int(rng() % 60)) : -std::nextafter(s, 0);
    std::vector<double> results;
    for (const Path& path : Paths()) {
      const UsePath use(path);
      double even = 0, odd = 0;
      HwlPlainPair(s, d, even, odd);
      results.insert(results.end(), {HwlBandFactor(scale), even, odd});
    }
    for (std::size_t k = 3; k < results.size(); ++k)
      ASSERT_EQ(std::memcmp(&results[k], &results[k % 3], sizeof(double)), 0) << scale << " " << s << " " << d;
  }
  for (const Path& path : Paths()) {
    const UsePath use(path);
    EXPECT_EQ(std::signbit(HwlBandFactor(-INFINITY)), true) << path.name;
    EXPECT_EQ(HwlBandFactor(INFINITY), 0.0) << path.name;
  }
}

}  // namespace
