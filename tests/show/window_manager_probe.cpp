// Prints what the show learns of the X server's window manager on DISPLAY:
// "runs does-full-screen", each 0 or 1 (for the end-to-end runs).
#include <cstdio>

#include "window_manager.h"

int main() {
  std::printf("%d %d\n", WindowManagerRuns() ? 1 : 0, WindowManagerDoesFullScreen() ? 1 : 0);
  return 0;
}
