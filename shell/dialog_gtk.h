// The configuration dialog on GTK 3 (dialog_gtk.cpp): the desktop host's
// dialog on Linux.
#pragma once

#include <string>

#include "show_host.h"

// Shows the modal dialog over the current settings (Config: ScreenWidth,
// ScreenHeight, ColorBits, Fullscreen) and leaves the chosen ones in them.
DialogOutcome ShowGtkConfigDialog(std::string& message);
