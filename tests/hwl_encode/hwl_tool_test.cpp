// The hwl program run as a separate process: its output, its files and its
// exit codes, and that a failure leaves no file behind.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "hwl.h"
#include "test_pictures.h"
#include "tool_test_files.h"

namespace {

namespace fs = std::filesystem;
using namespace test_pictures;

using tool_test::ReadFile;
using tool_test::WriteFile;

void WritePngFile(const fs::path& path, int width, int height, png_uint_32 format, const void* pixels,
                  const void* colormap = nullptr, png_uint_32 colormapEntries = 0) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(width);
  image.height = png_uint_32(height);
  image.format = format;
  image.colormap_entries = colormapEntries;
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels, 0, colormap)) << image.message;
}

// Reads a PNG as written, reporting whether it is grey.
std::vector<std::uint8_t> ReadPngFile(const fs::path& path, bool& grey) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  grey = (image.format & PNG_FORMAT_FLAG_COLOR) == 0;
  image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  return pixels;
}

struct ToolRun {
  int code = -1;
  std::string out, err;
};

class HwlTool : public testing::Test {
 protected:

  ToolRun Hwl(const std::string& args) {
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    const std::string command =
        std::string(HWL_TOOL_COMMAND) + " " + args + " >'" + out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    ToolRun run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto o = ReadFile(out), e = ReadFile(err);
    run.out.assign(o.begin(), o.end());
    run.err.assign(e.begin(), e.end());
    fs::remove(out);
    fs::remove(err);
    return run;
  }

  std::string P(const std::string& name) const { return "'" + (dir / name).string() + "'"; }

  std::vector<std::string> Listing() const { return scratch.Listing(); }

  fs::path WriteHwl(const std::string& name, std::span<const std::uint8_t> pixels, int width, int height,
                    int channels, HwlEncodeOptions options = {}) {
    std::vector<std::uint8_t> file;
    EXPECT_TRUE(EncodeHwlImage(pixels, width, height, channels, options, file));
    WriteFile(dir / name, file);
    return dir / name;
  }

  tool_test::ScratchDir scratch{"hwl_tool"};
  const fs::path dir = scratch.path;
};

TEST_F(HwlTool, InfoPrintsEveryHeaderField) {
  const fs::path file = WriteHwl("card.hwl", Card(64, 32, 3), 64, 32, 3, {2, 7});
  HwlHeader h;
  ASSERT_TRUE(ReadHwlHeader(file.string(), h));
  const ToolRun run = Hwl("info " + P("card.hwl"));
  EXPECT_EQ(run.code, 0) << run.err;
  std::ostringstream expected;
  expected << "magic: HWL\nwidth: 64\nheight: 32\nbitsPerPixel: 24\nlevels: 2\n";
  for (int p = 0; p < 3; ++p) expected << "symbolCount[" << p << "]: " << h.symbolCount[p] << "\n";
  for (int p = 0; p < 3; ++p) expected << "valueCount[" << p << "]: " << h.valueCount[p] << "\n";
  expected << "valueBits: 7\nfileSize: " << fs::file_size(file) << "\n";
  EXPECT_EQ(run.out, expected.str());
}

TEST_F(HwlTool, DecodesColourAndGreyToPngAndRaw) {
  for (int channels : {3, 1}) {
    SCOPED_TRACE(channels);
    const fs::path file = WriteHwl("in.hwl", Card(32, 16, channels), 32, 16, channels);
    std::vector<std::uint8_t> pixels;
    HwlHeader header;
    ASSERT_TRUE(LoadHwlImage(pixels, header, file.string(), true));

    ToolRun run = Hwl("decode " + P("in.hwl") + " " + P("out.raw"));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ReadFile(dir / "out.raw"), pixels) << "raw output is the loader's buffer";
    EXPECT_EQ(fs::file_size(dir / "out.raw"), 32u * 16u * (channels == 3 ? 4u : 1u));

    run = Hwl("decode " + P("in.hwl") + " " + P("out.PNG"));
    ASSERT_EQ(run.code, 0) << run.err;
    bool grey = false;
    const auto png = ReadPngFile(dir / "out.PNG", grey);
    EXPECT_EQ(grey, channels == 1);
    ASSERT_EQ(png.size(), 32u * 16u * channels);
    for (std::size_t i = 0; i < 32 * 16; ++i)
      for (int c = 0; c < channels; ++c)
        ASSERT_EQ(png[i * channels + c], channels == 1 ? pixels[i] : pixels[i * 4 + 2 - c]) << "pixel " << i;
    EXPECT_EQ(Listing(), (std::vector<std::string>{"in.hwl", "out.PNG", "out.raw"}));
    fs::remove(dir / "out.raw");
    fs::remove(dir / "out.PNG");
  }
}

TEST_F(HwlTool, EncodesPngWithOptions) {
  const auto source = Card(64, 64, 3);
  WritePngFile(dir / "in.png", 64, 64, PNG_FORMAT_RGB, source.data());

  ToolRun run = Hwl("encode " + P("in.png") + " " + P("default.hwl"));
  ASSERT_EQ(run.code, 0) << run.err;
  std::vector<std::uint8_t> pixels;
  HwlHeader header;
  ASSERT_TRUE(LoadHwlImage(pixels, header, (dir / "default.hwl").string(), true));
  EXPECT_EQ(header.levels, HwlEncodeOptions{}.levels);
  EXPECT_EQ(header.valueBits, HwlEncodeOptions{}.valueBits);
  EXPECT_EQ(header.bitsPerPixel, 24);
  EXPECT_GT(Psnr(source, pixels, 3), 50.0);

  run = Hwl("encode --levels 3 " + P("in.png") + " --bits 6 " + P("options.hwl"));
  ASSERT_EQ(run.code, 0) << run.err;
  ASSERT_TRUE(LoadHwlImage(pixels, header, (dir / "options.hwl").string(), true));
  EXPECT_EQ(header.levels, 3);
  EXPECT_EQ(header.valueBits, 6);

  run = Hwl("encode " + P("in.png") + " " + P("grey.hwl") + " --grey");
  ASSERT_EQ(run.code, 0) << run.err;
  ASSERT_TRUE(LoadHwlImage(pixels, header, (dir / "grey.hwl").string(), true));
  EXPECT_EQ(header.bitsPerPixel, 8);
  std::vector<std::uint8_t> luma(64 * 64);
  for (std::size_t i = 0; i < luma.size(); ++i)
    luma[i] = std::uint8_t((299 * source[i * 3] + 587 * source[i * 3 + 1] + 114 * source[i * 3 + 2] + 500) / 1000);
  EXPECT_GT(Psnr(luma, pixels, 1), 50.0);
}

// Alpha is composited onto black; palette and grey-alpha inputs are expanded.
TEST_F(HwlTool, EncodesAlphaAndPalettePngs) {
  std::vector<std::uint8_t> rgba(16 * 16 * 4);
  for (std::size_t i = 0; i < 16 * 16; ++i) {
    rgba[i * 4 + 0] = 200;
    rgba[i * 4 + 1] = 100;
    rgba[i * 4 + 2] = 50;
    rgba[i * 4 + 3] = i < 128 ? 255 : 128;
  }
  WritePngFile(dir / "alpha.png", 16, 16, PNG_FORMAT_RGBA, rgba.data());
  ASSERT_EQ(Hwl("encode " + P("alpha.png") + " " + P("alpha.hwl") + " --levels 0").code, 0);
  std::vector<std::uint8_t> pixels;
  HwlHeader header;
  ASSERT_TRUE(LoadHwlImage(pixels, header, (dir / "alpha.hwl").string(), true));
  const std::uint32_t opaque = Le(&pixels[0], 4), half = Le(&pixels[255 * 4], 4);
  EXPECT_EQ(opaque, 0xC86432u);
  EXPECT_EQ(half, 0x643219u);

  const std::uint8_t palette[] = {0, 0, 0, 255, 255, 255, 40, 80, 160};
  std::vector<std::uint8_t> indices(16 * 16);
  for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = std::uint8_t(i % 3);
  WritePngFile(dir / "palette.png", 16, 16, PNG_FORMAT_RGB_COLORMAP, indices.data(), palette, 3);
  ASSERT_EQ(Hwl("encode " + P("palette.png") + " " + P("palette.hwl")).code, 0);
  ASSERT_TRUE(LoadHwlImage(pixels, header, (dir / "palette.hwl").string(), true));
  std::vector<std::uint8_t> expected(16 * 16 * 3);
  for (std::size_t i = 0; i < indices.size(); ++i)
    for (int c = 0; c < 3; ++c) expected[i * 3 + c] = palette[indices[i] * 3 + c];
  EXPECT_GT(Psnr(expected, pixels, 3), 40.0);

  std::vector<std::uint8_t> greyAlpha(16 * 16 * 2);
  for (std::size_t i = 0; i < 16 * 16; ++i) {
    greyAlpha[i * 2] = 240;
    greyAlpha[i * 2 + 1] = 0;
  }
  WritePngFile(dir / "ga.png", 16, 16, PNG_FORMAT_GA, greyAlpha.data());
  ASSERT_EQ(Hwl("encode " + P("ga.png") + " " + P("ga.hwl") + " --grey").code, 0);
  ASSERT_TRUE(LoadHwlImage(pixels, header, (dir / "ga.hwl").string(), true));
  EXPECT_EQ(pixels, std::vector<std::uint8_t>(16 * 16, 0)) << "fully transparent is black";
}

// Pictures whose buffers hold whole huge pages (tools/hwl/large_pages.cpp)
// decode to the loader's bytes too.
TEST_F(HwlTool, LargePicturesDecodeAsSmallOnes) {
  constexpr int Width = 2048, Height = 1024;  // a 4 MB plane of coefficients
  WriteHwl("large.hwl", Card(Width, Height, 1), Width, Height, 1, {1, 8});
  std::vector<std::uint8_t> pixels;
  HwlHeader header;
  ASSERT_TRUE(LoadHwlImage(pixels, header, (dir / "large.hwl").string(), true));
  const ToolRun run = Hwl("decode " + P("large.hwl") + " " + P("out.raw"));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile(dir / "out.raw"), pixels);
}

// Each error exits with its code, leaves no file and keeps an existing one.
TEST_F(HwlTool, DecodeErrorsLeaveNoOutput) {
  const fs::path good = WriteHwl("good.hwl", Card(32, 32, 3), 32, 32, 3);
  const auto bytes = ReadFile(good);
  WriteFile(dir / "short.hwl", std::span(bytes).first(bytes.size() - 1));
  auto bad = bytes;
  bad[8] = 17;  // levels above 16
  WriteFile(dir / "bad.hwl", bad);
  const std::vector<std::uint8_t> keep{'k', 'e', 'e', 'p'};
  const std::pair<const char*, int> cases[] = {{"missing.hwl", 2}, {"short.hwl", 100}, {"bad.hwl", 201}};
  for (const auto& [name, code] : cases)
    for (const char* out : {"out.png", "out.raw"}) {
      SCOPED_TRACE(std::string(name) + " -> " + out);
      const auto before = Listing();
      ToolRun run = Hwl(std::string("decode ") + P(name) + " " + P(out));
      EXPECT_EQ(run.code, code);
      EXPECT_NE(run.err.find(name), std::string::npos) << run.err;
      EXPECT_EQ(Listing(), before) << "no file may be left behind";

      WriteFile(dir / out, keep);
      run = Hwl(std::string("decode ") + P(name) + " " + P(out));
      EXPECT_EQ(run.code, code);
      EXPECT_EQ(ReadFile(dir / out), keep) << "an existing file must survive a failure";
      fs::remove(dir / out);
    }
}

TEST_F(HwlTool, FileWithoutPixelsIsReportedNotWritten) {
  auto bytes = ReadFile(WriteHwl("in.hwl", Card(16, 16, 1), 16, 16, 1));
  bytes[7] = 16;  // neither grey nor colour
  WriteFile(dir / "odd.hwl", bytes);
  const ToolRun info = Hwl("info " + P("odd.hwl"));
  EXPECT_EQ(info.code, 0);
  EXPECT_NE(info.out.find("bitsPerPixel: 16\n"), std::string::npos);
  const ToolRun run = Hwl("decode " + P("odd.hwl") + " " + P("out.raw"));
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("no pixels"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir / "out.raw"));
}

TEST_F(HwlTool, EncodeErrors) {
  const std::vector<std::uint8_t> odd(30 * 30 * 3, 99);
  WritePngFile(dir / "odd.png", 30, 30, PNG_FORMAT_RGB, odd.data());
  WriteFile(dir / "notpng.png", std::vector<std::uint8_t>{'n', 'o', 't', ' ', 'p', 'n', 'g'});
  const std::pair<const char*, int> cases[] = {{"missing.png", 2}, {"notpng.png", 1}, {"odd.png", 201}};
  for (const auto& [name, code] : cases) {
    SCOPED_TRACE(name);
    const auto before = Listing();
    const ToolRun run = Hwl(std::string("encode ") + P(name) + " " + P("out.hwl"));
    EXPECT_EQ(run.code, code);
    EXPECT_NE(run.err.find(name), std::string::npos) << run.err;
    EXPECT_EQ(Listing(), before);
  }
  // 30 x 30 is a multiple of 2 only: levels 0 works.
  EXPECT_EQ(Hwl("encode " + P("odd.png") + " " + P("out.hwl") + " --levels 0").code, 0);
  // An output directory that does not exist.
  EXPECT_EQ(Hwl("decode " + P("out.hwl") + " " + P("nowhere/out.png")).code, 1);
}

TEST_F(HwlTool, CommandLine) {
  EXPECT_EQ(Hwl("").code, 64);
  EXPECT_EQ(Hwl("frobnicate x").code, 64);
  EXPECT_EQ(Hwl("info").code, 64);
  EXPECT_EQ(Hwl("decode only.hwl").code, 64);
  EXPECT_EQ(Hwl("encode in.png").code, 64);
  EXPECT_EQ(Hwl("encode in.png out.hwl --levels").code, 64);
  EXPECT_EQ(Hwl("encode in.png out.hwl --levels 17").code, 64);
  EXPECT_EQ(Hwl("encode in.png out.hwl --bits 0").code, 64);
  EXPECT_EQ(Hwl("encode in.png out.hwl --bits 8x").code, 64);
  EXPECT_EQ(Hwl("encode in.png out.hwl --colour").code, 64);
  const ToolRun bad = Hwl("encode in.png");
  EXPECT_NE(bad.err.find("usage"), std::string::npos);
  for (const char* help : {"--help", "-h", "decode --help"}) {
    const ToolRun run = Hwl(help);
    EXPECT_EQ(run.code, 0) << help;
    EXPECT_NE(run.out.find("hwl encode IN.png OUT.hwl"), std::string::npos) << help;
  }
}

}  // namespace
