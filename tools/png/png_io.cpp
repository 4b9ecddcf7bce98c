#include "png_io.h"

#include <png.h>

#include <sys/stat.h>

namespace {

constexpr png_uint_32 MaxPngSide = 0xFFFF;  // 16-bit width and height fields
// Deflate turns at most 1032 bytes into one (a 258-byte match in two
// one-bit codes), and a PNG row holds at least a filter byte and one bit
// per pixel.
constexpr std::uint64_t MaxDeflateRatio = 1032;

std::uint64_t LeastRowBytes(png_uint_32 width, png_uint_32 height) {
  return std::uint64_t(height) * (1 + (std::uint64_t(width) + 7) / 8);
}

}  // namespace

struct PngReader {
  png_image image{};
  std::FILE* in = nullptr;
};

void PngReaderDeleter::operator()(PngReader* reader) const {
  png_image_free(&reader->image);
  delete reader;
}

std::string BeginPng(std::FILE* in, PngReading& reading, int& width, int& height) {
  reading.reset(new PngReader);
  reading->in = in;
  png_image& image = reading->image;
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_stdio(&image, in)) return image.message;
  // An HWL image is at most 65535 x 65535.
  if (image.width > MaxPngSide || image.height > MaxPngSide)
    return "picture is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
           ", larger than an HWL image can be (65535 x 65535)";
  struct stat info {};
  if (fstat(fileno(in), &info) == 0 && S_ISREG(info.st_mode)) {
    const std::uint64_t least = LeastRowBytes(image.width, image.height) / MaxDeflateRatio;
    if (std::uint64_t(info.st_size) < least)
      return "file of " + std::to_string(info.st_size) + " bytes is too short for a " + std::to_string(image.width) +
             " x " + std::to_string(image.height) + " picture (at least " + std::to_string(least) +
             "): truncated or damaged";
  }
  width = int(image.width);
  height = int(image.height);
  return {};
}

std::string FinishPng(PngReading& reading, PngPicture& picture) {
  png_image& image = reading->image;
  image.format = PNG_FORMAT_RGBA;
  const std::size_t count = std::size_t(image.width) * image.height;
  std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
    if (std::feof(reading->in)) return std::string("file ends early, truncated (") + image.message + ")";
    return image.message;
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

std::string ReadPng(std::FILE* in, PngPicture& picture) {
  PngReading reading;
  int width = 0, height = 0;
  if (std::string reason = BeginPng(in, reading, width, height); !reason.empty()) return reason;
  return FinishPng(reading, picture);
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
