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

// A channel may differ by a few levels anywhere, a few pixels (polygon
// edges) by more, and the mean difference stays small.
struct FrameTolerance {
  int channel;          // levels any channel may differ by
  double outlierShare;  // share of pixels that may differ by more
  double mean;          // largest mean difference per channel
};
// Mesa's llvmpipe on another CPU: a very few edge pixels.
constexpr FrameTolerance NativeTolerance{8, 0.001, 0.5};
// A browser's renderer (SwiftShader): the show draws far-away logo squares
// with minified textures and no mipmaps, so each pixel samples a few texels
// out of many, and another rasterizer's sub-texel precision picks others
// along the picture's sharp edges (up to 200 levels off, in under 0.5 % of
// the pixels, the B2 burst being the worst). The mean still holds.
constexpr FrameTolerance BrowserTolerance{8, 0.005, 0.5};

// Empty when the frames are the same within the tolerance, else the reason.
std::string CompareFrames(const RgbImage& actual, const RgbImage& expected,
                          const FrameTolerance& tolerance = NativeTolerance);
