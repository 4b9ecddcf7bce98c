// Working memory of the decoder, measured with a counting allocator that
// replaces the global operator new of this test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>

#include "counting_allocator.h"
#include "hwl_decode.h"
#include "hwl_test_writer.h"

namespace {

using counting::PeakMeter;

using Bytes = std::vector<std::uint8_t>;

TEST(HwlMemory, ColourWorkingMemoryPerPixel) {
  const int w = 512, h = 512;
  const Bytes file = testhwl::Write(testhwl::Analyse(testhwl::Picture(w, h), w, h, 4, 8));
  Bytes pixels(std::size_t(w) * h * 4);  // the output already exists
  HwlHeader header;
  for (const int threads : {1, 2}) {
    PeakMeter m;
    ASSERT_TRUE(DecodeHwlImage(file, pixels, header, "m", true, threads));
    const double perPixel = double(m.Extra()) / (w * h);
    std::printf("working memory, %d thread(s): %.2f bytes per pixel (file %.2f bytes per pixel)\n", threads,
                perPixel, double(file.size()) / (w * h));
    RecordProperty("bytes_per_pixel_" + std::to_string(threads), std::to_string(perPixel));
    EXPECT_LE(perPixel, 16.0);
  }
  // From disk the file's bytes are held too.
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "hwl_memory_colour.hwl";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  PeakMeter m;
  ASSERT_TRUE(LoadHwlImage(pixels, header, path.string(), true));
  const double perPixel = double(m.Extra()) / (w * h);
  std::printf("working memory of LoadHwlImage: %.2f bytes per pixel\n", perPixel);
  EXPECT_LE(perPixel, 16.0);
  std::filesystem::remove(path);
}

TEST(HwlMemory, TinyFileCannotAskForALargeImage) {
  // 65520 x 65520 grey announced by a 60-byte file: rejected from the streams
  // before anything of the image's size is allocated.
  testhwl::File f;
  f.width = f.height = 65520;
  f.levels = 3;
  f.planes.push_back({{1, 1, 1, 1, 1}, {1}, {255}});
  const Bytes file = testhwl::Write(f);
  Bytes pixels;
  HwlHeader header;
  PeakMeter m;
  EXPECT_EQ(DecodeHwlImage(file, pixels, header, "t", true).code, HwlFormatError);
  EXPECT_LT(m.Extra(), 4096u);
}

TEST(HwlMemory, ReadingGrowsOnlyWithTheBytesPresent) {
  // A header that announces 3 x 1 GiB of symbols, with 100 bytes behind it.
  testhwl::File f;
  f.width = f.height = 64;
  f.bitsPerPixel = 24;
  for (int p = 0; p < 3; ++p) f.planes.push_back({{1, 1}, {}, {}});
  Bytes file = testhwl::Write(f);
  for (int p = 0; p < 3; ++p) testhwl::PutU32(file, testhwl::SymbolCountOffset + 4 * p, 0xFFFFFFFF);
  file.resize(file.size() + 100, 0x55);
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "hwl_memory_test.hwl";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  Bytes pixels;
  HwlHeader header;
  PeakMeter m;
  EXPECT_EQ(LoadHwlImage(pixels, header, path.string(), true).code, HwlReadPastEnd);
  EXPECT_LT(m.Extra(), 256u * 1024);
  std::filesystem::remove(path);
}

}  // namespace
