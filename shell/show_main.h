// The show program: start-up, main loop and shutdown.
#pragma once

#include <cstdint>

// The whole run; returns the exit code (0 after a normal end, a key press or a
// cancelled dialog). Failures end the process inside with their own codes.
// framePresented, when set, sees every presented frame's music time (used by
// measurement programs; the show passes null).
int RunShow(void (*framePresented)(std::int32_t musicClock) = nullptr);

// The music file, relative to the working directory.
constexpr const char* MusicFile = "data/run_away.mp3";
