// The whole show without a window: a fake music clock steps through 0 ...
// 67000 ms, the timeline runs against the recorder, and the show's
// invariants are checked frame by frame and at every window's end.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "layer_test_support.h"
#include "layers.h"
#include "timeline.h"

namespace {

struct Point {
  double x, y;
};

// Where each entering card rests, and which way each leaving card slides.
const std::map<std::string, Point> RestingPlace = {
    {"EnterText1", {-10, -13}}, {"EnterText2", {9, 7}},   {"EnterText3", {6, -8}},
    {"EnterText4", {-9, 1}},    {"EnterText5", {0, 0}},   {"EnterText6", {9, 7}},
    {"EnterText7", {-9, 1}},    {"EnterText8", {-10, -7}}, {"EnterText9", {9, 7}},
    {"EnterText99", {0, 0}},
};
const std::map<std::string, Point> LeavingStep = {
    {"LeaveText1", {-1, 0}}, {"LeaveText2", {1, 0}}, {"LeaveText3", {1, 0}},
    {"LeaveText4", {0, 1}},  {"LeaveText5", {-1, 0}}, {"LeaveText6", {1, 0}},
    {"LeaveText7", {0, 1}},  {"LeaveText8", {-1, 0}}, {"LeaveText9", {1, 0}},
};
bool IsBurst(const char* name) {
  for (const char* burst : {"B2", "B4", "B6", "B8", "B10", "B12", "B13"})
    if (std::strcmp(name, burst) == 0) return true;
  return false;
}

bool Is(const char* name, const char* expected) { return std::strcmp(name, expected) == 0; }

// The CircleTable indices the frame's overlay layer reads, from the counters
// before the frame.
std::vector<int> OverlayIndices(const char* overlay, const OverlayState& before) {
  const auto trunc = [](double v) { return static_cast<int>(v); };
  if (std::strncmp(overlay, "EnterText", 9) == 0 || Is(overlay, "ClosingPage")) return {trunc(before.PhaseA)};
  if (std::strncmp(overlay, "LeaveText", 9) == 0 || Is(overlay, "ShakeText99"))
    return {trunc(before.PhaseB == 1.0 ? before.PhaseA : before.PhaseB)};
  if (Is(overlay, "ClosingFade"))
    return before.PhaseB == 1.0 ? std::vector<int>{trunc(before.PhaseA), 1}
                                : std::vector<int>{trunc(before.PhaseB), trunc(before.PhaseA)};
  return {};
}

struct ShowSummary {
  int frames = 0;
  int fadeFrames = 0;
  double lastDrawnFadeAlpha = 0;
  int backgroundFrames = 0;
  int fadeRestarts = 0;
  int burstsEnded = 0;
  int maxIndex = 0;
  int windowsChecked = 0;
};

// Runs the show at the given music clock of frame i, checks every frame and
// every window's end, and returns a summary.
ShowSummary PlayShow(const std::function<int(int)>& clockOfFrame) {
  StartShow();
  ShowSummary summary;
  const TimelineWindow* previous = nullptr;
  const TimelineWindow* lastBackgroundWindow = nullptr;
  int framesInWindow = 0;
  Point windowStartCard{};
  OverlayState overlayAtWindowStart = Overlay;

  // Checks at the end of a window (the frame before the next one starts).
  const auto endWindow = [&](const TimelineWindow& w) {
    const std::string overlay = w.overlayName;
    const CardPositionRecord& p = Overlay.CardPosition;
    SCOPED_TRACE(overlay + " ending at " + std::to_string(w.to));
    if (framesInWindow == 0) return;
    ++summary.windowsChecked;
    if (RestingPlace.count(overlay)) {
      EXPECT_EQ(p.X, RestingPlace.at(overlay).x);
      EXPECT_EQ(p.Y, RestingPlace.at(overlay).y);
      EXPECT_EQ(Overlay.PhaseA, overlayAtWindowStart.PhaseA + framesInWindow);
    } else if (LeavingStep.count(overlay)) {
      EXPECT_EQ(p.X, windowStartCard.x + framesInWindow * LeavingStep.at(overlay).x);
      EXPECT_EQ(p.Y, windowStartCard.y + framesInWindow * LeavingStep.at(overlay).y);
      EXPECT_EQ(Overlay.PhaseA, 1.0);
    } else if (overlay == "ShakeText99") {
      EXPECT_EQ(p.X, 0.0);
      EXPECT_EQ(p.Y, 0.0);
    } else if (overlay == "ClosingPage" || overlay == "ClosingFade") {
      EXPECT_EQ(p.X, -8.0);
      EXPECT_EQ(p.Y, 5.0);
    }
    if (w.background) {
      const double spread = IsBurst(w.backgroundName) ? 1.0 + framesInWindow : 1.0;
      EXPECT_EQ(Background.Spread, spread);
    }
  };

  for (int frame = 0;; ++frame) {
    const int clock = clockOfFrame(frame);
    const TimelineWindow& w = TimelineWindowAt(clock);
    if (&w != previous) {
      if (previous) endWindow(*previous);
      framesInWindow = 0;
      windowStartCard = {Overlay.CardPosition.X, Overlay.CardPosition.Y};
      overlayAtWindowStart = Overlay;
    }
    const BackgroundState backgroundBefore = Background;
    const OverlayState overlayBefore = Overlay;
    ClearCalls();
    RunTimeline(clock);
    ++summary.frames;
    ++framesInWindow;
    SCOPED_TRACE("clock " + std::to_string(clock));

    if (!w.background && !w.overlay) {
      // Nothing drawn and nothing advanced (22731 ... 23920 and the end).
      EXPECT_TRUE(Recorder.calls.empty());
      EXPECT_EQ(Background.TumbleAngle, backgroundBefore.TumbleAngle);
      EXPECT_EQ(Overlay.PhaseA, overlayBefore.PhaseA);
      EXPECT_EQ(Overlay.PhaseB, overlayBefore.PhaseB);
    }
    if (clock >= 22731 && clock <= 23920) {
      EXPECT_TRUE(Recorder.calls.empty());
    }

    // Every table index inside 1 ... 1280.
    if (w.background) {
      EXPECT_GE(backgroundBefore.OrbitStep, 1);
      EXPECT_LE(backgroundBefore.OrbitStep, 360);
      ++summary.backgroundFrames;
      EXPECT_EQ(Background.TumbleAngle, 5 * summary.backgroundFrames);
    }
    if (w.overlay) {
      for (int index : OverlayIndices(w.overlayName, overlayBefore)) {
        EXPECT_GE(index, 1);
        EXPECT_LE(index, CircleTableSize);
        summary.maxIndex = std::max(summary.maxIndex, index);
      }
    }

    // The fade restarts on the first frame of a long layer after a burst.
    if (w.background && !IsBurst(w.backgroundName) && lastBackgroundWindow &&
        IsBurst(lastBackgroundWindow->backgroundName) && framesInWindow == 1) {
      if (Is(w.backgroundName, "B1")) {
        ADD_FAILURE() << "B1 never follows a burst in the timeline";
      } else {
        EXPECT_EQ(Background.LayerAlpha, 0.002);
        ++summary.fadeRestarts;
      }
    }
    if (w.background && IsBurst(w.backgroundName)) {
      EXPECT_EQ(Background.LayerAlpha, backgroundBefore.LayerAlpha <= 1.0
                                           ? backgroundBefore.LayerAlpha + 0.002
                                           : backgroundBefore.LayerAlpha);
    }
    if (w.background) {
      if (lastBackgroundWindow && lastBackgroundWindow != &w && IsBurst(lastBackgroundWindow->backgroundName))
        ++summary.burstsEnded;
      lastBackgroundWindow = &w;
    }
    EXPECT_LE(Background.LayerAlpha, 1.0021);

    if (Is(w.overlayName, "ClosingFade")) {
      ++summary.fadeFrames;
      for (const GlCall& call : Recorder.calls)
        if (call.name == "glColor4f") summary.lastDrawnFadeAlpha = call.args[3];
    }

    previous = &w;
    if (clock >= ShowEndMs) break;  // this frame drew nothing; the show ends
  }
  return summary;
}

TEST(WholeShow, At15MillisecondsPerFrame) {
  const ShowSummary s = PlayShow([](int frame) { return 15 * frame; });
  EXPECT_EQ(s.frames, 67005 / 15 + 1);
  EXPECT_EQ(s.fadeFrames, 100);  // 65505 ... 66990
  EXPECT_NEAR(s.lastDrawnFadeAlpha, 1 - 99 * 0.007, 1e-6);  // still visible at the end
  EXPECT_NEAR(Background.LayerAlpha, 0.30, 1e-9);
  // Ten bursts are followed by a long layer (the last B8 by the closing
  // page), and each of those long layers restarts the fade.
  EXPECT_EQ(s.burstsEnded, 10);
  EXPECT_EQ(s.fadeRestarts, 10);
  EXPECT_LE(s.maxIndex, 1280);
  EXPECT_GE(s.windowsChecked, 27);
}

TEST(WholeShow, At16Point7MillisecondsPerFrame) {
  const ShowSummary s = PlayShow([](int frame) { return static_cast<int>(frame * 16.7); });
  EXPECT_GT(s.fadeFrames, 85);
  EXPECT_LE(s.fadeFrames, 90);
  EXPECT_NEAR(Background.LayerAlpha, 1 - 0.007 * s.fadeFrames, 1e-9);
  EXPECT_EQ(s.fadeRestarts, 10);
}

TEST(WholeShow, At33MillisecondsPerFrame) {
  const ShowSummary s = PlayShow([](int frame) { return 33 * frame; });
  EXPECT_EQ(s.fadeFrames, 46);  // 65505 ... 66990
  EXPECT_NEAR(Background.LayerAlpha, 1 - 0.007 * 46, 1e-9);
  EXPECT_EQ(s.fadeRestarts, 10);
}

// Literal re-computation of the state at the end of the first window (15 ms
// frames: clocks 0 ... 5760, 385 frames of B1 and EnterText1).
TEST(WholeShow, StateAfterTheFirstWindowMatchesAWrittenOutSum) {
  StartShow();
  for (int clock = 0; clock <= 5760; clock += 15) RunTimeline(clock);
  const int frames = 385;
  const auto cx = [](int i) { return 2 * std::cos((i - 1) * 0.005); };
  const auto sy = [](int i) { return 2 * std::sin((i - 1) * 0.005); };
  // OrbitStep wrapped after frame 360 (AxisX, AxisY back to 0.1), then 25 more.
  double axisX = 0.1, axisY = 0.1, axisZ = 0.8;
  for (int i = 1; i <= 360; ++i) axisZ += sy(i);
  for (int i = 1; i <= frames - 360; ++i) {
    axisX += cx(i) / 5;
    axisY += sy(i) / 5;
    axisZ += sy(i);
  }
  EXPECT_NEAR(Background.AxisX, axisX, 1e-9);
  EXPECT_NEAR(Background.AxisY, axisY, 1e-9);
  EXPECT_NEAR(Background.AxisZ, axisZ, 1e-9);
  EXPECT_EQ(Background.OrbitStep, frames - 360 + 1);
  EXPECT_EQ(Background.TumbleAngle, 5 * frames);
  EXPECT_NEAR(Background.SpinAngle, 0.2 * frames, 1e-9);
  EXPECT_NEAR(Background.LayerAlpha, 0.002 * frames, 1e-9);
  EXPECT_EQ(Overlay.PhaseA, frames + 1.0);
  EXPECT_EQ(Overlay.CardPosition.Y, -13.0);
}

}  // namespace
