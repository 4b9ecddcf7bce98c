#include "frame_compare.h"

#include <algorithm>
#include <cstdlib>

#include "png_io.h"

bool ReadFramePng(const std::string& path, RgbImage& image) {
  PngPicture picture;
  if (!ReadPngFile(path, picture).empty()) return false;
  image.width = picture.width;
  image.height = picture.height;
  image.rgb = std::move(picture.pixels);
  return true;
}

bool WriteFramePng(const std::string& path, const RgbImage& image) {
  return WritePngFile(path, image.width, image.height, 3, image.rgb.data()).empty();
}

std::string CompareFrames(const RgbImage& actual, const RgbImage& expected, const FrameTolerance& tolerance) {
  if (actual.width != expected.width || actual.height != expected.height || actual.rgb.size() != expected.rgb.size())
    return "sizes differ";
  long outliers = 0;
  double total = 0;
  int largest = 0;
  for (std::size_t i = 0; i < actual.rgb.size(); i += 3) {
    int worst = 0;
    for (int c = 0; c < 3; ++c) {
      const int d = std::abs(int(actual.rgb[i + c]) - int(expected.rgb[i + c]));
      total += d;
      worst = std::max(worst, d);
    }
    largest = std::max(largest, worst);
    if (worst > tolerance.channel) ++outliers;
  }
  const double mean = actual.rgb.empty() ? 0 : total / double(actual.rgb.size());
  if (outliers <= tolerance.outlierShare * actual.width * actual.height && mean <= tolerance.mean) return {};
  return std::to_string(outliers) + " pixels differ by more than " + std::to_string(tolerance.channel) +
         " (largest " + std::to_string(largest) + "), mean difference " + std::to_string(mean);
}
