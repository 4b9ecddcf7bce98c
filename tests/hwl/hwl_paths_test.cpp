// Every way the decoder can evaluate the pair rule gives the same doubles:
// with and without the x87 (the path of machines that have none), with and
// without the vector rows, compared with the plain reference decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "hwl_decode.h"
#include "hwl_oracle.h"
#include "hwl_precision.h"
#include "hwl_test_paths.h"
#include "hwl_test_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

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
  for (const HwlPath& path : TestPaths()) {
    const UsePath use(path);
    const auto planes = SamplePlanes(file);
    ASSERT_EQ(planes.size(), expected.size());
    const auto loaded = LoaderSamplePlanes(file, 2);
    ASSERT_EQ(loaded.size(), expected.size());
    for (std::size_t p = 0; p < planes.size(); ++p) {
      ASSERT_TRUE(SameBits(planes[p], expected[p])) << what << ", plane " << p << ", " << path.name;
      ASSERT_TRUE(SameBits(loaded[p], expected[p])) << what << ", loader's plane " << p << ", " << path.name;
    }
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

// Dark files: nearly every coefficient zero, a few alone and a few in
// patches, so that runs of zero pairs start and end at every column, at the
// ends of lines and next to single values; a third with extreme and
// negative scales (a zero times a negative factor is -0, not +0).
TEST(HwlPaths, SparseFiles) {
  std::mt19937 rng(777);
  for (int i = 0; i < 24; ++i) {
    testhwl::File f;
    f.levels = 1 + int(rng() % 4);
    f.valueBits = 8;
    f.bitsPerPixel = i % 2 == 0 ? 24 : 8;
    f.width = (1 + int(rng() % 8)) << (f.levels + 1);
    f.height = (1 + int(rng() % 4)) << (f.levels + 1);
    for (int p = 0; p < (f.bitsPerPixel == 24 ? 3 : 1); ++p) {
      std::vector<int> c(std::size_t(f.width) * f.height, 0);
      for (int& v : c)
        if (rng() % 64 == 0) v = int(rng() % 511) - 255;
      for (int patch = 0; patch < 3; ++patch) {
        const int x0 = int(rng() % f.width), y0 = int(rng() % f.height);
        for (int y = y0; y < std::min(f.height, y0 + 1 + int(rng() % 5)); ++y)
          for (int x = x0; x < std::min(f.width, x0 + 1 + int(rng() % 24)); ++x)
            c[std::size_t(y) * f.width + x] = int(rng() % 31) - 15;
      }
      testhwl::Plane& plane = f.planes.emplace_back();
      for (int b = 0; b < f.levels + 2; ++b)
        plane.scales.push_back(std::uniform_real_distribution<double>(0.05, 4)(rng));
      testhwl::CodeCoefficients(c, f.valueBits, plane, &rng);
    }
    if (i % 3 == 2) ExtremeScales(f, rng);
    ExpectSameOnEveryPath(testhwl::Write(f), "sparse file " + std::to_string(i));
  }
}

TEST(HwlPaths, AnalysedPictures) {
  const auto picture = testhwl::Picture(192, 192);
  for (const int bits : {2, 8})
    ExpectSameOnEveryPath(testhwl::Write(testhwl::Analyse(picture, 192, 192, 4, bits)),
                          "picture bits " + std::to_string(bits));
}

TEST(HwlPaths, ShowPictures) {
  for (const char* name : {"zem_logo.hwl", "text_5.hwl"}) {
    std::ifstream in(std::string(HWL_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(file.empty()) << name;
    ExpectSameOnEveryPath(file, name);
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
    for (const HwlPath& path : TestPaths()) {
      const UsePath use(path);
      double even = 0, odd = 0;
      HwlPlainPair(s, d, even, odd);
      results.insert(results.end(), {HwlBandFactor(scale), even, odd});
    }
    for (std::size_t k = 3; k < results.size(); ++k)
      ASSERT_EQ(std::memcmp(&results[k], &results[k % 3], sizeof(double)), 0) << scale << " " << s << " " << d;
  }
  for (const HwlPath& path : TestPaths()) {
    const UsePath use(path);
    EXPECT_EQ(std::signbit(HwlBandFactor(-INFINITY)), true) << path.name;
    EXPECT_EQ(HwlBandFactor(INFINITY), 0.0) << path.name;
  }
}

}  // namespace
