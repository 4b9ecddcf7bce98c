// The desktop host: the show's window through the platform layer linked in
// (show_platform.h: SDL2 on Linux, Win32 on Windows), the music through the
// sound module, GL and GLU bound by name, the system clocks, and failures
// reported on stderr and in a box captioned "Error".
#pragma once

#include "show_host.h"

// A host with the dialog's defaults as its settings and no dialog: the
// program sets Configure (and any observer) itself. Call it first in main,
// while the program has one thread: it starts the platform (StartPlatform).
ShowHost DesktopHost();
