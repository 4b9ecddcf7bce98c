// The show's start-up pieces that need no window system: the show program and
// headless programs (captures) run the same ones.
#pragma once

#include <cstdint>

#include "hwl.h"

// With the rendering context current and SwapBuffersHook set: render state for
// a screenWidth x screenHeight view, the loading screen (one presented frame),
// the textures of all the show's pictures, the circle table. Stops at the first
// picture that fails to load and returns its status.
HwlStatus PrepareShow(std::int32_t screenWidth, std::int32_t screenHeight);

// Start values of the layers' shared state before the first frame (after the
// music has started): the logo stack's state and the text card's.
void ResetShowState();
