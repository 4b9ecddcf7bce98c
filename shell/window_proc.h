// The show window's message table, free of any platform: the platform layer
// translates its events into these messages and hands them to ShowWindowProc.
#pragma once

#include <cstdint>

enum class ShowMessage {
  Create,      // the window was created
  Destroy,     // end the show at the end of this frame
  KeyDown,     // any key but the system's keys
  SysKeyDown,  // the system's keys: Alt, F10, a key pressed with Alt (not with Ctrl+Alt)
  SysCommand,  // system-menu commands: the close box, move, size, minimise, screen saver
  Close,       // a close request from outside (SIGINT, SIGTERM, session end)
  Other,       // anything else: default processing
};

// Create sets Config.Running, Destroy clears it; KeyDown sends Destroy; a
// system command is consumed; Close gets default processing, which ends in
// Destroy; a system key gets default processing, which turns it into a
// system command at most (so Alt+F4 does not end the show through the Alt
// press). The result is 0 for every message.
std::intptr_t ShowWindowProc(ShowMessage message);
