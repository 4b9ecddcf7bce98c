// Chosen frames of the show rendered by Mesa in a headless context, with the
// real pictures from data/, compared with reference PNGs in reference/.
// QUENRIK_WRITE_REFERENCES=1 rewrites the references instead of comparing;
// QUENRIK_DATA_ROOT names another folder holding data/ (for trying pictures).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "gl.h"
#include "gl_recorder.h"
#include "show_render.h"
#include "timeline.h"

namespace {

constexpr int Width = 640;  // the show's default window
constexpr int Height = 480;
constexpr int Spacing = 15;  // ms of music per frame, as the main loop paces it

// Play the show at 15 ms per frame from 0 without drawing (GL table on the
// recorder), then draw the frame at `clock` for real.
void PlayUpTo(int clock) {
  BindGlRecorder();
  for (int t = 0; t < clock; t += Spacing) {
    RunTimeline(t);
    Recorder.calls.clear();
  }
  ASSERT_TRUE(LoadGL(GlLibraryName));
  ASSERT_TRUE(LoadGLU(GluLibraryName));
  RunTimeline(clock);
}

void CheckFrame(const std::string& name, int clock) {
  ASSERT_EQ(clock % Spacing, 0) << "frames lie on the 15 ms grid";
  ShowRender show;
  const char* dataRoot = std::getenv("QUENRIK_DATA_ROOT");
  const std::string error = OpenShowRender(show, Width, Height, dataRoot ? dataRoot : QUENRIK_SOURCE_ROOT);
  ASSERT_EQ(error, "");
  PlayUpTo(clock);
  ASSERT_EQ(gl::glGetError(), gl::GL_NO_ERROR);
  const RgbImage actual = ReadFrame(show);

  const std::string reference = std::string(QUENRIK_REFERENCE_DIR) + "/" + name + ".png";
  const char* write = std::getenv("QUENRIK_WRITE_REFERENCES");
  if (write && std::string(write) == "1") {
    ASSERT_TRUE(WriteFramePng(reference, actual)) << reference;
    GTEST_SKIP() << "wrote " << reference;
  }
  RgbImage expected;
  ASSERT_TRUE(ReadFramePng(reference, expected)) << "cannot read " << reference;
  ASSERT_EQ(expected.width, actual.width);
  ASSERT_EQ(expected.height, actual.height);
  const std::string difference = CompareFrames(actual, expected);
  if (!difference.empty()) WriteFramePng(std::string(QUENRIK_ACTUAL_DIR) + "/" + name + ".actual.png", actual);
  EXPECT_EQ(difference, "") << name << "; the frame is in " << QUENRIK_ACTUAL_DIR;
}

// The logo stack fading in (alpha 0.398) under text image 1 at rest.
TEST(RenderedFrames, B1WithEnterText1At200thFrame) { CheckFrame("b1_enter_text1_frame200", 199 * Spacing); }
// A burst: squares pushed apart in depth, text image 1 sliding out left.
TEST(RenderedFrames, B2BurstWithLeaveText1) { CheckFrame("b2_leave_text1", 5850); }
// The spiral staircase, text image 2 resting on the right.
TEST(RenderedFrames, B3StaircaseWithEnterText2) { CheckFrame("b3_enter_text2", 9000); }
// B13's edges behind the shaking card of text image 99.
TEST(RenderedFrames, B13WithShakeText99) { CheckFrame("b13_shake_text99", 57300); }
// The closing page: text images 10 and 11 on their small cards.
TEST(RenderedFrames, ClosingPage) { CheckFrame("closing_page", 62010); }
// The fade, about half way down.
TEST(RenderedFrames, ClosingFade) { CheckFrame("closing_fade", 66000); }

}  // namespace
