// The picture maker: its raster pieces, its layout rules, and that it remakes
// the committed pictures byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "art_test_names.h"
#include "glyphs.h"
#include "hwl.h"
#include "pictures.h"
#include "raster.h"

namespace {

// ---- Raster pieces -----------------------------------------------------------

TEST(SignedDistance, MeasuresFromTheEdgeBetweenPixelCentres) {
  Plane half(32, 8);  // columns 0 ... 9 inside: the edge is the line x = 10
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 10; ++x) half.at(x, y) = 1.0f;
  const Plane d = SignedDistance(half);
  EXPECT_FLOAT_EQ(d.at(15, 4), 5.5f);   // centre 15.5
  EXPECT_FLOAT_EQ(d.at(10, 0), 0.5f);
  EXPECT_FLOAT_EQ(d.at(9, 7), -0.5f);
  EXPECT_FLOAT_EQ(d.at(3, 2), -6.5f);   // centre 3.5
  EXPECT_FLOAT_EQ(d.at(31, 7), 21.5f);

  Plane dot(40, 40);
  dot.at(20, 20) = 0.5f;  // half covered counts as inside
  const Plane e = SignedDistance(dot);
  EXPECT_FLOAT_EQ(e.at(23, 24), 4.5f);  // 3-4-5 triangle
  EXPECT_FLOAT_EQ(e.at(20, 20), -0.5f);
  EXPECT_FLOAT_EQ(e.at(0, 0), float(std::sqrt(800.0) - 0.5));
}

TEST(SignedDistance, EmptyPlaneIsFarOutsideEverywhere) {
  const Plane d = SignedDistance(Plane(16, 4));
  for (float v : d.v) EXPECT_GT(v, 1e5f);
}

TEST(FillPolygon, FillsThePixelsWhoseCentresLieInside) {
  Plane p(10, 10);
  FillPolygon(p, {{2, 2}, {6, 2}, {6, 5}, {2, 5}});
  FillPolygon(p, {{2.6, 7}, {3.6, 7}, {3.6, 9}, {2.6, 9}});  // narrower than a pixel, yet holds centres x = 3.5
  int filled = 0;
  for (float v : p.v) filled += v == 1.0f;
  EXPECT_EQ(filled, 4 * 3 + 2);
  EXPECT_EQ(p.at(2, 2), 1.0f);
  EXPECT_EQ(p.at(5, 4), 1.0f);
  EXPECT_EQ(p.at(6, 4), 0.0f);
  EXPECT_EQ(p.at(3, 7), 1.0f);
  EXPECT_EQ(p.at(3, 8), 1.0f);
  EXPECT_EQ(p.at(2, 7), 0.0f);
}

// ---- Text and layout -----------------------------------------------------------

const ArtFonts& Fonts() {
  static ArtFonts fonts;
  static const std::string error = OpenArtFonts(QUENRIK_FONT_DIR, fonts);
  EXPECT_EQ(error, "");
  return fonts;
}

TEST(DrawText, RefusesACharacterTheFontLacks) {
  Plane p(64, 64);
  const std::string error = DrawText(Fonts().bold, "a\xE4\xB8\x80", 20.0, 4.0, 40.0, p);  // U+4E00, a CJK ideograph
  EXPECT_NE(error.find("no glyph"), std::string::npos) << error;
}

ArtPicture Card(std::array<CardLine, MaxCardLines> lines) {
  return {"test.hwl", ArtKind::Card, lines, PictureSize / 2, 1.0, {4, 8}};
}

// Columns holding light, as [first, last].
std::pair<int, int> LitColumns(const RgbImage& image) {
  int first = image.width, last = -1;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t* p = &image.rgb[(std::size_t(y) * image.width + x) * 3];
      if (p[0] || p[1] || p[2]) first = std::min(first, x), last = std::max(last, x);
    }
  return {first, last};
}

TEST(CardLayout, LongLineShrinksToTheWidthAndStaysCentred) {
  RgbImage image;
  ASSERT_EQ(RenderPicture(Card({CardLine{"a line far too long for any card"}}), Fonts(), image), "");
  const auto [first, last] = LitColumns(image);
  EXPECT_GT(first, 8);                       // glow included, the edge stays black
  EXPECT_LT(last, PictureSize - 1 - 8);
  EXPECT_GT(last - first, PictureSize * 3 / 4);  // shrunk to fit, not far below it
  EXPECT_LE(std::abs((first + last) - (PictureSize - 1)), 4);
}

TEST(CardLayout, TextTooTallForTheCardIsAnError) {
  const CardLine shout{"RUN", LineRole::Shout};
  RgbImage image;
  EXPECT_NE(RenderPicture(Card({shout, shout, shout, shout}), Fonts(), image), "");
}

// ---- Remaking the committed files ------------------------------------------------

// The pictures drawn from fonts depend on FreeType's rasteriser, which changes
// slightly between releases, and on the font files: byte equality is only
// promised for the FreeType release and font files the committed pictures
// were made with (Debian 12). The logo is drawn from polygons alone with
// IEEE arithmetic and must match everywhere.
constexpr const char* MadeWithFreeType = "2.12.1";
constexpr std::uintmax_t MadeWithBoldSize = 708920;     // DejaVuSans-Bold.ttf of DejaVu 2.37
constexpr std::uintmax_t MadeWithObliqueSize = 645600;  // DejaVuSans-BoldOblique.ttf of DejaVu 2.37

std::string FontReproducibility() {
  if (FreeTypeVersion() != MadeWithFreeType)
    return "FreeType " + FreeTypeVersion() + " is not " + MadeWithFreeType + ", whose rasteriser made the text";
  std::error_code ec;
  const std::string dir = QUENRIK_FONT_DIR;
  if (std::filesystem::file_size(dir + "/DejaVuSans-Bold.ttf", ec) != MadeWithBoldSize ||
      std::filesystem::file_size(dir + "/DejaVuSans-BoldOblique.ttf", ec) != MadeWithObliqueSize)
    return "the DejaVu font files differ from the ones that made the text";
  return {};
}

std::vector<std::uint8_t> ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RemadePicture : public testing::TestWithParam<ArtPicture> {};

TEST_P(RemadePicture, EqualsTheCommittedFileByteForByte) {
  const ArtPicture& picture = GetParam();
  if (picture.kind != ArtKind::Logo)
    if (const std::string why = FontReproducibility(); !why.empty()) GTEST_SKIP() << why;
  RgbImage image;
  ASSERT_EQ(RenderPicture(picture, Fonts(), image), "");
  std::vector<std::uint8_t> file;
  const HwlStatus status = EncodeHwlImage(image.rgb, image.width, image.height, 3, picture.coding, file);
  ASSERT_TRUE(status) << status.message;
  const std::vector<std::uint8_t> committed = ReadFile(std::string(QUENRIK_DATA_DIR) + "/" + picture.fileName);
  ASSERT_EQ(file.size(), committed.size()) << "remake data/ with tools/make-assets.sh";
  EXPECT_TRUE(file == committed) << "remake data/ with tools/make-assets.sh";
}


#ifdef QUENRIK_ART_REMAKE_SAMPLE
// The logo's polygons and a text card with headings and the closing page's size.
INSTANTIATE_TEST_SUITE_P(Data, RemadePicture, testing::Values(ArtPictures[0], ArtPictures[12]), PictureTestName);
#else
INSTANTIATE_TEST_SUITE_P(Data, RemadePicture, testing::ValuesIn(ArtPictures), PictureTestName);
#endif

}  // namespace
