// The single picture shown while the show's other images decode.
#pragma once

#include "hwl.h"

// Presents the finished frame (the window's buffer swap). Scenes has no
// platform code: the show core sets this to its host's present before the
// loading screen runs. Null presents nothing.
extern void (*SwapBuffersHook)();

// Take the decoded "loading.hwl" (TakeDecodedPicture) into the loading
// texture, draw it as a 20 x 20 square 40 units in front of the camera on a
// cleared frame and present that frame once. Needs the rendering context
// current and SetUpRenderState done.
HwlStatus ShowLoadingScreen();
