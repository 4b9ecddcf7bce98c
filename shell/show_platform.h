// What the desktop host (desktop_host.cpp) needs from a platform layer: the
// window, display mode and rendering context, the message pump, the buffer
// swap, the error box. One layer is linked in: SDL2 (sdl_window.cpp) or Win32
// (win32_window.cpp). Each acquiring step ends the program through
// ShowErrorAndExit when it fails; each releasing step gives back only what is
// held.
#pragma once

#include <atomic>
#include <string>

// The first step, while the program still has one thread (Linux: the display
// guardian is forked here; see display_guardian.h).
void StartPlatform();
// Set when the system asks the program to end (Linux: a signal, see
// stop_signals.h); null where there is no such request.
const std::atomic<bool>* PlatformStopFlag();

// Prepares the window system and the window class.
void RegisterWindowClass();
// Full screen: display mode search and change ("No Power, chump!" when none
// of the first DisplayModeSearchLimit modes fits), a borderless window, cursor
// hidden. Windowed: a captioned window whose outer size is ScreenWidth x
// ScreenHeight. The window's creation sets Running.
void CreateShowWindow();
// The GL context, current on the window.
void CreateRenderContext();
// Unbinds and deletes the context; in full screen restores the display mode
// and shows the cursor.
void ReleaseRenderContext();
void DestroyShowWindow();

// Takes at most one waiting message and hands it to the window procedure.
void HandleOneMessage();
// Presents the back buffer.
void SwapShowBuffers();

// A modal message box with an OK button; returns once it is dismissed.
void ShowErrorBox(const std::string& caption, const std::string& text);
// Shuts the window system down: the last step of the shutdown. From here on
// a signal has its usual action again (it ends a program waiting in its
// error box, and the box with it).
void ClosePlatform();

// Display modes beyond this many are never looked at.
constexpr int DisplayModeSearchLimit = 256;
