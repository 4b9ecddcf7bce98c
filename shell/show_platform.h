// What the show's start-up order (show_main.cpp) and its error reports
// (show_errors.cpp) need from a platform layer: the window, display mode and
// rendering context, the message pump, the buffer swap, the error box. One
// layer is linked in: SDL2 (show_window.cpp) or Win32 (win32_window.cpp).
#pragma once

#include <string>

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
// Gives back everything still held (context, window, mode, cursor): the last
// step before the program ends on an error.
void ReleaseDisplay();

// Takes at most one waiting message and hands it to the window procedure.
void HandleOneMessage();
// Presents the back buffer.
void SwapShowBuffers();

// A modal message box with an OK button; returns once it is dismissed.
void ShowErrorBox(const std::string& caption, const std::string& text);
// The last step before the process ends: shuts the window system down.
void ClosePlatform();

// Display modes beyond this many are never looked at.
constexpr int DisplayModeSearchLimit = 256;
