// The configuration dialog shown before the show.
#pragma once

#include <string>

enum class DialogOutcome {
  Go,      // settings chosen; the show goes on
  Quit,    // "Cancel" or the close box: the program ends with exit code 0
  Failed,  // the dialog could not be shown (no display); message says why
};

// Shows the modal dialog over the current settings (ScreenWidth, ScreenHeight,
// ColorBits, Fullscreen) and leaves the chosen ones in them.
DialogOutcome ShowConfigDialog(std::string& message);
