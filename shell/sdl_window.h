// The show's window, display mode and rendering context over SDL2: the
// desktop host's platform layer on Linux (show_platform.h), and its SDL-only
// helpers.
//
// The steps keep the shape of a classic desktop program: "registering the
// class" initialises SDL's video and the GL attributes, the window is created
// always on top at (0, 0), and in full screen the display changes to the
// chosen mode. RegisterWindowClass initialises SDL's video, hints and GL
// attributes (double buffer, >= 16 depth bits, 8/8/8 or 5/6/5 colour from
// ColorBits) and fails with an error box when there is no usable display.
// Every way out gives the display mode and the cursor back: the shutdown on
// a normal end, a key, an error box or a signal (stop_signals.h), and the
// display guardian (display_guardian.h) on SIGKILL or a crash.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "show_platform.h"
#include "window_proc.h"

// The keys that Windows sends as WM_SYSKEYDOWN: F10, Alt itself, and any key
// pressed while Alt is held without Ctrl (Ctrl+Alt combinations, AltGr among
// them, are ordinary keys there).
bool IsSystemKey(const SDL_Keysym& key);

// The message an SDL event stands for.
ShowMessage TranslateEvent(const SDL_Event& event);

// Whether a display mode of the given size and SDL bits per pixel serves the
// configuration: 32-bit colour is 8 bits per channel (SDL reports 24 or 32),
// 16-bit colour is 15 or 16.
bool DisplayModeMatches(int width, int height, int bitsPerPixel, std::int32_t screenWidth,
                        std::int32_t screenHeight, std::int32_t colorBits);
