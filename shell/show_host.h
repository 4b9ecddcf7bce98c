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

#include <atomic>
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
  // Optional: bind GL and GLU by name, and free them (GLU first). Null: the
  // context binds them itself.
  void (*LoadGl)() = nullptr;
  void (*FreeGl)() = nullptr;
  void (*OpenWindowSystem)() = nullptr;     // optional: the window system and the window class
  void (*CreateWindow)() = nullptr;         // display mode and window; its creation sends ShowMessage::Create
  void (*CreateRenderContext)() = nullptr;  // the GL context, current on this thread
  // Optional: the context, and in full screen the display mode and cursor.
  void (*ReleaseRenderContext)() = nullptr;
  void (*DestroyWindow)() = nullptr;      // optional
  void (*CloseWindowSystem)() = nullptr;  // optional: the last step before the program ends
  void (*HandleOneMessage)() = nullptr;   // at most one waiting event, through ShowWindowProc
  void (*Present)() = nullptr;            // the buffer swap
};

// The music, whose playing position is the show's only clock.
struct ShowMusic {
  bool (*Open)(const char* file, std::string& error) = nullptr;  // output and stream; false with the text to show
  bool (*Play)(std::string& error) = nullptr;
  std::int32_t (*Clock)() = nullptr;  // the stream's position in ms
  bool (*Finished)() = nullptr;       // every sample of the stream has been played
  void (*Close)() = nullptr;          // the stream, then the output
};

// A failure that ends the program, as the host is to report it.
struct ShowFailure {
  std::string text;    // the box's text; empty: no box
  std::string detail;  // for stderr only: what the platform said, the file and the reason
  int exitCode = 1;
};

struct ShowHost {
  ShowConfig settings{};  // the dialog's starting values, or the fixed settings
  // Optional: the dialog, over and into Config. Null: the settings are final.
  DialogOutcome (*Configure)(std::string& message) = nullptr;
  ShowWindowOps window{};
  ShowMusic music{};
  std::int64_t (*SteadyNowMs)() = nullptr;  // a steady clock, to notice a stalled stream
  std::uint32_t (*Seed)() = nullptr;        // the shake's seed
  void (*FramePresented)(std::int32_t musicClock) = nullptr;  // optional observer (measurements)
  // Reports a failure once everything is given back; returns the exit code.
  int (*ReportFailure)(const ShowFailure& failure) = nullptr;
  // Optional: set (from a signal handler, say) when the program is asked to
  // end. Start-up's reads and decodes then give up at once, and the show
  // ends as if its window were closed, before or after its first frame.
  const std::atomic<bool>* stop = nullptr;
};
