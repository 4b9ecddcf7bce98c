#include "png_io.h"

#include <png.h>

namespace {
constexpr png_uint_32 MaxPngSide = 0xFFFF;  // 16-bit width and height fields
}  // namespace

std::string ReadPng(std::FILE* in, PngPicture& picture) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_stdio(&image, in)) return image.message;
  // An HWL image is at most 65535 x 65535: refuse larger pictures before allocating.
  if (image.width > MaxPngSide || image.height > MaxPngSide) {
    png_image_free(&image);
    return "picture is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
           ", larger than an HWL image can be (65535 x 65535)";
  }
  image.format = PNG_FORMAT_RGBA;
  const std::size_t count = std::size_t(image.width) * image.height;
  std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
    std::string reason = image.message;
    png_image_free(&image);
    return reason;
  }
  picture.width = int(image.width);
  picture.height = int(image.height);
  picture.channels = 3;
  picture.pixels.resize(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned alpha = rgba[i * 4 + 3];
    for (int c = 0; c < 3; ++c) picture.pixels[i * 3 + c] = std::uint8_t((rgba[i * 4 + c] * alpha + 127) / 255);
  }
  return {};
}

void ConvertToLuma(PngPicture& picture) {
  if (picture.channels != 3) return;
  const std::size_t count = std::size_t(picture.width) * picture.height;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* rgb = &picture.pixels[i * 3];
    picture.pixels[i] = std::uint8_t((299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2] + 500) / 1000);
  }
  picture.pixels.resize(count);
  picture.channels = 1;
}

std::string WritePng(std::FILE* out, const PngPicture& picture) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(picture.width);
  image.height = png_uint_32(picture.height);
  image.format = picture.channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  if (!png_image_write_to_stdio(&image, out, 0, picture.pixels.data(), 0, nullptr)) return image.message;
  return {};
}

std::string ReadPngFile(const std::string& path, PngPicture& picture) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return path + ": cannot open";
  std::string error = ReadPng(in, picture);
  std::fclose(in);
  return error.empty() ? error : path + ": " + error;
}

std::string WritePngFile(const std::string& path, int width, int height, int channels, const std::uint8_t* pixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(width);
  image.height = png_uint_32(height);
  image.format = channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  if (!png_image_write_to_file(&image, path.c_str(), 0, pixels, 0, nullptr)) return path + ": " + image.message;
  return {};
}
