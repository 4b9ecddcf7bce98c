// What the X11 window manager does, asked on a connection of the program's
// own (the show's window layer, sdl_window.cpp, decides with it how its
// window becomes full screen, and whether a frame will come round it).
#pragma once

// Whether a window manager of any kind runs on DISPLAY: some client takes
// the root window's requests to map and place windows (it has selected
// SubstructureRedirectMask on the root, which one client at a time can).
// False without an X server.
bool WindowManagerRuns();

// Whether a window manager runs on DISPLAY that makes windows full screen
// when asked: one that names itself the EWMH way (_NET_SUPPORTING_WM_CHECK on
// the root and on its own check window) and lists _NET_WM_STATE_FULLSCREEN
// among the hints it supports. False without an X server.
bool WindowManagerDoesFullScreen();
