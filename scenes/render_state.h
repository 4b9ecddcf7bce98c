// The one-time OpenGL state every picture of the show is drawn in.
#pragma once

#include <cstdint>

// Viewport, a 45-degree perspective, additive blending by source alpha and no
// depth test. The rendering context must be current.
void SetUpRenderState(std::int32_t screenWidth, std::int32_t screenHeight);
