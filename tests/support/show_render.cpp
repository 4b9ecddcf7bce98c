#include "show_render.h"

#include <filesystem>

#include "gl.h"
#ifdef QUENRIK_HAVE_GL_FIXED
#include "gl_fixed.h"
#endif
#include "image_textures.h"
#include "layers.h"
#include "render_state.h"
#include "show_state.h"

namespace {

constexpr std::uint32_t FixedShakeSeed = 20240607;  // the same shake in every run

}  // namespace

void StartShowState() {
  FillCircleTable();
  Background = BackgroundState{};
  ResetBackgroundState();
  ResetOverlayState();
  SeedShakeRandom(FixedShakeSeed);
}

std::string BindShowDrawing(ShowDrawing drawing) {
  if (drawing == ShowDrawing::FixedOverGles2) {
#ifdef QUENRIK_HAVE_GL_FIXED
    BindFixedFunctionGl();
    return {};
#else
    return "this build has no fixed-function layer (GLESv2 was not found)";
#endif
  }
  if (!LoadGL(GlLibraryName)) return std::string("cannot load ") + GlLibraryName;
  if (!LoadGLU(GluLibraryName)) return std::string("cannot load ") + GluLibraryName;
  return {};
}

std::string OpenShowRender(ShowRender& show, int width, int height, const std::string& dataRoot, ShowDrawing drawing) {
  std::string error;
  show.context.reset();  // one EGL display at a time
  const bool fixed = drawing == ShowDrawing::FixedOverGles2;
  show.context = OpenHeadlessGl(width, height, error, fixed ? HeadlessApi::Gles2 : HeadlessApi::DesktopGl);
  if (!show.context) return "headless GL: " + error;
  show.width = width;
  show.height = height;
  show.drawing = drawing;
  if (fixed) {  // the desktop context bound its own table
#ifdef QUENRIK_HAVE_GL_FIXED
    if (!SetUpFixedFunctionGl(error)) return error;
#endif
    error = BindShowDrawing(drawing);
    if (!error.empty()) return error;
  }
  std::error_code ec;
  std::filesystem::current_path(dataRoot, ec);
  if (ec) return "cannot change to " + dataRoot + ": " + ec.message();
  SetUpRenderState(width, height);
  const HwlStatus status = LoadImageTextures();
  if (!status) return "pictures: " + status.message;
  StartShowState();
  return {};
}

RgbImage ReadFrame(const ShowRender& show) {
  const std::vector<std::uint8_t> rgba = ReadHeadlessPixels(*show.context);
  RgbImage image{show.width, show.height, {}};
  image.rgb.resize(rgba.size() / 4 * 3);
  for (std::size_t i = 0, j = 0; i < rgba.size(); i += 4, j += 3) {
    image.rgb[j] = rgba[i];
    image.rgb[j + 1] = rgba[i + 1];
    image.rgb[j + 2] = rgba[i + 2];
  }
  return image;
}
