// The show's window, display mode and rendering context over SDL2.
//
// The steps keep the shape of a classic desktop program: "registering the
// class" initialises SDL's video and the GL attributes, the window is created
// always on top at (0, 0), and in full screen the display changes to the
// chosen mode. Every way out (normal end, key, error box, SIGINT, SIGTERM)
// gives the display mode and the cursor back.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "window_proc.h"

// Video initialisation, hints and GL attributes (double buffer, >= 16 depth
// bits, 8/8/8 or 5/6/5 colour from ColorBits). Fails with an error box when
// there is no usable display.
void RegisterWindowClass();
// Full screen: display mode search and change ("No Power, chump!" when none
// of the first 256 modes fits), a borderless window, cursor hidden.
// Windowed: a captioned window whose outer size is ScreenWidth x ScreenHeight.
// Sends ShowMessage::Create, which sets Running.
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

// Takes at most one waiting event and hands it to ShowWindowProc.
void HandleOneMessage();
// Presents the back buffer.
void SwapShowBuffers();

// The message an SDL event stands for.
ShowMessage TranslateEvent(const SDL_Event& event);

// Whether a display mode of the given size and SDL bits per pixel serves the
// configuration: 32-bit colour is 8 bits per channel (SDL reports 24 or 32),
// 16-bit colour is 15 or 16.
bool DisplayModeMatches(int width, int height, int bitsPerPixel, std::int32_t screenWidth,
                        std::int32_t screenHeight, std::int32_t colorBits);
// Display modes beyond this many are never looked at.
constexpr int DisplayModeSearchLimit = 256;
