// Encoder: round trips through the decoder, the file layout byte by byte,
// and input validation.
#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "hwl.h"
#include "test_pictures.h"

namespace {

using namespace test_pictures;

struct Decoded {
  HwlStatus status;
  HwlHeader header;
  std::vector<std::uint8_t> pixels;
};

Decoded Decode(const std::vector<std::uint8_t>& file) {
  Decoded d;
  d.status = DecodeHwlImage(file, d.pixels, d.header, "encoded", true);
  return d;
}

std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> pixels, int width, int height, int channels,
                                 int levels, int valueBits) {
  std::vector<std::uint8_t> file;
  const HwlStatus status = EncodeHwlImage(pixels, width, height, channels, {levels, valueBits}, file);
  EXPECT_TRUE(status) << status.message;
  return file;
}

// Every requirement a file must meet, read independently of the decoder.
void ExpectWellFormed(const std::vector<std::uint8_t>& file, int width, int height, int channels, int levels,
                      int valueBits) {
  ASSERT_GE(file.size(), HwlHeaderSize);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 3), "HWL");
  const ParsedFile f = Parse(file);
  EXPECT_EQ(f.width, width);
  EXPECT_EQ(f.height, height);
  EXPECT_EQ(f.bitsPerPixel, channels == 3 ? 24 : 8);
  EXPECT_EQ(f.levels, levels);
  EXPECT_EQ(f.valueBits, valueBits);
  ASSERT_EQ(file.size(), f.expectedLength) << "length must be header + tables + packed streams exactly";
  ASSERT_EQ(f.planes.size(), std::size_t(channels));
  if (channels == 1)
    for (int p = 1; p < 3; ++p) {
      EXPECT_EQ(Le(&file[9 + 4 * p], 4), 0u);
      EXPECT_EQ(Le(&file[21 + 4 * p], 4), 0u);
    }
  const int top = (1 << valueBits) - 1;
  for (const ParsedPlane& plane : f.planes) {
    EXPECT_EQ(plane.positions, std::size_t(width) * height) << "symbols must describe exactly W x H coefficients";
    EXPECT_EQ(plane.valuesUsed, plane.valueCount) << "every value must be used";
    // Each band: integers within +-top, the largest magnitude exactly top
    // (the scale maps the band's largest coefficient there), scale 0 only
    // for an all-zero band.
    std::vector<int> largest(levels + 2, 0);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const int q = plane.coefficients[std::size_t(y) * width + x];
        int& m = largest[BandOf(x, y, width, height, levels)];
        m = std::max(m, std::abs(q));
      }
    for (int b = 0; b < levels + 2; ++b) {
      EXPECT_TRUE(std::isfinite(plane.scales[b]) && plane.scales[b] >= 0.0) << "band " << b;
      EXPECT_EQ(largest[b], plane.scales[b] == 0.0 ? 0 : top) << "band " << b;
    }
  }
}

TEST(HwlEncode, RoundTripsAllLevelsAndValueBits) {
  // Per level a size of a few units of 2^(levels + 1), mostly non-square,
  // small enough for a sanitizer build.
  constexpr std::array<std::pair<int, int>, 7> sizes{
      {{10, 6}, {12, 20}, {40, 16}, {48, 32}, {64, 96}, {128, 64}, {128, 128}}};
  for (int levels = 0; levels <= 6; ++levels)
    for (int valueBits = 1; valueBits <= 8; ++valueBits)
      for (int channels : {1, 3}) {
        // Both kinds at 8 bits, where the quality bar is; alternate below,
        // and only a few widths for the two largest pictures.
        if (valueBits < 8 && (levels + valueBits + channels / 3) % 2 == 0) continue;
        if (levels >= 5 && valueBits != 1 && valueBits != 4 && valueBits != 8) continue;
        const auto [width, height] = sizes[levels];
        SCOPED_TRACE("channels " + std::to_string(channels) + " levels " + std::to_string(levels) + " valueBits " +
                     std::to_string(valueBits) + " size " + std::to_string(width) + "x" + std::to_string(height));
        const auto source = (levels + valueBits) % 2 ? Card(width, height, channels) : Field(width, height, channels);
        const auto file = Encode(source, width, height, channels, levels, valueBits);
        ExpectWellFormed(file, width, height, channels, levels, valueBits);
        const Decoded d = Decode(file);
        ASSERT_TRUE(d.status) << d.status.message;
        ASSERT_EQ(d.pixels.size(), std::size_t(width) * height * (channels == 3 ? 4 : 1));
        const double psnr = Psnr(source, d.pixels, channels);
        const double floor = valueBits == 8 ? 50.0 : valueBits >= 6 ? 38.0 : 10.0;
        EXPECT_GT(psnr, floor);
      }
}

TEST(HwlEncode, HeaderFieldsAreExact) {
  const auto source = Card(96, 32, 3);
  const auto file = Encode(source, 96, 32, 3, 3, 5);
  const Decoded d = Decode(file);
  ASSERT_TRUE(d.status) << d.status.message;
  const ParsedFile f = Parse(file);
  EXPECT_EQ(d.header.magic, (std::array<std::uint8_t, 3>{'H', 'W', 'L'}));
  EXPECT_EQ(d.header.width, 96);
  EXPECT_EQ(d.header.height, 32);
  EXPECT_EQ(d.header.bitsPerPixel, 24);
  EXPECT_EQ(d.header.levels, 3);
  EXPECT_EQ(d.header.valueBits, 5);
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(d.header.symbolCount[p], f.planes[p].symbolCount);
    EXPECT_EQ(d.header.valueCount[p], f.planes[p].valueCount);
  }
}

// A sharp light edge on black is where the reader's ramp smoothing of zero
// details smears: the encoder must keep such pictures within a few grey
// levels (without the check the error reaches about a third of full scale).
TEST(HwlEncode, SharpEdgesOnBlackStayClean) {
  for (int levels : {1, 4}) {
    const auto source = Card(128, 128, 3);
    const Decoded d = Decode(Encode(source, 128, 128, 3, levels, 8));
    ASSERT_TRUE(d.status) << d.status.message;
    EXPECT_LE(MaxError(source, d.pixels, 3), 6) << "levels " << levels;
    EXPECT_GT(Psnr(source, d.pixels, 3), 55.0) << "levels " << levels;
  }
}

TEST(HwlEncode, DefaultsAreValidAndClean) {
  const HwlEncodeOptions defaults;
  EXPECT_GE(defaults.levels, 0);
  EXPECT_LE(defaults.levels, 16);
  EXPECT_EQ(defaults.valueBits, 8);
  const auto source = Card(64, 64, 3);
  std::vector<std::uint8_t> file;
  ASSERT_TRUE(EncodeHwlImage(source, 64, 64, 3, defaults, file));
  const Decoded d = Decode(file);
  ASSERT_TRUE(d.status) << d.status.message;
  EXPECT_LE(MaxError(source, d.pixels, 3), 6);
}

TEST(HwlEncode, AllZeroImageIsRunsOnly) {
  for (int valueBits : {1, 3, 8}) {
    const std::vector<std::uint8_t> black(64 * 32, 0);
    const auto file = Encode(black, 64, 32, 1, 2, valueBits);
    ExpectWellFormed(file, 64, 32, 1, 2, valueBits);
    const ParsedFile f = Parse(file);
    for (double s : f.planes[0].scales) EXPECT_EQ(s, 0.0);
    // 2048 zeros in runs of at most 2^valueBits.
    const std::uint32_t runs = 2048u >> valueBits;
    EXPECT_EQ(f.planes[0].valueCount, runs) << valueBits;
    const Decoded d = Decode(file);
    ASSERT_TRUE(d.status) << d.status.message;
    EXPECT_EQ(d.pixels, black);
  }
}

TEST(HwlEncode, ConstantImageDecodesExactly) {
  for (int levels : {0, 3, 5}) {
    const std::vector<std::uint8_t> grey(64 * 128 * 3, 137);
    const auto file = Encode(grey, 64, 128, 3, levels, 8);
    ExpectWellFormed(file, 64, 128, 3, levels, 8);
    const ParsedFile f = Parse(file);
    for (const ParsedPlane& plane : f.planes) {
      for (int b = 0; b <= levels; ++b) EXPECT_EQ(plane.scales[b], 0.0);
      // Approximation: the mean times 2^(levels + 1), mapped to 255.
      EXPECT_DOUBLE_EQ(plane.scales[levels + 1], 255.0 / (137.0 * double(1 << (levels + 1))));
    }
    const Decoded d = Decode(file);
    ASSERT_TRUE(d.status) << d.status.message;
    for (std::size_t i = 0; i < d.pixels.size(); i += 4)
      ASSERT_EQ(Le(&d.pixels[i], 4), 0x898989u) << "pixel " << i / 4;
  }
}

// 2 x 2, one step: (10 20 / 30 40) gives approximation 50 and details
// -10 (horizontal), -20 (vertical), 0 (diagonal).
TEST(HwlEncode, TinyImageBytes) {
  const std::vector<std::uint8_t> source{10, 20, 30, 40};
  const auto file = Encode(source, 2, 2, 1, 0, 8);
  ASSERT_EQ(file.size(), 34u + 2 * 8 + 1 + 3);
  const std::vector<std::uint8_t> header{'H', 'W', 'L', 2, 0, 2, 0, 8, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                         3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8};
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 34), header);
  EXPECT_DOUBLE_EQ(std::bit_cast<double>(std::uint64_t(Le(&file[34], 4)) | std::uint64_t(Le(&file[38], 4)) << 32),
                   255.0 / 20.0);
  EXPECT_DOUBLE_EQ(std::bit_cast<double>(std::uint64_t(Le(&file[42], 4)) | std::uint64_t(Le(&file[46], 4)) << 32),
                   255.0 / 50.0);
  // Symbols Positive, Negative, Negative, Zero; values 255, 128 (-127.5 to even), 255.
  EXPECT_EQ(file[50], 2 | 3 << 2 | 3 << 4 | 0 << 6);
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 51, file.end()), (std::vector<std::uint8_t>{255, 128, 255}));
  const Decoded d = Decode(file);
  ASSERT_TRUE(d.status) << d.status.message;
  EXPECT_EQ(d.pixels, source);
}

// Values narrower than a byte straddle byte boundaries; the independent
// reader and the decoder must both agree with the source.
TEST(HwlEncode, NarrowValuesPackAcrossBytes) {
  int partlyFilled = 0;
  for (int valueBits : {3, 5, 7})
    for (int height : {8, 16, 24}) {
      const auto source = Field(16, height, 1);
      const auto file = Encode(source, 16, height, 1, 0, valueBits);
      ExpectWellFormed(file, 16, height, 1, 0, valueBits);
      partlyFilled += Parse(file).planes[0].valueCount * valueBits % 8 != 0;
      const Decoded d = Decode(file);
      ASSERT_TRUE(d.status) << d.status.message;
      EXPECT_GT(Psnr(source, d.pixels, 1), 15.0);
    }
  EXPECT_GT(partlyFilled, 0) << "no case ended inside a byte";
}

TEST(HwlEncode, RejectsBadInput) {
  const std::vector<std::uint8_t> pixels(64 * 64 * 3, 1);
  struct Case {
    const char* what;
    std::size_t size;
    int width, height, channels, levels, valueBits;
    const char* mentions;
  };
  const Case cases[] = {
      {"two channels", 64 * 64 * 2, 64, 64, 2, 1, 8, "channels"},
      {"four channels", 64 * 64 * 4, 64, 64, 4, 1, 8, "channels"},
      {"levels above 16", 64 * 64 * 3, 64, 64, 3, 17, 8, "levels"},
      {"negative levels", 64 * 64 * 3, 64, 64, 3, -1, 8, "levels"},
      {"valueBits 0", 64 * 64 * 3, 64, 64, 3, 1, 0, "valueBits"},
      {"valueBits 9", 64 * 64 * 3, 64, 64, 3, 1, 9, "valueBits"},
      {"zero width", 0, 0, 64, 3, 1, 8, "width"},
      {"zero height", 0, 64, 0, 3, 1, 8, "height"},
      {"width not a multiple", 60 * 64 * 3, 60, 64, 3, 2, 8, "width"},
      {"height not a multiple", 64 * 36 * 3, 64, 36, 3, 3, 8, "height"},
      {"width beyond 16 bits", 65536 * 2 * 3, 65536, 2, 3, 0, 8, "width"},
      {"too few pixels", 64 * 64 * 3 - 1, 64, 64, 3, 1, 8, "pixel"},
      {"too many pixels", 64 * 64 * 3, 64, 64, 1, 1, 8, "pixel"},
  };
  std::vector<std::uint8_t> big(65536 * 2 * 3, 0);
  for (const Case& c : cases) {
    std::vector<std::uint8_t> file{1, 2, 3};
    const std::span<const std::uint8_t> input = c.size <= pixels.size()
                                                    ? std::span<const std::uint8_t>(pixels).first(c.size)
                                                    : std::span<const std::uint8_t>(big).first(c.size);
    const HwlStatus status = EncodeHwlImage(input, c.width, c.height, c.channels, {c.levels, c.valueBits}, file);
    EXPECT_EQ(status.code, HwlFormatError) << c.what;
    EXPECT_NE(status.message.find(c.mentions), std::string::npos) << c.what << ": " << status.message;
    EXPECT_EQ(file, (std::vector<std::uint8_t>{1, 2, 3})) << c.what << ": output touched on failure";
  }
}

}  // namespace
