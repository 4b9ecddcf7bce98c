// The display guardian (Linux, X11): a small process that gives the display
// mode back however the show ends, SIGKILL and crashes included.
//
// It is forked while the program still has one thread, and waits on a socket
// whose other end only the show holds. Before the show changes the mode, it
// asks the guardian to note the screen's configuration (each CRTC's mode,
// position, rotation and outputs, and the screen's size, through XRandR on
// the guardian's own connection to the X server). When the socket closes,
// the guardian puts back whatever differs from the noted configuration
// (nothing, when the show gave the mode back itself; everything, when it was
// killed, crashed, or ended without its shutdown) and ends. The cursor needs no
// care: X hides it only over the show's own window, which goes with the
// show's connection.
//
// The guardian ignores the signals a terminal or a session sends to the whole
// process group (it outlives the show by the moment it takes to restore), and
// holds none of the show's files but stderr.
#pragma once

// Forks the guardian. Call before any other thread exists. Without a
// guardian (fork failed) the other calls do nothing.
void StartDisplayGuardian();

// Asks the guardian to note the current configuration, and returns at once:
// it notes it while the show goes on (making its window, say).
void ArmDisplayGuardian();

// Waits for the answer to ArmDisplayGuardian; call it before the mode
// changes. True once the guardian holds the configuration (at most
// DisplayGuardianReplyMs later), false when it has no X server or no XRandR to
// restore with, or was not asked.
bool DisplayGuardianArmed();

// Restore now, from a signal handler (async-signal-safe): the show cannot do
// it any more (a crash).
void AlarmDisplayGuardian();

// How long the show waits for the guardian to note the configuration.
constexpr int DisplayGuardianReplyMs = 3000;
