// The show's window, display mode and rendering context over Win32 and WGL:
// the desktop host's platform layer on Windows (show_platform.h).
//
// A window class "forwardGL", a top-most window "quenrik" at (0, 0), in full
// screen a display mode from EnumDisplaySettingsA changed with
// ChangeDisplaySettingsA and the cursor hidden, a double-buffered RGBA pixel
// format with 16 depth bits, a WGL context. Every way out (normal end, key,
// the window closed, an error box, a crash) gives the display mode and the
// cursor back.
#pragma once

#include <windows.h>

#include <cstdint>

#include "window_proc.h"

// The window procedure of class "forwardGL": WM_CREATE, WM_DESTROY,
// WM_KEYDOWN and WM_SYSCOMMAND go to the show's message table
// (ShowWindowProc), everything else (WM_SYSKEYDOWN, WM_CLOSE...) to
// DefWindowProcA.
LRESULT CALLBACK ShowWindowProcWin32(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The show message a window message stands for (Other: default processing).
ShowMessage TranslateWindowMessage(UINT message);

// Window styles: captioned when windowed, a thin border in full screen.
constexpr DWORD WindowedStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;   // 0x90C80000
constexpr DWORD FullscreenStyle = WS_POPUP | WS_BORDER | WS_SYSMENU | WS_VISIBLE;  // 0x90880000
static_assert(WindowedStyle == 0x90C80000 && FullscreenStyle == 0x90880000);
