#include "main_loop.h"

#include <thread>

#include "show_config.h"
#include "timeline.h"
#include "window_proc.h"

std::int32_t MusicClock = 0;

namespace {

// The pacing wait between a frame and the next.
struct MainLoopState {
  bool waiting = false;           // a frame ran and its wait is not over
  std::int32_t lastClock = 0;     // the clock's last reading, and when it last changed
  std::int64_t lastChangeMs = 0;
};
MainLoopState Loop;

enum class Pacing { NotYet, Due, StreamEnded };

// One look at the clock: due once it is at least FrameSpacingMs past this
// frame's; StreamEnded when the stream finished or stalled before that.
Pacing CheckPacing(const ShowHost& host) {
  const std::int32_t clock = host.music.Clock();
  if (std::int64_t{clock} >= std::int64_t{MusicClock} + FrameSpacingMs) return Pacing::Due;
  if (clock != Loop.lastClock) {
    Loop.lastClock = clock;
    Loop.lastChangeMs = host.SteadyNowMs();
  } else if (host.music.Finished() || host.SteadyNowMs() - Loop.lastChangeMs >= MusicStallLimitMs) {
    return Pacing::StreamEnded;
  }
  return Pacing::NotYet;
}

void RunFrame(const ShowHost& host) {
  host.window.HandleOneMessage();
  MusicClock = host.music.Clock();
  RunTimeline(MusicClock);
  host.window.Present();
  if (host.FramePresented) host.FramePresented(MusicClock);
  if (MusicClock >= ShowEndMs) ShowWindowProc(ShowMessage::Destroy);
  Loop = {true, MusicClock, host.SteadyNowMs()};
}

}  // namespace

void ResetMainLoop() { Loop = MainLoopState{}; }

LoopStep StepMainLoop(const ShowHost& host) {
  // Asked to end: as a close request, without waiting for the next frame.
  if (host.stop && host.stop->load(std::memory_order_relaxed)) {
    Loop.waiting = false;
    ShowWindowProc(ShowMessage::Close);
    return LoopStep::Ended;
  }
  if (Loop.waiting) {
    switch (CheckPacing(host)) {
      case Pacing::NotYet: return LoopStep::Waiting;
      case Pacing::StreamEnded: ShowWindowProc(ShowMessage::Destroy); break;
      case Pacing::Due: break;
    }
    Loop.waiting = false;
  }
  if (!Config.Running) return LoopStep::Ended;
  RunFrame(host);
  return LoopStep::Frame;
}

std::int64_t RunMainLoop(const ShowHost& host) {
  std::int64_t frames = 0;
  for (;;) {
    switch (StepMainLoop(host)) {
      case LoopStep::Frame: ++frames; break;
      // Never sleeps, but lets the audio and GL threads have the core.
      case LoopStep::Waiting: std::this_thread::yield(); break;
      case LoopStep::Ended: return frames;
    }
  }
}
