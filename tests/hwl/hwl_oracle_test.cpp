// The fast decoder against the plain reference, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

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
    const auto loaded = LoaderSamplePlanes(file, threads);
    ASSERT_EQ(loaded.size(), expected.size()) << what;
    for (std::size_t p = 0; p < planes.size(); ++p) {
      ASSERT_TRUE(SameBits(planes[p], expected[p])) << what << " plane " << p << " threads " << threads;
      ASSERT_TRUE(SameBits(loaded[p], expected[p])) << what << " loader's plane " << p << " threads " << threads;
    }
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

// One synthesis step built from the reference pair rule: columns, then rows.
std::vector<double> ReferenceStep(const std::vector<double>& x, int w, int h) {
  std::vector<double> v(x.size()), line;
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
}

TEST(HwlOracle, SynthesisOfAwkwardSamples) {
  // The fast arithmetic must give the extended-precision results for any
  // doubles, not only for those a file makes: scaled integers with equal
  // neighbours and zero details (smoothing), values of mixed sign, zeros of
  // both signs, near-ties of the rounding, and magnitudes from subnormal to
  // huge that the fast path must hand back. Every path of the decoder.
  std::mt19937 rng(7);
  const auto real = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 70; ++round) {
    const int w = 4 * pick(1, 24), h = 4 * pick(1, 24);
    const int kind = round % 7;
    const double factor = real(0.01, 3) * (pick(0, 9) == 0 ? -1 : 1);
    std::vector<double> x(std::size_t(w) * h);
    double previous = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      double& v = x[i];
      const bool approximation = int(i % w) < w / 2 && int(i / w) < h / 2;
      switch (kind) {
        case 0:  // dequantised integers, many zeros and repeats
          if (pick(0, 2) != 0) previous = pick(0, 1) ? 0.0 : pick(-255, 255) * factor;
          v = previous;
          break;
        case 1:  // one sign, long flat stretches
          if (pick(0, 3) == 0) previous = pick(0, 255) * std::fabs(factor);
          v = pick(0, 4) == 0 ? previous * (1 + 0x1p-52 * pick(-3, 3)) : previous;
          break;
        case 2:  // any magnitude
          v = std::ldexp(real(-1, 1), pick(-1074, 1000));
          break;
        case 3:  // zeros of both signs among small values
          v = pick(0, 3) == 0 ? (pick(0, 1) ? 0.0 : -0.0) : real(-4, 4);
          break;
        case 4:  // smoothing between values of either sign: the weighted sums cancel
          v = approximation || pick(0, 9) == 0 ? pick(-255, 255) * factor : 0.0;
          break;
        case 5:  // neighbours a few ulps apart: exact sums near ties
          previous = pick(0, 7) == 0 ? real(1, 2) * std::ldexp(1.0, pick(-8, 8)) : previous;
          v = std::nextafter(previous, pick(0, 1) ? 1e300 : -1e300) * (pick(0, 5) == 0 ? 0 : 1);
          break;
        default:  // the smallest subnormals: weighted terms that round to zero
          v = pick(0, 2) == 0 ? pick(-3, 3) * 0x1p-1074 : 0.0;
          break;
      }
    }
    const std::vector<double> expected = ReferenceStep(x, w, h);
    for (const HwlPath& path : TestPaths())
      for (const int threads : {1, 2}) {
        const UsePath use(path);
        std::vector<double> plane = x;
        SynthesisePlane(plane, w, h, 0, threads);
        ASSERT_TRUE(SameBits(plane, expected))
            << "round " << round << " kind " << kind << " " << w << " x " << h << ", " << path.name;
      }
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

TEST(HwlOracle, PlainPathWithoutCpuExtensions) {
  // Machines without AVX2/FMA take the plain x87 path everywhere.
  HwlUseCpuExtensions = false;
  std::mt19937 rng(77);
  for (int i = 0; i < 100; ++i)
    ExpectSameAsOracle(testhwl::Write(testhwl::RandomFile(rng, 48)), "plain small file " + std::to_string(i));
  const auto picture = testhwl::Picture(128, 128);
  for (const int bits : {2, 8})
    ExpectSameAsOracle(testhwl::Write(testhwl::Analyse(picture, 128, 128, 3, bits)),
                       "plain picture bits " + std::to_string(bits));
  HwlUseCpuExtensions = true;
}

TEST(HwlOracle, SameResultWhenTheCallerRunsAtDoublePrecision) {
  // 64-bit Windows starts threads with the x87 set to 53-bit significands, and
  // threads started here inherit the caller's setting: the decoder must select
  // 64 bits itself, in every thread, and give the caller's setting back.
  const std::uint16_t original = HwlFpuControlWord();
  if (original == 0) GTEST_SKIP() << "no x87 on this machine";
  std::mt19937 rng(5);
  const Bytes large = testhwl::Write(testhwl::RandomFile(rng, 384));
  const Bytes picture = testhwl::Write(testhwl::Analyse(testhwl::Picture(256, 256), 256, 256, 3, 8));
  const std::uint16_t doublePrecision = (original & ~0x300) | 0x200;
  for (const bool extensions : {false, true}) {
    HwlUseCpuExtensions = extensions;
    for (const Bytes* file : {&large, &picture}) {
      Bytes expected, pixels;
      HwlHeader expectedHeader, header;
      ASSERT_TRUE(oracle::Decode(*file, expectedHeader, expected));
      HwlSetFpuControlWord(doublePrecision);
      const HwlStatus s = DecodeHwlImage(*file, pixels, header, "f", true, 2);
      const auto planes = FastSamplePlanes(*file, 2);
      const std::uint16_t after = HwlFpuControlWord();
      HwlSetFpuControlWord(original);
      ASSERT_TRUE(s) << s.message;
      EXPECT_EQ(after, doublePrecision) << "the caller's setting was not given back";
      EXPECT_EQ(pixels, expected) << "extensions " << extensions;
      const auto expectedPlanes = oracle::SamplePlanes(*file);
      for (std::size_t p = 0; p < planes.size(); ++p)
        EXPECT_TRUE(SameBits(planes[p], expectedPlanes[p])) << "plane " << p << " extensions " << extensions;
    }
  }
  HwlUseCpuExtensions = true;
}

}  // namespace
