// Chosen frames of the show rendered by Mesa in a headless context, with the
// real pictures from data/, compared with reference PNGs in reference/: drawn
// through desktop GL, and through the fixed-function layer over OpenGL ES 2.0
// (what the browser draws with) against the same references.
// QUENRIK_WRITE_REFERENCES=1 rewrites the references from desktop GL instead
// of comparing; QUENRIK_DATA_ROOT names another folder holding data/ (for
// trying pictures); QUENRIK_KEEP_FRAMES=1 keeps every rendered frame beside
// the test binary.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>

#include "gl.h"
#include "gl_recorder.h"
#include "show_render.h"
#include "timeline.h"

namespace {

constexpr int Width = 640;  // the show's default window
constexpr int Height = 480;
constexpr int Spacing = 15;  // ms of music per frame, as the main loop paces it

struct ReferenceFrame {
  const char* name;  // of the PNG in reference/
  int clock;         // ms of music, in increasing order
};

const ReferenceFrame ReferenceFrames[] = {
    // The logo stack fading in (alpha 0.398) under text image 1 at rest.
    {"b1_enter_text1_frame200", 199 * Spacing},
    // A burst: squares pushed apart in depth, text image 1 sliding out left.
    {"b2_leave_text1", 5850},
    // The spiral staircase, text image 2 resting on the right.
    {"b3_enter_text2", 9000},
    // B13's edges behind the shaking card of text image 99.
    {"b13_shake_text99", 57300},
    // The closing page: text images 10 and 11 on their small cards.
    {"closing_page", 62010},
    // The fade, about half way down.
    {"closing_fade", 66000},
};

void CheckFrame(const ShowRender& show, const ReferenceFrame& frame, const char* drawingName) {
  const RgbImage actual = ReadFrame(show);
  const std::string reference = std::string(QUENRIK_REFERENCE_DIR) + "/" + frame.name + ".png";
  const char* write = std::getenv("QUENRIK_WRITE_REFERENCES");
  if (write && std::string(write) == "1") {
    if (show.drawing == ShowDrawing::DesktopGl) {  // the references come from desktop GL
      EXPECT_TRUE(WriteFramePng(reference, actual)) << reference;
    }
    return;
  }
  RgbImage expected;
  ASSERT_TRUE(ReadFramePng(reference, expected)) << "cannot read " << reference;
  ASSERT_EQ(expected.width, actual.width);
  ASSERT_EQ(expected.height, actual.height);
  const std::string difference = CompareFrames(actual, expected);
  const std::string actualPath = std::string(QUENRIK_ACTUAL_DIR) + "/" + frame.name + "." + drawingName + ".png";
  if (!difference.empty() || std::getenv("QUENRIK_KEEP_FRAMES")) WriteFramePng(actualPath, actual);
  EXPECT_EQ(difference, "") << "the frame is " << actualPath;
}

struct Drawing {
  ShowDrawing drawing;
  const char* name;
};

void PrintTo(const Drawing& drawing, std::ostream* out) { *out << drawing.name; }

const Drawing Drawings[] = {
    {ShowDrawing::DesktopGl, "DesktopGl"},
#ifdef QUENRIK_HAVE_GL_FIXED
    {ShowDrawing::FixedOverGles2, "FixedOverGles2"},
#endif
};

class RenderedFrames : public testing::TestWithParam<Drawing> {};

// Play the show from 0 at 15 ms per frame, with the GL table on the recorder
// (no drawing) except at the reference frames, which are drawn for real and
// compared. One pass decodes the pictures once for all six frames.
TEST_P(RenderedFrames, MatchReferences) {
  const Drawing drawing = GetParam();
  ShowRender show;
  const char* dataRoot = std::getenv("QUENRIK_DATA_ROOT");
  ASSERT_EQ(OpenShowRender(show, Width, Height, dataRoot ? dataRoot : QUENRIK_SOURCE_ROOT, drawing.drawing), "");
  int clock = 0;
  for (const ReferenceFrame& frame : ReferenceFrames) {
    SCOPED_TRACE(frame.name);
    ASSERT_EQ(frame.clock % Spacing, 0) << "frames lie on the 15 ms grid";
    BindGlRecorder();
    for (; clock < frame.clock; clock += Spacing) {
      RunTimeline(clock);
      Recorder.calls.clear();
    }
    ASSERT_EQ(BindShowDrawing(drawing.drawing), "");
    RunTimeline(clock);
    clock += Spacing;
    ASSERT_EQ(gl::glGetError(), gl::GL_NO_ERROR);
    CheckFrame(show, frame, drawing.name);
  }
}

INSTANTIATE_TEST_SUITE_P(Show, RenderedFrames, testing::ValuesIn(Drawings),
                         [](const testing::TestParamInfo<Drawing>& info) { return info.param.name; });

}  // namespace
