// The configuration dialog on Windows (win32_dialog.cpp): the desktop host's
// dialog there.
#pragma once

#include <string>

#include "show_host.h"

// Shows DIALOG resource 108 over the current settings (Config) and leaves the
// chosen ones in them.
DialogOutcome ShowWin32ConfigDialog(std::string& message);
