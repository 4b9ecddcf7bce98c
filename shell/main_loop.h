// The show's main loop, driven by the music clock. Free of any platform: the
// shell hands it the few platform operations it needs.
#pragma once

#include <cstdint>

struct MainLoopPlatform {
  void (*HandleOneMessage)();         // at most one waiting event, through ShowWindowProc
  std::int32_t (*ReadMusicClock)();   // the stream's position in ms
  bool (*MusicFinished)();            // every sample of the stream has been played
  void (*PresentFrame)();             // the buffer swap
  std::int64_t (*SteadyNowMs)();      // a steady clock, to notice a stalled stream
  void (*FramePresented)(std::int32_t musicClock);  // optional observer (measurements); null in the show
};

// The pacing wait gives up when the music clock has not moved for this long:
// the stream has stalled (or its file is shorter than the show), and the show
// ends as it does at ShowEndMs instead of waiting for ever.
constexpr std::int64_t MusicStallLimitMs = 1000;

// One frame: one message, MusicClock read once, the timeline's layers,
// present, Destroy at ShowEndMs or later, then wait until the clock is
// FrameSpacingMs further on. Frames run while Config.Running is true.
// Returns the number of frames presented.
std::int64_t RunMainLoop(const MainLoopPlatform& platform);

// The music time of the current frame (read once at the top of each frame).
extern std::int32_t MusicClock;
