// The fast decoder against the plain reference, bit for bit.
#include <gtest/gtest.h>

#include <cstring>

#include "hwl_decode.h"
#include "hwl_oracle.h"
#include "hwl_test_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The library's stages on a checked file, plane by plane.
std::vector<std::vector<double>> FastSamplePlanes(const Bytes& file, int threads) {
  HwlHeader h = ParseHwlHeader(file);
  HwlBody body;
  EXPECT_TRUE(CheckHwlHeader(h, "f"));
  const HwlStatus s = DecodeCoefficientPlanes(file, h, "f", body);
  EXPECT_TRUE(s) << s.message;
  std::vector<std::vector<double>> planes;
  for (int p = 0; p < body.planeCount; ++p) {
    std::vector<double> plane(std::size_t(h.width) * h.height);
    ExpandSymbols(body.streams[p], h.valueBits, plane.size(), plane);
    DequantiseBands(plane, h.width, h.height, h.levels, body.bandScales[p]);
    SynthesisePlane(plane, h.width, h.height, h.levels, threads);
    planes.push_back(std::move(plane));
  }
  return planes;
}

void ExpectSameAsOracle(const Bytes& file, const std::string& what) {
  const auto expected = oracle::SamplePlanes(file);
  for (const int threads : {1, 2}) {
    const auto planes = FastSamplePlanes(file, threads);
    ASSERT_EQ(planes.size(), expected.size()) << what;
    for (std::size_t p = 0; p < planes.size(); ++p)
      ASSERT_TRUE(SameBits(planes[p], expected[p])) << what << " plane " << p << " threads " << threads;
  }
  Bytes expectedPixels, pixels;
  HwlHeader expectedHeader, header;
  ASSERT_TRUE(oracle::Decode(file, expectedHeader, expectedPixels));
  for (const int threads : {1, 2}) {
    const HwlStatus s = DecodeHwlImage(file, pixels, header, "f", true, threads);
    ASSERT_TRUE(s) << what << ": " << s.message;
    ASSERT_EQ(pixels, expectedPixels) << what;
  }
}

TEST(HwlOracle, RandomSmallFiles) {
  std::mt19937 rng(20240601);
  for (int i = 0; i < 300; ++i) {
    const testhwl::File f = testhwl::RandomFile(rng, 48);
    ExpectSameAsOracle(testhwl::Write(f), "small file " + std::to_string(i));
  }
}

TEST(HwlOracle, RandomLargeFilesUseThreads) {
  // Blocks from 2^16 samples up are split between threads.
  std::mt19937 rng(99);
  for (int i = 0; i < 4; ++i) {
    const testhwl::File f = testhwl::RandomFile(rng, 384);
    ExpectSameAsOracle(testhwl::Write(f), "large file " + std::to_string(i));
  }
}

TEST(HwlOracle, AnalysedPictures) {
  // Real pictures at few bits leave long stretches of zero details over
  // smooth approximations: the smoothing rule fires everywhere.
  const auto picture = testhwl::Picture(256, 256);
  for (const int bits : {2, 4, 8})
    for (const int levels : {0, 3, 6}) {
      const Bytes colour = testhwl::Write(testhwl::Analyse(picture, 256, 256, levels, bits));
      ExpectSameAsOracle(colour, "picture bits " + std::to_string(bits) + " levels " + std::to_string(levels));
    }
  const Bytes grey = testhwl::Write(testhwl::Analyse({picture[1]}, 256, 256, 4, 3));
  ExpectSameAsOracle(grey, "grey picture");
}

}  // namespace
