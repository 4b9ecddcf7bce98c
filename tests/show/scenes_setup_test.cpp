// Render state, texture creation and the loading screen, call by call.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gl.h"
#include "gl_recorder.h"
#include "hwl_files.h"
#include "image_textures.h"
#include "loading_screen.h"
#include "render_state.h"

namespace {

using Lines = std::vector<std::string>;

TEST(RenderState, SetsViewportProjectionBlendingAndDepthInOrder) {
  BindGlRecorder();
  SetUpRenderState(640, 480);
  EXPECT_EQ(FormatCalls(Recorder.calls),
            (Lines{"glViewport(0, 0, 640, 480)", "glMatrixMode(5889)", "glLoadIdentity()",
                   "gluPerspective(45, 1.33333333, 0.1, 100)", "glMatrixMode(5888)", "glLoadIdentity()",
                   "glShadeModel(7425)", "glClearColor(0, 0, 0, 1)", "glClearDepth(1)", "glDepthFunc(515)",
                   "glHint(3152, 4354)", "glColor4f(1, 1, 1, 0.5)", "glBlendFunc(770, 1)", "glEnable(3042)",
                   "glDisable(2929)"}));
}

TEST(RenderState, AspectIsComputedInDoublePrecisionForEverySize) {
  for (auto [width, height] : {std::pair{640, 480}, {800, 600}, {1024, 768}, {1000, 300}}) {
    BindGlRecorder();
    SetUpRenderState(width, height);
    const GlCall& perspective = Recorder.calls.at(3);
    ASSERT_EQ(perspective.name, "gluPerspective");
    EXPECT_EQ(perspective.args.at(0), 45.0);
    EXPECT_EQ(perspective.args.at(1), static_cast<double>(width) / height);  // exact: passed as a double
    EXPECT_EQ(perspective.args.at(2), 0.1);
    EXPECT_EQ(perspective.args.at(3), 100.0);
    EXPECT_EQ(FormatCall(Recorder.calls.at(0)), "glViewport(0, 0, " + std::to_string(width) + ", " +
                                                    std::to_string(height) + ")");
  }
}

TEST(ImageTexture, UploadsBgraLevelZeroAsRgbWithLinearFiltersAndRepeat) {
  BindGlRecorder();
  Recorder.nextTexture = 7;
  ImageTexture record;
  record.width = 64;
  record.height = 32;
  record.pixels.assign(64 * 32 * 4, 0);
  MakeImageTexture(record);
  EXPECT_EQ(record.texture, 7u);  // the name glGenTextures gave, not an assumed one
  EXPECT_EQ(FormatCalls(Recorder.calls),
            (Lines{"glGenTextures(1)", "glBindTexture(3553, 7)", "glTexImage2D(3553, 0, 3, 64, 32, 0, 32993, 5121)",
                   "glTexParameteri(3553, 10241, 9729)", "glTexParameteri(3553, 10240, 9729)",
                   "glTexParameteri(3553, 10242, 10497)", "glTexParameteri(3553, 10243, 10497)"}));
  EXPECT_EQ(Recorder.calls.at(2).pointer, record.pixels.data());
}

class LoadingScreen : public ScratchDataDirectory {};

TEST_F(LoadingScreen, DrawsTheLoadingSquareAndPresentsItOnce) {
  WriteColourFile("loading.hwl", 32, 64, 1);
  BindGlRecorder();
  Recorder.nextTexture = 3;
  static int swaps;
  swaps = 0;
  SwapBuffersHook = [] { ++swaps; };
  ASSERT_TRUE(ShowLoadingScreen());
  SwapBuffersHook = nullptr;
  EXPECT_EQ(swaps, 1);
  const ImageTexture& loading = PictureRecord(Picture::Loading);
  EXPECT_EQ(loading.width, 32);  // not square: still drawn on the 20 x 20 square
  EXPECT_EQ(loading.height, 64);
  EXPECT_EQ(loading.texture, 3u);
  EXPECT_EQ(FormatCalls(Recorder.calls),
            (Lines{"glTexEnvi(8960, 8704, 8448)", "glGenTextures(1)", "glBindTexture(3553, 3)",
                   "glTexImage2D(3553, 0, 3, 32, 64, 0, 32993, 5121)", "glTexParameteri(3553, 10241, 9729)",
                   "glTexParameteri(3553, 10240, 9729)", "glTexParameteri(3553, 10242, 10497)",
                   "glTexParameteri(3553, 10243, 10497)", "glTexEnvi(8960, 8704, 8448)", "glClear(16640)",
                   "glLoadIdentity()", "glTranslatef(0, 0, -40)", "glEnable(3553)", "glBindTexture(3553, 3)",
                   "glColor4f(1, 1, 1, 1)", "glBegin(7)", "glNormal3f(0, 0, 1)", "glTexCoord2f(0, 1)",
                   "glVertex3f(-10, -10, 0)", "glTexCoord2f(1, 1)", "glVertex3f(10, -10, 0)", "glTexCoord2f(1, 0)",
                   "glVertex3f(10, 10, 0)", "glTexCoord2f(0, 0)", "glVertex3f(-10, 10, 0)", "glEnd()",
                   "glDisable(3553)"}));
}

TEST_F(LoadingScreen, MissingPictureIsReturnedBeforeAnythingIsDrawnOrPresented) {
  BindGlRecorder();
  static int swaps;
  swaps = 0;
  SwapBuffersHook = [] { ++swaps; };
  const HwlStatus status = ShowLoadingScreen();
  SwapBuffersHook = nullptr;
  EXPECT_EQ(status.code, HwlFileNotFound);
  EXPECT_NE(status.message.find("loading.hwl"), std::string::npos) << status.message;
  EXPECT_EQ(swaps, 0);
  for (const GlCall& call : Recorder.calls) EXPECT_NE(call.name, "glClear");
}

class ShowTextures : public ScratchDataDirectory {};

TEST_F(ShowTextures, UploadsEveryPictureInTableOrderIntoItsRecord) {
  WriteAllShowPictures();
  BindGlRecorder();
  Recorder.nextTexture = 20;
  ASSERT_TRUE(LoadImageTextures());
  std::vector<int> uploadedWidths;
  int texEnvCalls = 0;
  for (const GlCall& call : Recorder.calls) {
    if (call.name == "glTexImage2D") uploadedWidths.push_back(static_cast<int>(call.args.at(3)));
    if (call.name == "glTexEnvi") ++texEnvCalls;
  }
  EXPECT_EQ(uploadedWidths, (std::vector<int>{4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 52}));
  EXPECT_EQ(texEnvCalls, 2);  // before the first upload and again after it
  EXPECT_EQ(Recorder.calls.at(0).name, "glTexEnvi");
  unsigned expectedName = 20;
  int index = 0;
  for (const PictureFile& file : ShowPictureFiles) {
    const ImageTexture& record = PictureRecord(file.picture);
    EXPECT_EQ(record.texture, expectedName++) << file.fileName;
    EXPECT_EQ(record.width, 4 * (index + 1)) << file.fileName;
    EXPECT_EQ(record.height, 4);
    EXPECT_EQ(record.pixels.size(), static_cast<size_t>(record.width) * record.height * 4);
    ++index;
  }
  // Text image 99 sits between 9 and 10 in the load order.
  EXPECT_EQ(PictureRecord(Picture::Text99).width, 44);
  EXPECT_EQ(PictureRecord(Picture::Text10).width, 48);
}

TEST_F(ShowTextures, RedPixelReachesTheUploadAsBlueGreenRedBytes) {
  WriteAllShowPictures();
  BindGlRecorder();
  ASSERT_TRUE(LoadImageTextures());
  // Picture 0 (the logo) was written as pure red.
  const ImageTexture& logo = PictureRecord(Picture::Logo);
  ASSERT_GE(logo.pixels.size(), 4u);
  EXPECT_EQ(logo.pixels[0], 0);    // blue
  EXPECT_EQ(logo.pixels[1], 0);    // green
  EXPECT_EQ(logo.pixels[2], 255);  // red
}

TEST_F(ShowTextures, FirstFailureInTableOrderIsReturnedAfterUploadingTheOnesBefore) {
  WriteAllShowPictures();
  std::filesystem::remove("data/text_99.hwl");
  std::filesystem::remove("data/text_11.hwl");
  BindGlRecorder();
  const HwlStatus status = LoadImageTextures();
  EXPECT_EQ(status.code, HwlFileNotFound);
  EXPECT_NE(status.message.find("text_99.hwl"), std::string::npos) << status.message;
  int uploads = 0;
  for (const GlCall& call : Recorder.calls) uploads += call.name == "glTexImage2D";
  EXPECT_EQ(uploads, 10);  // the logo and text images 1 to 9
}

TEST_F(ShowTextures, ShortFileEndsWithReadPastEnd) {
  WriteAllShowPictures();
  std::vector<char> bytes;
  {
    std::ifstream in("data/text_3.hwl", std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_GT(bytes.size(), 40u);
  bytes.resize(bytes.size() - 5);
  std::ofstream("data/text_3.hwl", std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  BindGlRecorder();
  EXPECT_EQ(LoadImageTextures().code, HwlReadPastEnd);
}

TEST_F(ShowTextures, GreyPictureIsRefusedInsteadOfUploadingPastItsBuffer) {
  WriteAllShowPictures();
  WriteGreyFile("text_5.hwl", 64, 8);
  BindGlRecorder();
  const HwlStatus status = LoadImageTextures();
  EXPECT_EQ(status.code, HwlFormatError);
  EXPECT_NE(status.message.find("text_5.hwl"), std::string::npos) << status.message;
  for (const GlCall& call : Recorder.calls) {
    if (call.name == "glTexImage2D") {
      EXPECT_NE(call.args.at(3), 64.0) << "the grey picture was uploaded";
    }
  }
}

}  // namespace
