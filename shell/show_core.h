// The show core: the start-up order, the main loop and the one shutdown, over
// a host record (show_host.h). Every program that plays the show calls it.
//
// Start-up, in this order: the graphics libraries, the seed, the settings and
// the dialog (which may end the program), the window system, the window and
// display mode, the context, the graphics libraries again (now with the
// context current) and a check of the entry points the show calls, render
// state, loading screen, textures, circle table, the music opened and
// started, the layers' state reset.
//
// Shutdown, on every way out (normal end, key, close request, cancelled
// dialog, error box, a failure in the middle of start-up): the music, the
// context with the display mode and cursor, the window, the window system,
// the graphics libraries; each only if it was taken, each once.
#pragma once

#include <cstdint>

#include "show_host.h"

// The music file, relative to the working directory.
constexpr const char* MusicFile = "data/run_away.mp3";

// The whole run for a host that lends the show its thread: start-up, frames
// paced by busy-waiting on the music clock, shutdown. Returns the exit code
// (0 after a normal end, a key, a close request or a cancelled dialog).
// Failures report through the host and end the process inside.
int RunShow(const ShowHost& host);

// The same in three parts, for a host driven by its own event loop (a web
// page's animation frames, a render callback):
//   if (StartShow(host)) { on each callback: if (!StepShow()) stop calling; }
//   then EndShow() once.
// StartShow runs the start-up; false when the program ends without a show:
// the dialog was cancelled, or the host's stop flag was set while the
// pictures loaded.
bool StartShow(const ShowHost& host);
// Runs the next frame if the pacing rule says it is due. False once the show
// is over.
bool StepShow();
// The shutdown; gives back what is still held and returns the exit code.
// Calling it again does nothing more.
int EndShow();

// Gives everything back, has the host report the failure, and ends the
// process with the exit code the host returns.
[[noreturn]] void FailShow(const ShowFailure& failure);

// The clocks the shell's hosts use: the millisecond wall clock (the shake's
// seed, as the show takes it) and a steady millisecond clock.
std::uint32_t ClockSeed();
std::int64_t SteadyNowMs();
