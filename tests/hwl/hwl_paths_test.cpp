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
#include "hwl_lanes.h"
#include "hwl_oracle.h"
#include "hwl_precision.h"
#include "hwl_test_paths.h"
#include "hwl_test_writer.h"

// The library's vector rows.
#if defined(__x86_64__) && defined(__GNUC__)
extern const HwlLaneRows HwlAvx2Rows;
#elif defined(__aarch64__)
extern const HwlLaneRows HwlNeonRows;
#endif

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

// A file of 8-bit values without planes yet: 1 ... maxLevels levels, its
// sides 1 ... widthSteps and 1 ... heightSteps times the coarsest step's.
testhwl::File SmallFile(std::mt19937& rng, int maxLevels, int widthSteps, int heightSteps, int bitsPerPixel) {
  testhwl::File f;
  f.levels = 1 + int(rng() % maxLevels);
  f.valueBits = 8;
  f.bitsPerPixel = bitsPerPixel;
  f.width = (1 + int(rng() % widthSteps)) << (f.levels + 1);
  f.height = (1 + int(rng() % heightSteps)) << (f.levels + 1);
  return f;
}

// Dark files: nearly every coefficient zero, a few alone and a few in
// patches, so that runs of zero pairs start and end at every column, at the
// ends of lines and next to single values; a third with extreme and
// negative scales (a zero times a negative factor is -0, not +0).
TEST(HwlPaths, SparseFiles) {
  std::mt19937 rng(777);
  for (int i = 0; i < 24; ++i) {
    testhwl::File f = SmallFile(rng, 4, 8, 4, i % 2 == 0 ? 24 : 8);
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

// Bands whose scale is 0: every value a zero, +0 where the coefficient is
// not negative and -0 where it is (s x k of a -0 is -0, which the vector
// rows would make +0: such a band is not theirs). The approximation band's
// scale is 0, and every band's in half the files; a file holds no negative
// coefficient, one (in the approximation band), or many. Narrow files give
// bands whose width is not a multiple of four.
TEST(HwlPaths, ZeroScaleBands) {
  std::mt19937 rng(4242);
  for (int i = 0; i < 24; ++i) {
    testhwl::File f = SmallFile(rng, 3, 7, 3, 8);
    std::vector<int> c(std::size_t(f.width) * f.height, 0);
    for (int& v : c) v = int(rng() % 40);
    const int w = f.width >> (f.levels + 1), h = f.height >> (f.levels + 1);
    const auto negative = [&] { return -1 - int(rng() % 30); };
    if (i % 3 == 1) c[std::size_t(rng() % h) * f.width + rng() % w] = negative();
    if (i % 3 == 2)
      for (int& v : c)
        if (rng() % 4 == 0) v = negative();
    testhwl::Plane& plane = f.planes.emplace_back();
    for (int b = 0; b <= f.levels; ++b)
      plane.scales.push_back(i % 2 == 0 || rng() % 2 == 0 ? 0.0 : std::uniform_real_distribution<double>(0.05, 4)(rng));
    plane.scales.push_back(0.0);
    testhwl::CodeCoefficients(c, f.valueBits, plane, &rng);
    ExpectSameOnEveryPath(testhwl::Write(f), "file " + std::to_string(i) + " with zero scales");
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

// One step (levels 0) whose samples sit on or within a few ulps of the
// halves between two bytes (0.5, 254.5 and the others), of 0 and of 255, and
// beyond both: approximation factor 2 and detail factor 1, each off by a few
// ulps, make a sample (2a + D +- (H + V)) / 2 before the roundings of k, for
// approximation a and details D, H, V. Details are mostly small and nonzero
// (plain pairs), some zero (flat pairs and smoothing), some large (far
// outside [0, 255]); a few planes have huge, tiny or negative factors.
testhwl::File NearHalves(std::mt19937& rng, int width, int height, bool colour) {
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  testhwl::File f;
  f.width = width;
  f.height = height;
  f.bitsPerPixel = colour ? 24 : 8;
  for (int p = 0; p < (colour ? 3 : 1); ++p) {
    testhwl::Plane plane;
    plane.scales = {1 + pick(-4, 4) * 0x1p-52, 0.5 - pick(-4, 4) * 0x1p-54};  // details, approximation
    if (pick(0, 9) == 0) plane.scales[pick(0, 1)] = std::ldexp(pick(0, 1) ? 1.0 : -1.0, pick(-700, 700));
    std::vector<int> c(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const int ends[] = {0, 1, 127, 128, 254, 255};
        int& v = c[std::size_t(y) * width + x];
        if (x < width / 2 && y < height / 2)
          v = pick(0, 3) == 0 ? pick(0, 255) : ends[pick(0, 5)];
        else if (const int kind = pick(0, 9); kind < 7)
          v = pick(1, 3) * (pick(0, 1) ? 1 : -1);
        else
          v = kind == 7 ? 0 : pick(-255, 255);
      }
    testhwl::CodeCoefficients(c, 8, plane, &rng);
    f.planes.push_back(std::move(plane));
  }
  return f;
}

TEST(HwlPaths, BytesNearTheirBoundaries) {
  std::mt19937 rng(15);
  for (const int width : {2, 4, 6, 8, 10, 14, 18, 34, 66})
    for (const int height : {2, 4, 6, 10})
      for (const bool colour : {false, true})
        ExpectSameOnEveryPath(testhwl::Write(NearHalves(rng, width, height, colour)),
                              std::to_string(width) + " x " + std::to_string(height) + (colour ? " colour" : " grey"));
}

// The lanes' rows of a last pass to bytes, called directly on lines of any
// doubles: every lane type this build has (the vector rows of the library,
// whose builds for x86-64 and ARM64 have them), against the reference's
// pair rule and SampleToByte.

// The extended arithmetic for the lanes they refuse.
void ExactSoftPair(double s, double d, double left, double right, bool plain, bool smoothEven, bool smoothOdd,
                   double& even, double& odd) {
  using A = HwlSoftArithmetic;
  even = plain ? A::SumTimesK(s, d) : smoothEven ? A::SmoothTimesK(s, left) : A::TimesK(s);
  odd = plain ? A::DifferenceTimesK(s, d) : smoothOdd ? A::SmoothTimesK(s, right) : A::TimesK(s);
}

// A line of p pairs whose samples come near the halves between bytes and
// near 0 and 255, or far outside, some with zero details (smoothing), some
// with values of any size, some with large values and details that nearly
// cancel them. Or, with `cancel`: approximation values s in
// [2^49, 2^50) and n = 4 (t - s) in turn with zero details, so that s x 0.8
// + n x 0.2 is 0.8 t where t = 174.125 and (s + n / 4) x 0.8 k is 98.49997
// (2.5e-5 below 98.5): the extended arithmetic rounds each term by up to 3e-5
// and makes 99 of some of them.
constexpr double CancelledSum = 174.125;

std::vector<double> ByteLine(std::mt19937& rng, int p, bool cancel) {
  const auto real = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<double> line(2 * std::size_t(p));
  for (int j = 0; j < p; ++j) {
    if (cancel) {
      line[j] = j % 2 == 0 ? real(0x1p49, 0x1p50) : 4 * (CancelledSum - line[j - 1]);
      continue;
    }
    const double target = pick(0, 3) == 0 ? real(-300, 600) : pick(-1, 256) + 0.5 * pick(0, 1);
    // (s + d) k comes within a few ulps of the target.
    const double sum = target / HwlHaarK * (1 + pick(-8, 8) * 0x1p-53);
    line[j] = sum * real(0.2, 0.8);
    line[p + j] = pick(0, 2) == 0 ? 0.0 : sum - line[j];
    const int odd = pick(0, 20);
    if (odd == 0) line[j] = std::ldexp(real(-1, 1), pick(-1074, 1000));
    if (odd == 1) {  // a large value and a detail that nearly cancels it
      line[j] += std::ldexp(real(1, 2), pick(16, 50));
      line[p + j] = sum - line[j];
    }
  }
  return line;
}

// The lane types this build has: one double at a time, and the library's
// vector rows where the processor runs them.
std::vector<const HwlLaneRows*> EveryLaneType() {
  static constexpr HwlLaneRows ScalarRows = HwlLaneRowsOf<HwlScalarLaneHere>();
  std::vector<const HwlLaneRows*> rows{&ScalarRows};
#if defined(__x86_64__) && defined(__GNUC__)
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) rows.push_back(&HwlAvx2Rows);
#elif defined(__aarch64__)
  rows.push_back(&HwlNeonRows);
#endif
  return rows;
}

// The exact details of a line, for rows given estimates of them.
struct ExactDetails {
  const double* values;
  long* asked;
  static double Call(const void* context, int j) {
    const auto& self = *static_cast<const ExactDetails*>(context);
    ++*self.asked;
    return self.values[j];
  }
};

TEST(HwlPaths, ByteRowsOfEveryLaneType) {
  const std::vector<const HwlLaneRows*> rows = EveryLaneType();
  static_assert(std::fabs(CancelledSum * HwlHeavyK.high - 98.49997) < 1e-5);
  std::mt19937 rng(16);
  int raised = 0;  // cancelled sums the extended arithmetic rounds to 99
  long asked = 0;  // exact details the rows asked for
  int narrowLines = 0;
  for (int i = 0; i < 400; ++i) {
    const bool cancel = i % 4 == 0;
    // Now and then a line long enough for several of the rows' chunks.
    const int p = cancel ? 64 : i % 20 == 1 ? std::uniform_int_distribution<int>(250, 700)(rng)
                                            : std::uniform_int_distribution<int>(1, 40)(rng);
    const std::vector<double> line = ByteLine(rng, p, cancel);
    std::vector<std::uint8_t> expected;
    for (const double sample : oracle::SynthesiseLine(line)) expected.push_back(SampleToByte(sample));
    if (cancel) raised += int(std::count(expected.begin(), expected.end(), 99));
    std::vector<double> padded(line.size() + 4, 0.0);  // two readable values on either side
    std::copy(line.begin(), line.end(), padded.begin() + 2);
    // The same line with its details as estimates, each within 2^-50 of
    // itself, and the exact ones where the rows ask for them.
    std::vector<double> estimated = padded;
    for (int j = 0; j < p; ++j)
      estimated[2 + p + j] *= 1 + std::uniform_real_distribution<double>(-0.85, 0.85)(rng) * 0x1p-50;
    const ExactDetails exact{line.data() + p, &asked};
    const HwlExactDetails details{ExactDetails::Call, &exact};
    const std::vector<std::uint8_t> second(2 * std::size_t(p), 0x12), third(2 * std::size_t(p), 0x34);
    // Lines whose values lie within HwlByteWide are also given as known to
    // be narrow (their samples beyond 0 ... 255 too).
    const bool narrow = std::all_of(line.begin(), line.end(), [](double v) { return std::fabs(v) <= HwlByteWide; });
    narrowLines += narrow;
    for (const HwlLaneRows* r : rows) {
      if (p < r->width) continue;
      for (const int use : {0, 1, 2, 3}) {
        const bool estimates = use % 2 == 1;
        if (use >= 2 && !narrow) continue;
        const double* in = (estimates ? estimated : padded).data() + 2;
        const HwlByteLine known{estimates ? &details : nullptr, use >= 2};
        std::vector<std::uint8_t> bytes(2 * std::size_t(p), 0x55), words(8 * std::size_t(p), 0x55);
        r->bytes(in, p, bytes.data(), nullptr, nullptr, known, ExactSoftPair);
        r->bytes(in, p, words.data(), second.data(), third.data(), known, ExactSoftPair);
        const std::string where = "line " + std::to_string(i) + (estimates ? " with estimated details" : "") +
                                  (known.narrow ? ", narrow" : "") + ", lanes of width " + std::to_string(r->width);
        ASSERT_EQ(bytes, expected) << where;
        for (int k = 0; k < 2 * p; ++k)
          ASSERT_EQ(std::vector<std::uint8_t>(words.begin() + 4 * k, words.begin() + 4 * k + 4),
                    (std::vector<std::uint8_t>{expected[k], 0x12, 0x34, 0}))
              << where << ", sample " << k;
      }
    }
  }
  EXPECT_GT(raised, 0);
  EXPECT_GT(asked, 0);  // lanes near a half took the exact details
  EXPECT_GT(narrowLines, 20);
}

// The last step's right half as estimates: within 2^-50 of the exact
// doubles and zero exactly where they are, on blocks of coefficients with
// runs of zero details (the rule's smoothing) and weighted sums whose terms
// of opposite signs nearly cancel (4 s + n a few units), where the extended
// arithmetic's roundings of the terms outgrow the sum. Blocks whose values
// lie within 2^14.5 (a narrow line's) also as the narrow rows make them,
// which take such sums too: within 2^-37 there.
TEST(HwlPaths, DetailEstimatesOfEveryLaneType) {
  std::mt19937 rng(21);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int narrowBlocks = 0;
  for (int block = 0; block < 60; ++block) {
    const int p = pick(1, 12), count = pick(4, 24);
    const double factor = std::ldexp(std::uniform_real_distribution<double>(1, 2)(rng), pick(-40, 20));
    std::vector<std::int16_t> s(std::size_t(p) * count), d(std::size_t(p) * count);
    for (int j = 0; j < p; ++j)
      for (int c = 0; c < count; ++c) {
        const std::size_t at = std::size_t(j) * count + c;
        const int kind = pick(0, 3);
        s[at] = std::int16_t(kind == 0 ? 0 : kind == 1 ? pick(-8000, 8000) : pick(-3, 3));
        if (kind == 3 && j > 0) s[at] = std::int16_t(-4 * s[at - count] + pick(-3, 3));  // cancels its neighbour
        d[at] = std::int16_t(pick(0, 2) == 0 ? pick(-300, 300) : 0);
      }
    // The reference: each column as a line of approximations and details.
    int largest = 0;
    for (std::size_t i = 0; i < s.size(); ++i) largest = std::max({largest, std::abs(int(s[i])), std::abs(int(d[i]))});
    const bool narrow = largest * factor <= 0x1.6a09e667f3bcdp14;  // 2^14.5
    narrowBlocks += narrow;
    std::vector<double> expected(2 * std::size_t(p) * count);
    for (int c = 0; c < count; ++c) {
      std::vector<double> line(2 * std::size_t(p));
      for (int j = 0; j < p; ++j) {
        line[j] = s[std::size_t(j) * count + c] * factor;
        line[p + j] = d[std::size_t(j) * count + c] * factor;
      }
      const std::vector<double> samples = oracle::SynthesiseLine(line);
      for (int r = 0; r < 2 * p; ++r) expected[std::size_t(r) * count + c] = samples[r];
    }
    for (const HwlLaneRows* rows : EveryLaneType()) {
      if (count < rows->width) continue;
      // Pair rows one at a time and two at a time, with the rows for any
      // line and, where the block is narrow, with those for narrow lines.
      for (const bool narrowRows : {false, true}) {
        if (narrowRows && !narrow) continue;
        for (const int step : {1, 2})
          for (int j = 0; j < p; j += step) {
            const int n = std::min(step, p - j);
            const auto row = [&](const std::vector<std::int16_t>& v, int k) {
              return v.data() + std::size_t(std::clamp(j + k, 0, p - 1)) * count;
            };
            const std::int16_t* sRows[6] = {row(s, -2), row(s, -1), row(s, 0), row(s, 1), row(s, 2), row(s, 3)};
            const std::int16_t* dRows[4] = {row(d, -1), row(d, 0), row(d, 1), row(d, 2)};
            std::vector<double> results(4 * std::size_t(count));
            double* const out[4] = {&results[0], &results[count], &results[2 * count], &results[3 * count]};
            (narrowRows ? rows->verticalNarrowDetails : rows->verticalDetails)(sRows, dRows, factor, factor, count, j, p,
                                                                                n, out, ExactSoftPair);
            for (int c = 0; c < count; ++c)
              for (int i = 0; i < 2 * n; ++i) {
                const int r = 2 * j + i;
                const double estimate = out[i][c], exact = expected[std::size_t(r) * count + c];
                ASSERT_LE(std::fabs(estimate - exact), std::max(0x1p-50 * std::fabs(exact), narrowRows ? 0x1p-37 : 0.0))
                    << "block " << block << ", row " << r << ", column " << c << ", lanes of width " << rows->width
                    << ", " << n << " rows at once" << (narrowRows ? ", narrow" : "");
                ASSERT_EQ(estimate == 0, exact == 0) << "block " << block << ", row " << r << ", column " << c;
              }
          }
      }
    }
  }
  EXPECT_GT(narrowBlocks, 10);
}

// A pass's results stay within HwlPassBound of its inputs' bounds, the
// smoothing included, for lines that reach their bounds and lines of
// random values within them.
TEST(HwlPaths, PassBound) {
  std::mt19937 rng(8);
  for (int i = 0; i < 3000; ++i) {
    const int p = std::uniform_int_distribution<int>(2, 12)(rng);
    const double a = std::ldexp(std::uniform_real_distribution<double>(1, 2)(rng), int(rng() % 80) - 40);
    const double d = i % 5 == 0 ? 0 : a * std::uniform_real_distribution<double>(0, 2)(rng);
    std::vector<double> line(2 * std::size_t(p));
    for (int j = 0; j < p; ++j) {
      const int kind = int(rng() % 4);
      const double sign = rng() % 2 ? 1 : -1;
      line[j] = kind == 0 ? sign * a : sign * a * std::uniform_real_distribution<double>(0, 1)(rng);
      line[p + j] = kind == 1 ? 0 : rng() % 2 ? sign * d : -sign * d * std::uniform_real_distribution<double>(0, 1)(rng);
    }
    for (const double result : oracle::SynthesiseLine(line))
      ASSERT_LE(std::fabs(result), HwlPassBound(a, d)) << "line " << i;
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
