// How the show ends on a signal (POSIX; the desktop host on Linux). From the
// moment the window system opens until it closes:
//
// - SIGINT, SIGTERM and SIGHUP ask the show to end: StopFlag is set, the show
//   core closes the show as it does for a close request (start-up's reads and
//   decodes give up at once), gives everything back and the program ends with
//   exit code 0;
// - the other signals whose default action ends a program (SIGQUIT, SIGUSR1,
//   SIGUSR2, SIGALRM, SIGPIPE, SIGXCPU, SIGXFSZ, ...) do the same, and then
//   the program ends by that signal, as it would have without the show's
//   handling (the exit status, or a core, says which);
// - a second such signal while the first is being handled ends the program
//   at once;
// - the crash signals (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP,
//   SIGSYS) have the display guardian give the display back at once; then
//   the signal takes the course it had before (a core, a sanitizer's report).
//
// Signals that were ignored when the program started (nohup, a background
// job) stay ignored. What the guardian does for SIGKILL and anything else:
// display_guardian.h.
#pragma once

#include <atomic>

// Set by the first signal that asks the program to end (ShowHost::stop).
extern std::atomic<bool> StopFlag;

void CatchStopSignals();
// Gives every signal its earlier action back; when a signal of the second
// group came, the program now ends by it.
void ReleaseStopSignals();

// While on, children forked by this program (a message box's process, say)
// are killed when the program ends, however it ends.
void ChildrenDieWithProgram(bool on);
