// Working memory of the encoder, measured with a counting allocator that
// replaces the global operator new of this test program: the worst pictures
// for each part of it (noise, whose streams are largest; narrow and flat
// shapes, where scratch rows and strips weigh most; deep transforms).
#include <gtest/gtest.h>

#include <random>

#include "counting_allocator.h"
#include "hwl.h"
#include "test_pictures.h"

namespace {

std::vector<std::uint8_t> Noise(int width, int height, int channels) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> pixels(std::size_t(width) * height * channels);
  for (std::uint8_t& p : pixels) p = std::uint8_t(rng());
  return pixels;
}

TEST(HwlEncodeMemory, WorkingMemoryPerPixelStaysWithinTheStatedBound) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a measurement: the encoder's paths are checked by the other encoder tests";
#endif
  struct Case {
    const char* name;
    int width, height, channels, levels;
    std::vector<std::uint8_t> (*picture)(int, int, int);
  };
  const Case cases[] = {
      {"noise colour", 512, 512, 3, 1, Noise},
      {"noise colour, levels 5", 512, 512, 3, 5, Noise},
      {"noise grey", 512, 512, 1, 1, Noise},
      {"card colour", 512, 512, 3, 1, test_pictures::Card},
      {"black colour", 512, 512, 3, 1, [](int w, int h, int c) { return std::vector<std::uint8_t>(std::size_t(w) * h * c); }},
      {"narrow noise colour", 8, 16384, 3, 0, Noise},
      {"flat noise colour", 16384, 8, 3, 1, Noise},
      {"flattest noise colour", 32768, 2, 3, 0, Noise},
  };
  double worst = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> pixels = c.picture(c.width, c.height, c.channels);
    std::vector<std::uint8_t> file;
    counting::PeakMeter meter;
    const HwlStatus status = EncodeHwlImage(pixels, c.width, c.height, c.channels, {c.levels, 8}, file);
    ASSERT_TRUE(status) << status.message;
    // The file the caller receives is part of the peak; the pixels are the caller's.
    const double pixelCount = double(c.width) * c.height;
    const double perPixel = double(meter.Extra()) / pixelCount;
    std::printf("%-24s %.2f bytes per pixel (file %.2f)\n", c.name, perPixel, double(file.size()) / pixelCount);
    EXPECT_LE(double(meter.Extra()), HwlEncodeBytesPerPixel * pixelCount + 8.0 * c.width);
    worst = std::max(worst, perPixel);
  }
  RecordProperty("worst_bytes_per_pixel", std::to_string(worst));
}

}  // namespace
