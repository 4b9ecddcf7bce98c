// The committed pictures, decoded with the show's own loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "art_test_names.h"
#include "hwl.h"
#include "image_textures.h"
#include "pictures.h"

namespace {

constexpr int EdgeBand = 8;     // pixels along each edge that must stay black
constexpr int NearlyBlack = 2;  // largest channel value still counted as black

std::string DataFile(const std::string& name) { return std::string(QUENRIK_DATA_DIR) + "/" + name; }

struct Decoded {
  HwlHeader header;
  std::vector<std::uint8_t> pixels;  // 32-bit words, bytes blue, green, red, 0
  int Brightest(int x, int y) const {
    const std::uint8_t* p = &pixels[(std::size_t(y) * header.width + std::size_t(x)) * 4];
    return std::max({p[0], p[1], p[2]});
  }
};

Decoded Load(const std::string& name) {
  Decoded d;
  const HwlStatus status = LoadHwlImage(d.pixels, d.header, DataFile(name), true);
  EXPECT_TRUE(status) << status.message;
  return d;
}


class CommittedPicture : public testing::TestWithParam<ArtPicture> {};

// The show uploads every picture as a 24-bit texture of four bytes per pixel;
// with GL_REPEAT and linear filtering the opposite edges blend, so a lit edge
// would draw a seam around every square and card.
TEST_P(CommittedPicture, DecodesAsSquareColourPictureWithBlackEdges) {
  const Decoded d = Load(GetParam().fileName);
  ASSERT_EQ(d.header.bitsPerPixel, 24);
  ASSERT_EQ(d.header.width, PictureSize);
  ASSERT_EQ(d.header.height, PictureSize);
  ASSERT_EQ(d.pixels.size(), std::size_t(PictureSize) * PictureSize * 4);
  int litEdgePixels = 0, litPixels = 0;
  for (int y = 0; y < PictureSize; ++y)
    for (int x = 0; x < PictureSize; ++x) {
      const bool edge = std::min({x, y, PictureSize - 1 - x, PictureSize - 1 - y}) < EdgeBand;
      const bool lit = d.Brightest(x, y) > NearlyBlack;
      litEdgePixels += edge && lit;
      litPixels += lit;
    }
  EXPECT_EQ(litEdgePixels, 0);
  EXPECT_GT(litPixels, PictureSize * PictureSize / 50) << "a picture with hardly any light in it";
}

INSTANTIATE_TEST_SUITE_P(Data, CommittedPicture, testing::ValuesIn(ArtPictures), PictureTestName);

TEST(CommittedPictures, MakerWritesEveryFileTheShowLoads) {
  std::vector<std::string> wanted = {LoadingPictureFile};
  for (const PictureFile& file : ShowPictureFiles) wanted.push_back(file.fileName);
  std::vector<std::string> made;
  for (const ArtPicture& picture : ArtPictures) made.push_back(std::string("data/") + picture.fileName);
  std::sort(wanted.begin(), wanted.end());
  std::sort(made.begin(), made.end());
  EXPECT_EQ(made, wanted);
}

// Brightness-weighted mean column of the rows [top, bottom), relative to the
// middle of the columns that hold bright pixels there, as a fraction of
// their width: the heavy M of "ZEM" pulls it toward the M's side.
double InkBalance(const Decoded& d, int top, int bottom) {
  constexpr int Bright = 64;
  double sum = 0.0, weighted = 0.0;
  int left = PictureSize, right = -1;
  for (int y = top; y < bottom; ++y)
    for (int x = 0; x < PictureSize; ++x) {
      const int v = d.Brightest(x, y);
      sum += v;
      weighted += double(v) * x;
      if (v > Bright) left = std::min(left, x), right = std::max(right, x);
    }
  if (right < left || sum == 0.0) return 0.0;
  return (weighted / sum - (left + right) / 2.0) / double(right - left + 1);
}

// The background squares map the file's last column to the screen's left, the
// loading square its first column: the logo file holds "ZEM" mirrored (M on
// the left), the loading picture holds it as it reads.
TEST(CommittedPictures, LogoIsStoredMirroredAndTheLoadingMarkIsNot) {
  constexpr double Lopsided = 0.02;
  const double logo = InkBalance(Load("zem_logo.hwl"), 0, PictureSize);
  const double loadingMark = InkBalance(Load("loading.hwl"), 0, PictureSize * 9 / 16);  // the mark above the word
  EXPECT_LT(logo, -Lopsided);
  EXPECT_GT(loadingMark, Lopsided);
}

}  // namespace
