// The frame step driven from an event loop (a web page's animation frames, a
// render callback) at irregular times, against the busy-waiting loop: given
// the same clock readings both run the same frames with the same GL calls,
// and the event loop's frames keep the pacing rule however its callbacks fall.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "gl_recorder.h"
#include "layers.h"
#include "main_loop.h"
#include "show_config.h"
#include "show_state.h"
#include "timeline.h"
#include "window_proc.h"

namespace {

// One reading of the music clock, and the steady time it was taken at.
struct Reading {
  std::int32_t music;
  std::int64_t steadyMs;
};

struct Frame {
  std::int32_t clock;
  std::uint64_t calls;  // digest of the frame's GL calls, arguments included
  std::size_t callCount;
};

// The simulated world: in event-loop mode the time is the callback's and the
// music runs with it until stallAt; in replay mode every clock read takes the
// next reading of a script.
struct World {
  std::int64_t nowMs = 0;
  std::int32_t stallAt = -1;  // -1: the music never stalls
  bool replay = false;
  std::vector<Reading> readings;  // recorded (event loop) or replayed (busy wait)
  std::size_t nextReading = 0;
  std::vector<Frame> frames;
};
World Sim;

std::int32_t ReadClock() {
  if (Sim.replay) {
    if (Sim.nextReading == Sim.readings.size()) {
      ADD_FAILURE() << "the busy wait read the clock more often than the event loop";
      return ShowEndMs + 1000;
    }
    const Reading reading = Sim.readings[Sim.nextReading++];
    Sim.nowMs = reading.steadyMs;
    return reading.music;
  }
  const auto time = static_cast<std::int32_t>(Sim.nowMs);
  const std::int32_t music = Sim.stallAt >= 0 && time > Sim.stallAt ? Sim.stallAt : time;
  Sim.readings.push_back({music, Sim.nowMs});
  return music;
}
std::int64_t Now() { return Sim.nowMs; }
bool NeverFinished() { return false; }
void NoMessage() {}
void NoSwap() {}

std::uint64_t Digest(const std::vector<GlCall>& calls) {
  std::uint64_t hash = 1469598103934665603u;  // FNV-1a
  const auto mix = [&hash](std::uint64_t value) { hash = (hash ^ value) * 1099511628211u; };
  for (const GlCall& call : calls) {
    for (char c : call.name) mix(static_cast<unsigned char>(c));
    for (double arg : call.args) mix(std::bit_cast<std::uint64_t>(arg));
    mix(reinterpret_cast<std::uintptr_t>(call.pointer));
  }
  return hash;
}

void Presented(std::int32_t clock) {
  Sim.frames.push_back({clock, Digest(Recorder.calls), Recorder.calls.size()});
  Recorder.calls.clear();
}

ShowHost SimulatedHost() {
  return ShowHost{.window = {.HandleOneMessage = NoMessage, .Present = NoSwap},
                  .music = {.Clock = ReadClock, .Finished = NeverFinished},
                  .SteadyNowMs = Now,
                  .FramePresented = Presented};
}

// The show's state as the core leaves it before the first frame.
void StartFromTheTop() {
  BindGlRecorder();
  FillCircleTable();
  Background = BackgroundState{};
  ResetBackgroundState();
  ResetOverlayState();
  SeedShakeRandom(77);
  ResetMainLoop();
  ShowWindowProc(ShowMessage::Create);
}

// Callback times over the whole show: mostly a display's 16 and 17 ms, with
// bursts 1 ms apart, gaps of 100 ms and anything from 2 to 40 ms between.
std::vector<std::int64_t> CallbackTimes(std::int64_t untilMs) {
  std::mt19937 random(2024);
  std::vector<std::int64_t> times;
  for (std::int64_t t = 0; t <= untilMs;) {
    times.push_back(t);
    const unsigned kind = random() % 10;
    t += kind < 5 ? 16 + random() % 2 : kind < 7 ? 1 : kind < 8 ? 100 : 2 + random() % 39;
  }
  return times;
}

struct LoopRun {
  std::vector<Frame> frames;
  std::vector<std::int64_t> frameTimes;  // callback time of each frame
  std::vector<Reading> readings;
  std::int64_t endedAt = -1;             // callback at which the loop ended
};

LoopRun DriveFromEventLoop(const std::vector<std::int64_t>& times, std::int32_t stallAt) {
  StartFromTheTop();
  Sim = World{};
  Sim.stallAt = stallAt;
  const ShowHost host = SimulatedHost();
  LoopRun run;
  for (std::int64_t t : times) {
    Sim.nowMs = t;
    const LoopStep step = StepMainLoop(host);
    if (step == LoopStep::Frame) run.frameTimes.push_back(t);
    if (step == LoopStep::Ended) {
      run.endedAt = t;
      break;
    }
  }
  run.frames = Sim.frames;
  run.readings = Sim.readings;
  return run;
}

std::vector<Frame> ReplayWithBusyWait(const std::vector<Reading>& readings) {
  StartFromTheTop();
  Sim = World{};
  Sim.replay = true;
  Sim.readings = readings;
  RunMainLoop(SimulatedHost());
  EXPECT_EQ(Sim.nextReading, readings.size()) << "the busy wait stopped before the event loop's last reading";
  return Sim.frames;
}

void ExpectSameFrames(const std::vector<Frame>& eventLoop, const std::vector<Frame>& busyWait) {
  ASSERT_EQ(eventLoop.size(), busyWait.size());
  for (std::size_t i = 0; i < eventLoop.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i) + " at " + std::to_string(eventLoop[i].clock) + " ms");
    EXPECT_EQ(eventLoop[i].clock, busyWait[i].clock);
    EXPECT_EQ(eventLoop[i].callCount, busyWait[i].callCount);
    EXPECT_EQ(eventLoop[i].calls, busyWait[i].calls);
  }
}

TEST(FrameStep, EventLoopAtIrregularTimesMatchesTheBusyWaitAndKeepsThePacing) {
  const std::vector<std::int64_t> times = CallbackTimes(ShowEndMs + 500);
  const LoopRun run = DriveFromEventLoop(times, -1);
  ASSERT_GE(run.endedAt, 0) << "the show did not end";

  // A frame runs at the first callback at least 15 ms after the last frame,
  // never earlier: callbacks 1 ms apart add no frames, a 100 ms gap adds one.
  ASSERT_GT(run.frames.size(), 2000u);
  EXPECT_EQ(run.frames.front().clock, 0);
  std::size_t callback = 0;
  for (std::size_t i = 1; i < run.frames.size(); ++i) {
    const std::int64_t due = run.frames[i - 1].clock + FrameSpacingMs;
    while (times[callback] < due) ++callback;
    EXPECT_EQ(run.frameTimes[i], times[callback]) << "frame " << i;
    EXPECT_EQ(run.frames[i].clock, times[callback]);
  }
  // The last frame is the one at or after the end; the loop ends once its
  // pacing wait is over, with nothing drawn in between.
  EXPECT_GE(run.frames.back().clock, ShowEndMs);
  EXPECT_LT(run.frames[run.frames.size() - 2].clock, ShowEndMs);
  EXPECT_GE(run.endedAt, run.frames.back().clock + FrameSpacingMs);
  EXPECT_FALSE(Config.Running);

  ExpectSameFrames(run.frames, ReplayWithBusyWait(run.readings));
}

TEST(FrameStep, StalledStreamEndsTheShowTheSameWayFromAnEventLoop) {
  constexpr std::int32_t StallMs = 5000;
  const std::vector<std::int64_t> times = CallbackTimes(StallMs + 3000);
  const LoopRun run = DriveFromEventLoop(times, StallMs);
  ASSERT_GE(run.endedAt, 0) << "a stalled stream must end the show";
  EXPECT_LE(run.frames.back().clock, StallMs);
  // Ended at the first callback a second after the clock last moved.
  EXPECT_GE(run.endedAt, StallMs + MusicStallLimitMs);
  EXPECT_LE(run.endedAt, StallMs + MusicStallLimitMs + 200);  // callbacks may be 100 ms apart
  ExpectSameFrames(run.frames, ReplayWithBusyWait(run.readings));
}

}  // namespace
