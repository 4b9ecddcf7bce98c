// The desktop hosts' shared parts: the music through the sound module, GL and
// GLU bound by name, the system clocks, and failures reported on stderr and
// in a box captioned "Error". A platform layer (SDL2: sdl_window.h, Win32:
// win32_window.h) brings the window and the box.
#pragma once

#include <string>

#include "show_host.h"

// Display modes beyond this many are never looked at.
constexpr int DisplayModeSearchLimit = 256;

struct DesktopPlatform {
  ShowWindowOps window;  // LoadGl and FreeGl are filled in by DesktopHost
  void (*ShowErrorBox)(const std::string& caption, const std::string& text);
};

// A host over the platform with the dialog's defaults as its settings and no
// dialog: the program sets Configure (and any observer) itself.
ShowHost DesktopHost(const DesktopPlatform& platform);
