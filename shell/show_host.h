// What a host gives the show core (show_core.h): the one record in which the
// desktop program, the capture, the measuring programs and any other host
// differ. The core runs the start-up order, the timeline, the main loop and
// the shutdown over it; nothing outside shell/ repeats them.
//
// Acquiring operations (open, create) end the program through
// ShowErrorAndExit (show_errors.h) when they fail. Releasing operations give
// back only what is held: each copes with a half-done acquire and with being
// called when nothing is held. Operations marked optional may be null.
#pragma once

#include <cstdint>
#include <string>

#include "show_config.h"

// How the configuration dialog ended.
enum class DialogOutcome {
  Go,      // settings chosen; the show goes on
  Quit,    // "Cancel" or the close box: the program ends with exit code 0
  Failed,  // the dialog could not be shown (no display); message says why
};

// The window, display mode, rendering context and the frame's presentation.
struct ShowWindowOps {
  void (*LoadGl)();              // optional: bind GL and GLU by name (null: the context binds them)
  void (*FreeGl)();              // optional: free what LoadGl loaded, GLU first
  void (*OpenWindowSystem)();    // optional: the window system and the window class
  void (*CreateWindow)();        // display mode and window; its creation sends ShowMessage::Create
  void (*CreateRenderContext)(); // the GL context, current on this thread
  void (*ReleaseRenderContext)();  // optional: the context; in full screen the display mode and cursor
  void (*DestroyWindow)();       // optional
  void (*CloseWindowSystem)();   // optional: the last step before the program ends
  void (*HandleOneMessage)();    // at most one waiting event, through ShowWindowProc
  void (*Present)();             // the buffer swap
};

// The music, whose playing position is the show's only clock.
struct ShowMusic {
  bool (*Open)(const char* file, std::string& error);  // output and stream; false with the text to show
  bool (*Play)(std::string& error);
  std::int32_t (*Clock)();  // the stream's position in ms
  bool (*Finished)();       // every sample of the stream has been played
  void (*Close)();          // the stream, then the output
};

// A failure that ends the program, as the host is to report it.
struct ShowFailure {
  std::string text;    // the box's text; empty: no box
  std::string detail;  // for stderr only: what the platform said, the file and the reason
  int exitCode = 1;
};

struct ShowHost {
  ShowConfig settings;  // the dialog's starting values, or the fixed settings
  DialogOutcome (*Configure)(std::string& message);  // optional: the dialog over Config; null: settings are final
  ShowWindowOps window;
  ShowMusic music;
  std::int64_t (*SteadyNowMs)();  // a steady clock, to notice a stalled stream
  std::uint32_t (*Seed)();        // the shake's seed
  void (*FramePresented)(std::int32_t musicClock);  // optional observer (measurements)
  // Reports a failure once everything is given back; returns the exit code.
  int (*ReportFailure)(const ShowFailure& failure);
};
