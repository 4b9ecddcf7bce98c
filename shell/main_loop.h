// The show's main loop, driven by the music clock. Free of any platform: the
// host record (show_host.h) brings the few operations it needs.
//
// A frame is a step: one message, MusicClock read once, the timeline's
// layers, present, Destroy at ShowEndMs or later. Between frames runs the
// pacing rule: the next frame is due once the clock is FrameSpacingMs past
// the last frame's, or at once when the stream has finished or stalled for
// MusicStallLimitMs (then the show ends). StepMainLoop checks the rule once
// and runs the frame when it is due, so a host can busy-wait on it
// (RunMainLoop, as the desktop program does) or call it from its own event
// loop whenever it likes: the frames and their clocks are the same.
#pragma once

#include <cstdint>

#include "show_host.h"

// The pacing wait gives up when the music clock has not moved for this long:
// the stream has stalled (or its file is shorter than the show), and the show
// ends as it does at ShowEndMs instead of waiting for ever.
constexpr std::int64_t MusicStallLimitMs = 1000;

enum class LoopStep {
  Waiting,  // the next frame is not due yet
  Frame,    // a frame ran
  Ended,    // Running is false after the last frame's wait: the loop is over
};

// Forgets any frame in progress: the next step runs a frame at once.
void ResetMainLoop();
// One step: finish the pacing wait if it is over, then run a frame while
// Config.Running is true. Once the host's stop flag is set the loop ends at
// the next step, as after a close request.
LoopStep StepMainLoop(const ShowHost& host);

// Steps, busy-waiting between frames, until the loop ends. Returns the number
// of frames presented.
std::int64_t RunMainLoop(const ShowHost& host);

// The music time of the current frame (read once at the top of each frame).
extern std::int32_t MusicClock;
