// A picture larger than the GL implementation's textures, on a real context:
// an error naming the file and both sizes, in the show core's loading and in
// quenrik-capture, which runs the same core (before, a silent failed upload,
// or "OpenGL reported error 1281 while drawing").
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "headless_gl.h"
#include "hwl_files.h"
#include "image_textures.h"

namespace {

class TextureLimit : public ScratchDataDirectory {
 protected:
  void SetUp() override {
    ScratchDataDirectory::SetUp();
    std::string error;
    context_ = OpenHeadlessGl(64, 64, error);
    if (!context_) GTEST_SKIP() << "no headless GL: " << error;
    side_ = QueryMaxTextureSide();
    ASSERT_GE(side_, 64);
    if (side_ > 65532) GTEST_SKIP() << "textures of " << side_ << " pixels: no HWL picture is wider";
    // Text 1 is four pixels wider than any texture can be.
    WriteAllShowPictures();
    WriteColourFile("loading.hwl", 8, 8, 1);
    wide_ = (side_ / 4 + 1) * 4;
    WriteColourFile("text_1.hwl", wide_, 4, 1);
  }
  void TearDown() override {
    PictureLimits = {};
    context_.reset();
    ScratchDataDirectory::TearDown();
  }
  std::string Expected() const {
    return "text_1.hwl: the picture is " + std::to_string(wide_) + " x 4 pixels; the largest texture this OpenGL "
           "takes is " + std::to_string(side_) + " x " + std::to_string(side_);
  }

  HeadlessGlHandle context_;
  int side_ = 0, wide_ = 0;
};

TEST_F(TextureLimit, TheShowsLoadingNamesThePicture) {
  PictureLimits.maxTextureSide = side_;
  const HwlStatus status = LoadImageTextures();
  EXPECT_EQ(status.code, 201);
  EXPECT_NE(status.message.find(Expected()), std::string::npos) << status.message;
}

#ifdef QUENRIK_CAPTURE_PROGRAM
TEST_F(TextureLimit, TheCaptureNamesThePicture) {
  const std::string command =
      std::string("'") + QUENRIK_CAPTURE_PROGRAM + "' --render-only --size 64x64 --to 100 2>capture.err";
  const int status = std::system(command.c_str());
  EXPECT_NE(status, 0);
  std::FILE* err = std::fopen("capture.err", "r");
  ASSERT_NE(err, nullptr);
  char text[4096] = {};
  text[std::fread(text, 1, sizeof text - 1, err)] = 0;
  std::fclose(err);
  EXPECT_NE(std::string(text).find(Expected()), std::string::npos) << text;
}
#endif

}  // namespace
