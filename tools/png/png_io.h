// PNG reading and writing for the tools and tests, through libpng's simplified API.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct PngPicture {
  int width = 0;
  int height = 0;
  int channels = 0;                 // 1 grey or 3 R, G, B
  std::vector<std::uint8_t> pixels;  // row-major, channels bytes per pixel, no padding
};

// A PNG whose header has been read and whose pixels have not (libpng's state).
struct PngReader;
struct PngReaderDeleter {
  void operator()(PngReader* reader) const;
};
using PngReading = std::unique_ptr<PngReader, PngReaderDeleter>;

// Reads a PNG's header from an open stream and gives its size, allocating
// nothing that depends on it; refuses sizes an HWL image cannot have (over
// 65535) and, for a regular file, a file too short to hold that many rows
// even at deflate's best ratio (a truncated or forged header). The caller
// can check the size against its own limits before FinishPng allocates.
// Returns an empty string on success, else the reason.
std::string BeginPng(std::FILE* in, PngReading& reading, int& width, int& height);

// Reads the pixels of any PNG (palette, grey, 16-bit, with or without alpha)
// as 8-bit RGB; alpha is composited onto black, the background the show
// draws on. Holds 7 bytes per pixel while it works, 3 after.
std::string FinishPng(PngReading& reading, PngPicture& picture);

// Both steps at once.
std::string ReadPng(std::FILE* in, PngPicture& picture);

// Converts an RGB picture to one luma plane (ITU-R BT.601 weights).
void ConvertToLuma(PngPicture& picture);

// Writes an 8-bit grey or RGB PNG to an open stream.
std::string WritePng(std::FILE* out, const PngPicture& picture);

// The same by file name, from pixels in memory (channels 1 or 3, rows without
// padding). Return an empty string on success, else the reason with the name.
std::string ReadPngFile(const std::string& path, PngPicture& picture);
std::string WritePngFile(const std::string& path, int width, int height, int channels, const std::uint8_t* pixels);
