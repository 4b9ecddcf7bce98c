#include "show_render.h"

#include <png.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "gl.h"
#include "image_textures.h"
#include "layers.h"
#include "render_state.h"
#include "show_state.h"

namespace {

constexpr std::uint32_t FixedShakeSeed = 20240607;  // the same shake in every run
constexpr int MaxPngSide = 8192;                    // references are small frames

}  // namespace

void StartShowState() {
  FillCircleTable();
  Background = BackgroundState{};
  ResetBackgroundState();
  ResetOverlayState();
  SeedShakeRandom(FixedShakeSeed);
}

std::string OpenShowRender(ShowRender& show, int width, int height, const std::string& dataRoot) {
  std::string error;
  show.context.reset();  // one EGL display at a time
  show.context = OpenHeadlessGl(width, height, error);
  if (!show.context) return "headless GL: " + error;
  show.width = width;
  show.height = height;
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

namespace {
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
}  // namespace

bool WritePng(const std::string& path, const RgbImage& image) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_write_info(png, info);
  for (int row = 0; row < image.height; ++row)
    png_write_row(png, image.rgb.data() + static_cast<std::size_t>(row) * image.width * 3);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool ReadPng(const std::string& path, RgbImage& image) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file.get());
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (width == 0 || height == 0 || width > MaxPngSide || height > MaxPngSide ||
      png_get_bit_depth(png, info) != 8 || png_get_color_type(png, info) != PNG_COLOR_TYPE_RGB) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.rgb.assign(std::size_t{width} * height * 3, 0);
  for (png_uint_32 row = 0; row < height; ++row) png_read_row(png, image.rgb.data() + std::size_t{row} * width * 3, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}
