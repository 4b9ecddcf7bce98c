#include "main_loop.h"

#include <thread>

#include "show_config.h"
#include "timeline.h"
#include "window_proc.h"

std::int32_t MusicClock = 0;

namespace {

// Busy-waits until the clock is at least FrameSpacingMs past this frame's.
// False when the stream finished or stalled before that.
bool WaitForNextFrameTime(const MainLoopPlatform& platform, std::int32_t frameClock) {
  const std::int64_t target = std::int64_t{frameClock} + FrameSpacingMs;
  std::int32_t lastClock = frameClock;
  std::int64_t lastChange = platform.SteadyNowMs();
  for (;;) {
    const std::int32_t clock = platform.ReadMusicClock();
    if (clock >= target) return true;
    if (clock != lastClock) {
      lastClock = clock;
      lastChange = platform.SteadyNowMs();
    } else if (platform.MusicFinished() || platform.SteadyNowMs() - lastChange >= MusicStallLimitMs) {
      return false;
    }
    // Never sleeps, but lets the audio and GL threads have the core.
    std::this_thread::yield();
  }
}

}  // namespace

std::int64_t RunMainLoop(const MainLoopPlatform& platform) {
  std::int64_t frames = 0;
  while (Config.Running) {
    platform.HandleOneMessage();
    MusicClock = platform.ReadMusicClock();
    RunTimeline(MusicClock);
    platform.PresentFrame();
    ++frames;
    if (platform.FramePresented) platform.FramePresented(MusicClock);
    if (MusicClock >= ShowEndMs) ShowWindowProc(ShowMessage::Destroy);
    if (!WaitForNextFrameTime(platform, MusicClock)) ShowWindowProc(ShowMessage::Destroy);
  }
  return frames;
}
