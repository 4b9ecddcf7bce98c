// The timeline's windows at every boundary, and what RunTimeline draws there.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "gl_recorder.h"
#include "layers.h"
#include "show_state.h"
#include "timeline.h"

namespace {

std::string LayersAt(std::int32_t clock) {
  const TimelineWindow& window = TimelineWindowAt(clock);
  return std::string(window.backgroundName) + " " + window.overlayName;
}

TEST(Timeline, EveryBoundarySwitchesAtTheStatedMillisecond) {
  struct Boundary {
    std::int32_t last;  // the last millisecond of one window; the next starts one later
    const char* before;
    const char* after;
  };
  const Boundary boundaries[] = {
      {5760, "B1 EnterText1", "B2 LeaveText1"},      {6460, "B2 LeaveText1", "B3 EnterText2"},
      {11530, "B3 EnterText2", "B4 LeaveText2"},     {12230, "B4 LeaveText2", "B5 EnterText3"},
      {17300, "B5 EnterText3", "B6 LeaveText3"},     {18000, "B6 LeaveText3", "B7 EnterText4"},
      {22730, "B7 EnterText4", "- -"},               {23920, "- -", "B8 LeaveText4"},
      {24620, "B8 LeaveText4", "B7 EnterText5"},     {29700, "B7 EnterText5", "B8 LeaveText5"},
      {30400, "B8 LeaveText5", "B7 EnterText6"},     {35480, "B7 EnterText6", "B8 LeaveText6"},
      {36380, "B8 LeaveText6", "B9 EnterText7"},     {41250, "B9 EnterText7", "B10 LeaveText7"},
      {41950, "B10 LeaveText7", "B11 EnterText8"},   {47010, "B11 EnterText8", "B12 LeaveText8"},
      {47710, "B12 LeaveText8", "B9 EnterText9"},    {52800, "B9 EnterText9", "B10 LeaveText9"},
      {53500, "B10 LeaveText9", "B9 EnterText99"},   {56840, "B9 EnterText99", "B1 ShakeText99"},
      {57140, "B1 ShakeText99", "B13 ShakeText99"},  {57440, "B13 ShakeText99", "B11 ShakeText99"},
      {57740, "B11 ShakeText99", "B7 -"},            {58040, "B7 -", "B8 -"},
      {59000, "B8 -", "- ClosingPage"},              {65500, "- ClosingPage", "- ClosingFade"},
      {66999, "- ClosingFade", "- -"},
  };
  for (const Boundary& boundary : boundaries) {
    EXPECT_EQ(LayersAt(boundary.last), boundary.before) << boundary.last;
    EXPECT_EQ(LayersAt(boundary.last + 1), boundary.after) << boundary.last + 1;
  }
}

TEST(Timeline, ClocksBeforeTheMusicMovesAndAfterTheEnd) {
  for (std::int32_t clock : {std::numeric_limits<std::int32_t>::min(), -100000, -1, 0, 1, 5760})
    EXPECT_EQ(LayersAt(clock), "B1 EnterText1") << clock;
  for (std::int32_t clock : {67000, 67001, 1000000, std::numeric_limits<std::int32_t>::max()})
    EXPECT_EQ(LayersAt(clock), "- -") << clock;
}

TEST(Timeline, WindowsCoverEveryClockWithoutOverlapInOrder) {
  for (size_t i = 1; i < Timeline.size(); ++i) EXPECT_EQ(Timeline[i].from, Timeline[i - 1].to + 1) << i;
  EXPECT_EQ(Timeline.front().from, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(Timeline.back().from, ShowEndMs);
  EXPECT_EQ(Timeline.back().to, std::numeric_limits<std::int32_t>::max());
  // Names and pointers agree: a dash is exactly a missing layer.
  for (const TimelineWindow& window : Timeline) {
    EXPECT_EQ(window.background == nullptr, std::string(window.backgroundName) == "-");
    EXPECT_EQ(window.overlay == nullptr, std::string(window.overlayName) == "-");
  }
  EXPECT_EQ(TimelineWindowAt(27000).background, &B7);
  EXPECT_EQ(TimelineWindowAt(57000).overlay, &ShakeText99);
}

class TimelineDrawing : public ::testing::Test {
 protected:
  void SetUp() override {
    BindGlRecorder();  // first: ResetBackgroundState sets the clear colour
    FillCircleTable();
    ResetBackgroundState();
    ResetOverlayState();
  }
};

TEST_F(TimelineDrawing, EmptyWindowsDrawNothing) {
  for (std::int32_t clock : {22731, 23000, 23920, 67000, 67001, 2000000000}) {
    Recorder.calls.clear();
    RunTimeline(clock);
    EXPECT_TRUE(Recorder.calls.empty()) << clock;
  }
}

TEST_F(TimelineDrawing, BackgroundDrawsBeforeOverlay) {
  // RunTimeline at 27000 must issue B7's calls followed by EnterText5's.
  RunTimeline(27000);
  const std::vector<GlCall> together = Recorder.calls;
  SetUp();
  B7();
  const size_t backgroundCalls = Recorder.calls.size();
  EnterText5();
  const std::vector<std::string> expected = FormatCalls(Recorder.calls);
  EXPECT_EQ(FormatCalls(together), expected);
  EXPECT_LE(backgroundCalls, expected.size());
}

}  // namespace
