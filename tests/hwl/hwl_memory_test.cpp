// Working memory of the decoder, measured with a counting allocator that
// replaces the global operator new of this test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <thread>

#include "counting_allocator.h"
#include "hwl_decode.h"
#include "hwl_test_writer.h"

namespace {

using counting::PeakMeter;

using Bytes = std::vector<std::uint8_t>;

// Runs f on a thread of its own: a decoder thread keeps its working memory
// for its next decode, so a new thread shows what a first decode costs.
template <class F>
void OnNewThread(const F& f) {
  std::thread(f).join();
}

TEST(HwlMemory, ColourWorkingMemoryPerPixel) {
  const int w = 512, h = 512;
  const Bytes file = testhwl::Write(testhwl::Analyse(testhwl::Picture(w, h), w, h, 4, 8));
  Bytes pixels(std::size_t(w) * h * 4);  // the output already exists
  HwlHeader header;
  for (const int threads : {1, 2}) {
    double perPixel = 0;
    OnNewThread([&] {
      PeakMeter m;
      ASSERT_TRUE(DecodeHwlImage(file, pixels, header, "m", true, threads));
      perPixel = double(m.Extra()) / (w * h);
    });
    std::printf("working memory, %d thread(s): %.2f bytes per pixel (file %.2f bytes per pixel)\n", threads,
                perPixel, double(file.size()) / (w * h));
    RecordProperty("bytes_per_pixel_" + std::to_string(threads), std::to_string(perPixel));
    EXPECT_GT(perPixel, 2.0);  // the coefficients alone take 2
    EXPECT_LE(perPixel, 16.0);
  }
  // From disk the file's bytes are held too.
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "hwl_memory_colour.hwl";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  double perPixel = 0;
  OnNewThread([&] {
    PeakMeter m;
    ASSERT_TRUE(LoadHwlImage(pixels, header, path.string(), true));
    perPixel = double(m.Extra()) / (w * h);
  });
  std::printf("working memory of LoadHwlImage: %.2f bytes per pixel\n", perPixel);
  EXPECT_LE(perPixel, 16.0);
  std::filesystem::remove(path);
}

// A thread's second decode of a picture no larger than its first allocates
// (nearly) nothing, and gives the same pixels; a larger one takes more.
TEST(HwlMemory, ThreadKeepsWorkingMemoryBetweenDecodes) {
  const Bytes small = testhwl::Write(testhwl::Analyse(testhwl::Picture(256, 192), 256, 192, 3, 8));
  const Bytes large = testhwl::Write(testhwl::Analyse(testhwl::Picture(384, 256), 384, 256, 4, 8));
  OnNewThread([&] {
    HwlHeader header;
    Bytes first, again;
    ASSERT_TRUE(DecodeHwlImage(large, first, header, "l", true, 1));
    Bytes smallPixels(std::size_t(256) * 192 * 4), largePixels(first.size());
    {
      PeakMeter m;
      ASSERT_TRUE(DecodeHwlImage(small, smallPixels, header, "s", false, 1));
      ASSERT_TRUE(DecodeHwlImage(large, largePixels, header, "l", false, 1));
      EXPECT_LT(m.Extra(), 4096u);
    }
    EXPECT_EQ(largePixels, first);
    Bytes fresh;
    OnNewThread([&] { ASSERT_TRUE(DecodeHwlImage(small, fresh, header, "s", true, 1)); });
    EXPECT_EQ(smallPixels, fresh);
  });
}

TEST(HwlMemory, TinyFileCannotAskForALargeImage) {
  // 65520 x 65520 grey announced by a 60-byte file: above the default pixel
  // limit, and with no limit rejected from the streams; either way before
  // anything of the image's size is allocated.
  testhwl::File f;
  f.width = f.height = 65520;
  f.levels = 3;
  f.planes.push_back({{1, 1, 1, 1, 1}, {1}, {255}});
  const Bytes file = testhwl::Write(f);
  Bytes pixels;
  HwlHeader header;
  for (const std::uint64_t limit : {HwlDefaultMaxPixels, HwlFormatMaxPixels}) {
    PeakMeter m;
    const HwlStatus s = DecodeHwlImage(file, pixels, header, "t", true, {.maxPixels = limit});
    EXPECT_EQ(s.code, limit == HwlDefaultMaxPixels ? HwlTooLarge : HwlFormatError);
    EXPECT_NE(s.message.find(limit == HwlDefaultMaxPixels ? "more than the limit of 268435456" : "describe"),
              std::string::npos)
        << s.message;
    EXPECT_LT(m.Extra(), 4096u);
  }
}

// The pixel limit holds whatever the file: an image above it is refused
// after its header, before its bytes are read or anything of its size is
// allocated, and an image of exactly the limit decodes.
TEST(HwlMemory, PixelLimitRefusesBeforeReadingOrAllocating) {
  const Bytes file = testhwl::Write(testhwl::AllZeroRuns(256, 128, 24, 2));
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "hwl_memory_limit.hwl";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  const Bytes sentinel(7, 0x33);
  for (const bool fromDisk : {false, true}) {
    SCOPED_TRACE(fromDisk ? "LoadHwlImage" : "DecodeHwlImage");
    const auto decode = [&](std::uint64_t limit, Bytes& pixels, HwlHeader& header) {
      return fromDisk ? LoadHwlImage(pixels, header, path.string(), true, {.maxPixels = limit})
                      : DecodeHwlImage(file, pixels, header, "m", true, {.maxPixels = limit});
    };
    Bytes pixels = sentinel;
    HwlHeader header;
    PeakMeter m;
    const HwlStatus s = decode(256 * 128 - 1, pixels, header);
    EXPECT_EQ(s.code, HwlTooLarge);
    EXPECT_NE(s.message.find("256 x 128 is 32768 pixels, more than the limit of 32767"), std::string::npos) << s.message;
    EXPECT_EQ(header.width, 256);
    EXPECT_EQ(pixels, sentinel);
    EXPECT_LT(m.Extra(), 4096u) << "only the header is read";
    EXPECT_TRUE(decode(256 * 128, pixels, header));
    EXPECT_EQ(pixels, Bytes(256 * 128 * 4, 0));
  }
  std::filesystem::remove(path);
}

// The worst files for the decoder's memory, made of nothing but zero runs,
// in the shapes that weigh most: square, one or two rows high (each thread
// copies whole rows), two columns wide (one strip holds half the plane).
// From disk, so that the file's own bytes count; the output is allocated
// by the decode.
TEST(HwlMemory, WorstCaseFilesStayWithinTheStatedBound) {
  struct Shape {
    int width, height, bitsPerPixel;
  };
  const Shape shapes[] = {{2048, 2048, 8}, {1024, 1024, 24}, {65534, 2, 8}, {2, 65534, 8}, {65534, 2, 24}};
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "hwl_memory_worst.hwl";
  double worstPerFileByte = 0;
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(std::to_string(shape.width) + " x " + std::to_string(shape.height));
    const Bytes file = testhwl::Write(testhwl::AllZeroRuns(shape.width, shape.height, shape.bitsPerPixel, 0));
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    const double pixels = double(shape.width) * shape.height;
    Bytes output;
    HwlHeader header;
    PeakMeter m;
    ASSERT_TRUE(LoadHwlImage(output, header, path.string(), true));
    const double extra = double(m.Extra());
    std::printf("%5d x %-5d %s: file %7zu bytes, working memory %9.0f bytes: %5.2f per pixel, %6.0f per file byte\n",
                shape.width, shape.height, shape.bitsPerPixel == 8 ? "grey  " : "colour", file.size(), extra,
                extra / pixels, extra / double(file.size()));
    EXPECT_LE(pixels, HwlMaxPixelsPerFileByte * double(file.size()));
    EXPECT_LE(extra, double(file.size()) + HwlMaxBytesPerPixel * pixels + 65536);
    worstPerFileByte = std::max(worstPerFileByte, extra / double(file.size()));
  }
  RecordProperty("worst_bytes_per_file_byte", std::to_string(worstPerFileByte));
  std::filesystem::remove(path);
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
