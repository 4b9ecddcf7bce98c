// The format's and decoder's worked examples, stage by stage and through
// whole files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "hwl_decode.h"
#include "hwl_oracle.h"
#include "hwl_test_writer.h"

namespace {

constexpr double K = 0.7071067811865476;

using Bytes = std::vector<std::uint8_t>;

HwlPlaneStreams Streams(const Bytes& symbols, std::uint32_t symbolCount, const Bytes& values,
                        std::uint32_t valueCount) {
  return {symbols, symbolCount, values, valueCount};
}

std::vector<double> Expand(const HwlPlaneStreams& s, int bits, std::size_t count) {
  std::vector<double> plane(count, -1.0);
  ExpandSymbols(s, bits, count, plane);
  return plane;
}

// A grey file from integer coefficients and band scales.
testhwl::File GreyFile(int w, int h, int levels, int bits, const std::vector<int>& c,
                       const std::vector<double>& scales) {
  testhwl::File f;
  f.width = w;
  f.height = h;
  f.levels = levels;
  f.valueBits = bits;
  testhwl::Plane p;
  p.scales = scales;
  testhwl::CodeCoefficients(c, bits, p);
  f.planes.push_back(p);
  return f;
}

TEST(HwlStreams, ValuesPackLeastSignificantBitFirst) {
  EXPECT_EQ(testhwl::PackValues({5, 2, 7}, 3), (Bytes{0xD5, 0x01}));
  // Three Positive symbols read 5, 2, 7 back; bit 7 of byte 1 is never read.
  const Bytes symbols = testhwl::PackSymbols({2, 2, 2});
  const Bytes values{0xD5, 0xFF};
  EXPECT_EQ(Expand(Streams(symbols, 3, values, 3), 3, 3), (std::vector<double>{5, 2, 7}));
  // With 8 bits every value is one byte.
  const Bytes bytes{9, 200, 255};
  EXPECT_EQ(Expand(Streams(symbols, 3, bytes, 3), 8, 3), (std::vector<double>{9, 200, 255}));
}

TEST(HwlStreams, LastSymbolByteUsesOnlyItsLowBits) {
  // Five symbols: Positive x4 then Negative; the last byte's upper bits are junk.
  const Bytes symbols{0xAA, 0xFC | 3};
  const Bytes values{1, 2, 3, 4, 5};
  EXPECT_EQ(Expand(Streams(symbols, 5, values, 5), 8, 5), (std::vector<double>{1, 2, 3, 4, -5}));
  // 4k + 1 symbols occupy k + 1 bytes: one byte less is a short file.
  testhwl::File f = GreyFile(2, 2, 0, 8, {3, 0, 0, 0}, {1, 1});
  f.planes[0].symbols = {2, 0, 0, 0, 0};
  f.planes[0].values = {3};
  Bytes file = testhwl::Write(f);
  EXPECT_EQ(file.size(), 34 + 16 + 2 + 1u);
  Bytes pixels;
  HwlHeader header;
  file[34 + 16 + 1] |= 0xFC;
  // 5 symbols for 4 coefficients: one left over.
  EXPECT_EQ(DecodeHwlImage(file, pixels, header, "f", true).code, HwlFormatError);
  f.planes[0].symbols = {2, 0, 0, 0};
  file = testhwl::Write(f);
  EXPECT_EQ(file.size(), 34 + 16 + 1 + 1u);
  EXPECT_TRUE(DecodeHwlImage(file, pixels, header, "f", true));
}

TEST(HwlStreams, SymbolKinds) {
  // Positive 0 gives 0 and still consumes a value; Negative 0 is +0.
  const Bytes symbols = testhwl::PackSymbols({2, 2, 3, 0, 1, 3});
  const Bytes values{0, 7, 0, 2, 4};
  const std::vector<double> plane = Expand(Streams(symbols, 6, values, 5), 8, 8);
  EXPECT_EQ(plane, (std::vector<double>{0, 7, 0, 0, 0, 0, 0, -4}));
  EXPECT_FALSE(std::signbit(plane[2]));
  const HwlExpansion e = ExpandSymbols(Streams(symbols, 6, values, 5), 8, 8, {});
  EXPECT_TRUE(e.Exact(8, Streams(symbols, 6, values, 5)));
}

TEST(HwlStreams, ZeroRunsFillWholePlanes) {
  const Bytes one{1}, run255{255};
  // 16 x 16 with one run of 256; 32 x 32 needs four.
  auto f = GreyFile(16, 16, 3, 8, std::vector<int>(256, 0), std::vector<double>(5, 3.0));
  EXPECT_EQ(f.planes[0].symbols, Bytes{1});
  EXPECT_EQ(f.planes[0].values, run255);
  Bytes pixels(5, 99);
  HwlHeader header;
  ASSERT_TRUE(DecodeHwlImage(testhwl::Write(f), pixels, header, "f", true));
  EXPECT_EQ(pixels, Bytes(256, 0));
  f = GreyFile(32, 32, 3, 8, std::vector<int>(1024, 0), std::vector<double>(5, 3.0));
  EXPECT_EQ(f.planes[0].symbols.size(), 4u);
  EXPECT_TRUE(DecodeHwlImage(testhwl::Write(f), pixels, header, "f", true));
  f.planes[0].symbols.pop_back();
  f.planes[0].values.pop_back();
  EXPECT_EQ(DecodeHwlImage(testhwl::Write(f), pixels, header, "f", true).code, HwlFormatError);
}

// A line of 4 approximation values and 4 details.
std::vector<double> Line(std::vector<double> s, std::vector<double> d) {
  s.insert(s.end(), d.begin(), d.end());
  return oracle::SynthesiseLine(s);
}

using oracle::Real;
double Smooth(double s, double n) { return double((Real(s) * oracle::Heavy + Real(n) * oracle::Light) * Real(K)); }
double Times(double s) { return double(Real(s) * Real(K)); }

TEST(HwlSynthesis, ZeroDetailsMakeARamp) {
  const std::vector<double> out = Line({10, 20, 30, 40}, {0, 0, 0, 0});
  const double expected[] = {10, 10, 18, 22, 28, 32, 40, 40};
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(out[i], expected[i] * K, 1e-12) << i;
  EXPECT_EQ(out[2], Smooth(20, 10));
  EXPECT_EQ(out[3], Smooth(20, 30));
  EXPECT_EQ(out[0], Times(10));
  // Pair 1 plain; pair 2's even stays because its left detail is not zero.
  const std::vector<double> mixed = Line({10, 20, 30, 40}, {0, 5, 0, 0});
  EXPECT_EQ(mixed[2], double(Real(20 + 5) * Real(K)));
  EXPECT_EQ(mixed[3], double(Real(20 - 5) * Real(K)));
  EXPECT_EQ(mixed[4], Times(30));
  EXPECT_EQ(mixed[5], Smooth(30, 40));
  // An equal right neighbour keeps pair 1's even flat; -0 counts as zero.
  const std::vector<double> flat = Line({10, 20, 20, 40}, {0, -0.0, 0, 0});
  EXPECT_EQ(flat[2], Times(20));
  EXPECT_EQ(flat[3], Smooth(20, 20));
  // Pair 2's odd result stays flat: its left neighbour is equal.
  EXPECT_EQ(flat[5], Times(20));
  EXPECT_EQ(flat[6], Times(40));
  // Lines of length 2 take the plain case.
  EXPECT_EQ(oracle::SynthesiseLine({10, 0}), (std::vector<double>{Times(10), Times(10)}));
}

TEST(HwlSynthesis, PlaneAgreesWithLineRule) {
  // 8 x 2, one step: the vertical pass of two-sample columns with zero
  // details gives S x k in both rows, then each row follows the line rule.
  for (const std::vector<double>& row0 : {std::vector<double>{10, 20, 30, 40, 0, 0, 0, 0},
                                          std::vector<double>{10, 20, 30, 40, 0, 5, 0, 0},
                                          std::vector<double>{10, 20, 20, 40, 0, 0, 0, 0}}) {
    std::vector<double> plane = row0;
    plane.resize(16, 0.0);
    SynthesisePlane(plane, 8, 2, 0, 1);
    std::vector<double> line;
    for (const double v : row0) line.push_back(Times(v));
    const std::vector<double> expected = oracle::SynthesiseLine(line);
    EXPECT_EQ(std::vector<double>(plane.begin(), plane.begin() + 8), expected);
    EXPECT_EQ(std::vector<double>(plane.begin() + 8, plane.end()), expected);
  }
}

TEST(HwlSynthesis, ZeroScaleZeroesItsBand) {
  // levels 0 on 4 x 4: the approximation band is the upper-left 2 x 2.
  std::vector<double> plane(16, 7.0);
  const double scales[] = {0.0, 0.5};
  DequantiseBands(plane, 4, 4, 0, scales);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(plane[y * 4 + x], x < 2 && y < 2 ? 14.0 : 0.0) << x << "," << y;
  // A factor is the reciprocal rounded once from extended precision.
  EXPECT_EQ(HwlBandFactor(3.0), double(Real(1.0) / Real(3.0)));
  EXPECT_EQ(HwlBandFactor(-0.0), 0.0);
}

TEST(HwlPacking, RoundsTiesToEvenAndClamps) {
  const std::pair<double, int> cases[] = {
      {0.5, 0},    {1.5, 2},     {2.5, 2},        {3.5, 4},  {254.5, 254}, {255.0, 255},  {-0.3, 0},
      {-0.0, 0},   {1e300, 255}, {0.49999999999999994, 0}, {254.50000000000003, 255}, {127.49, 127},
      {std::numeric_limits<double>::quiet_NaN(), 0},       {-std::numeric_limits<double>::infinity(), 0}};
  for (const auto& [sample, byte] : cases) EXPECT_EQ(SampleToByte(sample), byte) << sample;
}

// A 2 x 2 colour file whose planes are constant: approximation a with factor f
// reconstructs to a x f / 2. The planes have different factors, so reading a
// plane's table next to its streams would give other colours.
testhwl::File ConstantColour() {
  testhwl::File f;
  f.width = f.height = 2;
  f.bitsPerPixel = 24;
  const int a[3] = {255, 64, 0};  // times the factors 2, 4, 0.25: 510, 256, 0
  const double scale[3] = {0.5, 0.25, 4.0};
  for (int p = 0; p < 3; ++p) {
    testhwl::Plane plane;
    plane.scales = {1.0, scale[p]};
    testhwl::CodeCoefficients({a[p], 0, 0, 0}, 8, plane);
    f.planes.push_back(plane);
  }
  return f;
}

TEST(HwlLoad, ColourFileGivesBgrxWords) {
  const Bytes file = testhwl::Write(ConstantColour());
  Bytes pixels(16, 0x77);  // every byte is written, the fourth of each word too
  HwlHeader header;
  ASSERT_TRUE(DecodeHwlImage(file, pixels, header, "c", false));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Bytes(pixels.begin() + 4 * i, pixels.begin() + 4 * i + 4), (Bytes{0, 0x80, 0xFF, 0}));
}

TEST(HwlLoad, HeaderHoldsTheFileBytesAndMagicIsIgnored) {
  Bytes file = testhwl::Write(ConstantColour());
  file[0] = 'x';
  file[1] = 0;
  file[2] = 0xFF;
  Bytes pixels, expected;
  HwlHeader header, h2;
  ASSERT_TRUE(DecodeHwlImage(file, pixels, header, "c", true));
  ASSERT_TRUE(oracle::Decode(file, h2, expected));
  EXPECT_EQ(pixels, expected);
  EXPECT_EQ(header.magic, (std::array<std::uint8_t, 3>{'x', 0, 0xFF}));
  EXPECT_EQ(header.width, 2);
  EXPECT_EQ(header.bitsPerPixel, 24);
  EXPECT_EQ(header.symbolCount[2], h2.symbolCount[2]);
  EXPECT_EQ(header.valueCount[1], h2.valueCount[1]);
  EXPECT_EQ(header.valueBits, 8);
}

TEST(HwlLoad, OtherBitsPerPixelFillsHeaderOnly) {
  for (const int bpp : {0, 1, 16, 32, 255}) {
    Bytes file = testhwl::Write(ConstantColour());
    file[testhwl::BppOffset] = std::uint8_t(bpp);
    file.resize(34);  // nothing else is read
    file[testhwl::LevelsOffset] = 200;
    Bytes pixels{7, 7};
    HwlHeader header;
    EXPECT_TRUE(DecodeHwlImage(file, pixels, header, "o", true)) << bpp;
    EXPECT_EQ(header.bitsPerPixel, bpp);
    EXPECT_EQ(header.levels, 200);
    EXPECT_EQ(pixels, (Bytes{7, 7}));
  }
}

TEST(HwlLoad, BufferIsReusedAndResized) {
  std::mt19937 rng(3);
  const Bytes big = testhwl::Write(testhwl::Analyse(testhwl::Picture(64, 32), 64, 32, 2, 6));
  const Bytes small = testhwl::Write(ConstantColour());
  Bytes pixels;
  HwlHeader header;
  ASSERT_TRUE(DecodeHwlImage(big, pixels, header, "b", true));
  EXPECT_EQ(pixels.size(), 64u * 32 * 4);
  const std::uint8_t* data = pixels.data();
  ASSERT_TRUE(DecodeHwlImage(big, pixels, header, "b", true));
  EXPECT_EQ(pixels.data(), data);
  ASSERT_TRUE(DecodeHwlImage(small, pixels, header, "s", true));
  EXPECT_EQ(pixels.size(), 16u);
  EXPECT_EQ(pixels.data(), data);
  // Without the flag a large enough buffer keeps its size and its tail.
  Bytes fixed(40, 0xEE);
  ASSERT_TRUE(DecodeHwlImage(small, fixed, header, "s", false));
  EXPECT_EQ(fixed.size(), 40u);
  EXPECT_EQ(fixed[4], 0x00);
  EXPECT_EQ(fixed[16], 0xEE);
  Bytes tooSmall(15, 0xEE);
  EXPECT_EQ(DecodeHwlImage(small, tooSmall, header, "s", false).code, HwlBufferTooSmall);
  EXPECT_EQ(tooSmall, Bytes(15, 0xEE));
}

TEST(HwlLoad, FilesOnDisk) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "hwl_examples_test";
  std::filesystem::create_directories(dir);
  const Bytes bytes = testhwl::Write(testhwl::Analyse(testhwl::Picture(32, 32), 32, 32, 1, 8));
  const auto write = [&](const std::string& name, std::size_t size) {
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(size));
    return (dir / name).string();
  };
  Bytes fromMemory, fromFile, untouched{1, 2, 3};
  HwlHeader header, fileHeader;
  ASSERT_TRUE(DecodeHwlImage(bytes, fromMemory, header, "m", true));
  const HwlStatus ok = LoadHwlImage(fromFile, fileHeader, write("whole.hwl", bytes.size()), true);
  ASSERT_TRUE(ok) << ok.message;
  EXPECT_EQ(fromFile, fromMemory);
  HwlHeader onlyHeader;
  ASSERT_TRUE(ReadHwlHeader((dir / "whole.hwl").string(), onlyHeader));
  EXPECT_EQ(onlyHeader.symbolCount, header.symbolCount);

  const HwlStatus missing = LoadHwlImage(untouched, header, (dir / "absent.hwl").string(), true);
  EXPECT_EQ(missing.code, HwlFileNotFound);
  EXPECT_NE(missing.message.find("absent.hwl"), std::string::npos);
  EXPECT_EQ(ReadHwlHeader((dir / "absent.hwl").string(), header).code, HwlFileNotFound);
  EXPECT_EQ(LoadHwlImage(untouched, header, write("short.hwl", bytes.size() - 1), true).code, HwlReadPastEnd);
  EXPECT_EQ(ReadHwlHeader(write("tiny.hwl", 33), header).code, HwlReadPastEnd);
  EXPECT_EQ(LoadHwlImage(untouched, header, dir.string(), true).code, HwlFileNotFound);  // a directory
  EXPECT_EQ(untouched, (Bytes{1, 2, 3}));
  std::filesystem::remove_all(dir);
}

}  // namespace
