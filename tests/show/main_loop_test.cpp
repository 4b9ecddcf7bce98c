// The main loop on a fake music clock: pacing, the end of the show, key
// presses, and a stream that stalls or ends early.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "gl_recorder.h"
#include "layers.h"
#include "main_loop.h"
#include "show_config.h"
#include "show_state.h"
#include "timeline.h"
#include "window_proc.h"

namespace {

// Each read of the music clock or the steady clock lets a little time pass,
// as the busy wait does on a real machine.
struct FakeWorld {
  std::int64_t steadyMs = 0;
  std::int32_t music = 0;
  std::int32_t stallAt = -1;  // the music stops moving here (-1: never)
  bool finishedAtStall = false;
  std::deque<ShowMessage> messages;  // one waiting message is taken per frame
  int messagesHandled = 0;
  std::vector<std::int32_t> frameClocks;
  int swaps = 0;
};
FakeWorld World;

void HandleOne() {
  if (World.messages.empty()) return;
  ShowWindowProc(World.messages.front());
  World.messages.pop_front();
  ++World.messagesHandled;
}
std::int32_t ReadClock() {
  ++World.steadyMs;
  if (World.stallAt < 0 || World.music < World.stallAt) ++World.music;
  return World.music;
}
bool Finished() { return World.finishedAtStall && World.music == World.stallAt; }
void Present() { ++World.swaps; }
std::int64_t Now() { return World.steadyMs; }
void Presented(std::int32_t clock) {
  World.frameClocks.push_back(clock);
  Recorder.calls.clear();  // the layers draw for real into the recorder; keep it small
}

ShowHost FakeHost() {
  ShowHost host{};
  host.window.HandleOneMessage = HandleOne;
  host.window.Present = Present;
  host.music.Clock = ReadClock;
  host.music.Finished = Finished;
  host.SteadyNowMs = Now;
  host.FramePresented = Presented;
  return host;
}
const ShowHost Fake = FakeHost();

class MainLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    World = FakeWorld{};
    ResetMainLoop();
    BindGlRecorder();
    FillCircleTable();
    ResetBackgroundState();
    ResetOverlayState();
    ShowWindowProc(ShowMessage::Create);
  }
};

TEST_F(MainLoop, PlaysToTheEndWithFramesAtLeastFifteenMillisecondsApart) {
  const std::int64_t frames = RunMainLoop(Fake);
  EXPECT_FALSE(Config.Running);
  ASSERT_EQ(frames, static_cast<std::int64_t>(World.frameClocks.size()));
  EXPECT_EQ(World.swaps, frames);
  for (size_t i = 1; i < World.frameClocks.size(); ++i)
    EXPECT_GE(World.frameClocks[i] - World.frameClocks[i - 1], FrameSpacingMs) << i;
  // Exactly one frame at or after the end: drawn with no layer, swapped, then the loop ends.
  EXPECT_GE(World.frameClocks.back(), ShowEndMs);
  EXPECT_LT(World.frameClocks[World.frameClocks.size() - 2], ShowEndMs);
  EXPECT_EQ(MusicClock, World.frameClocks.back());
  // The pacing wait still ran after the last frame.
  EXPECT_GE(World.music, World.frameClocks.back() + FrameSpacingMs);
}

TEST_F(MainLoop, KeyPressEndsTheShowAtTheEndOfThatFrameAfterItsWait) {
  for (int i = 0; i < 9; ++i) World.messages.push_back(ShowMessage::Other);
  World.messages.push_back(ShowMessage::KeyDown);
  World.messages.push_back(ShowMessage::Other);
  RunMainLoop(Fake);
  // At most one message per frame: the key is the tenth, so ten frames run.
  EXPECT_EQ(World.frameClocks.size(), 10u);
  EXPECT_EQ(World.messagesHandled, 10);
  EXPECT_GE(World.music, World.frameClocks.back() + FrameSpacingMs);
}

TEST_F(MainLoop, CloseBoxDoesNotEndButAnOutsideCloseDoes) {
  World.messages = {ShowMessage::SysCommand, ShowMessage::SysCommand, ShowMessage::Close};
  RunMainLoop(Fake);
  EXPECT_EQ(World.frameClocks.size(), 3u);
}

TEST_F(MainLoop, StalledStreamEndsTheShowAfterOneSecondInsteadOfHanging) {
  World.stallAt = 30000;
  RunMainLoop(Fake);
  EXPECT_FALSE(Config.Running);
  EXPECT_LE(World.frameClocks.back(), 30000);
  EXPECT_GE(World.frameClocks.back(), 30000 - FrameSpacingMs);
  // Gave up one second of steady time after the clock stopped.
  EXPECT_GE(World.steadyMs, 30000 + MusicStallLimitMs);
  EXPECT_LE(World.steadyMs, 30000 + MusicStallLimitMs + 10);
}

TEST_F(MainLoop, FinishedStreamEndsTheShowAtOnce) {
  World.stallAt = 20000;
  World.finishedAtStall = true;
  RunMainLoop(Fake);
  EXPECT_FALSE(Config.Running);
  EXPECT_LE(World.frameClocks.back(), 20000);
  EXPECT_LE(World.steadyMs, 20000 + 2);  // no one-second wait for a stream known to be over
}

TEST_F(MainLoop, NegativeClockPlaysTheFirstWindow) {
  World.music = -500;
  World.messages.push_back(ShowMessage::KeyDown);
  RunMainLoop(Fake);
  ASSERT_EQ(World.frameClocks.size(), 1u);
  EXPECT_LT(World.frameClocks[0], 0);
}

}  // namespace
