// The show window's message table, free of any platform: the platform layer
// translates its events into these messages and hands them to ShowWindowProc.
#pragma once

#include <cstdint>

enum class ShowMessage {
  Create,      // the window was created
  Destroy,     // end the show at the end of this frame
  KeyDown,     // any key
  SysCommand,  // system-menu commands: the close box, move, size, minimise, screen saver
  Close,       // a close request from outside (SIGINT, SIGTERM, session end)
  Other,       // anything else: default processing
};

// Create sets Config.Running, Destroy clears it; KeyDown sends Destroy; a
// system command is consumed; Close gets default processing, which ends in
// Destroy. The result is 0 for every message.
std::intptr_t ShowWindowProc(ShowMessage message);
