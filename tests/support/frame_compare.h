// Rendered frames of the show as RGB pictures, read from and written to PNG
// files and compared within the tolerance that Mesa's llvmpipe needs across
// CPUs (other code paths give slightly different roundings).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // top row first, three bytes per pixel
};

bool ReadFramePng(const std::string& path, RgbImage& image);
bool WriteFramePng(const std::string& path, const RgbImage& image);

// A channel may differ by a few levels anywhere, a very few pixels (polygon
// edges) by more, and the mean difference stays small.
constexpr int ChannelTolerance = 8;
constexpr double OutlierShare = 0.001;
constexpr double MeanTolerance = 0.5;

// Empty when the frames are the same within the tolerance, else the reason.
std::string CompareFrames(const RgbImage& actual, const RgbImage& expected);
