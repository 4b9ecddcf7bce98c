#include "show_startup.h"

#include "image_textures.h"
#include "layers.h"
#include "loading_screen.h"
#include "render_state.h"
#include "show_state.h"

HwlStatus PrepareShow(std::int32_t screenWidth, std::int32_t screenHeight) {
  SetUpRenderState(screenWidth, screenHeight);
  if (HwlStatus status = ShowLoadingScreen(); !status) return status;
  if (HwlStatus status = LoadImageTextures(); !status) return status;
  FillCircleTable();
  return {};
}

void ResetShowState() {
  ResetBackgroundState();
  ResetOverlayState();
}
