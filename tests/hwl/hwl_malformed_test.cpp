// Malformed files: a generator derives broken variants of valid files and
// every one must fail with its code, leave the pixel buffer alone and fill
// the header exactly when 34 bytes exist.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "hwl_decode.h"
#include "hwl_test_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Case {
  std::string name;
  Bytes file;
  int code;
};

// A colour file with non-empty regions of odd lengths.
testhwl::File BaseColour() {
  std::mt19937 rng(5);
  testhwl::File f = testhwl::Analyse(testhwl::Picture(48, 32), 48, 32, 2, 5);
  for (auto& p : f.planes) p.scales[1] = 0.75;  // keep every band non-zero
  return f;
}

// A grey 16 x 16 file whose streams end in a run: 250 values then 6 zeros.
testhwl::File BaseGrey() {
  testhwl::File f;
  f.width = f.height = 16;
  f.levels = 1;
  f.valueBits = 7;
  testhwl::Plane p;
  p.scales = {2.0, 1.0, 0.25};
  std::vector<int> c(256, 0);
  for (int i = 0; i < 250; ++i) c[i] = (i * 37) % 255 - 127;
  for (int i = 0; i < 250; ++i) c[i] = c[i] == 0 ? 1 : c[i] / 2;
  testhwl::CodeCoefficients(c, 7, p);
  f.planes.push_back(p);
  return f;
}

std::vector<Case> MalformedFiles() {
  std::vector<Case> cases;
  const auto add = [&](std::string name, Bytes file, int code) { cases.push_back({std::move(name), std::move(file), code}); };

  // Truncation at and inside every region.
  for (const testhwl::File& f : {BaseColour(), BaseGrey()}) {
    const Bytes whole = testhwl::Write(f);
    const std::vector<std::size_t> ends = testhwl::RegionEnds(f);
    EXPECT_EQ(ends.back(), whole.size());
    std::size_t start = 0;
    for (std::size_t i = 0; i < ends.size(); ++i) {
      for (const std::size_t cut : {start, (start + ends[i]) / 2, ends[i] - 1})
        add("cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()),
            Bytes(whole.begin(), whole.begin() + cut), HwlReadPastEnd);
      start = ends[i];
    }
  }

  const Bytes colour = testhwl::Write(BaseColour());
  const auto patched = [&](std::size_t at, std::initializer_list<std::uint8_t> bytes) {
    Bytes b = colour;
    std::copy(bytes.begin(), bytes.end(), b.begin() + at);
    return b;
  };
  // Header fields (the base has levels 2, 48 x 32).
  add("levels 17", patched(testhwl::LevelsOffset, {17}), HwlFormatError);
  add("levels 255", patched(testhwl::LevelsOffset, {255}), HwlFormatError);
  add("levels too deep for the size", patched(testhwl::LevelsOffset, {4}), HwlFormatError);
  add("valueBits 0", patched(testhwl::ValueBitsOffset, {0}), HwlFormatError);
  add("valueBits 9", patched(testhwl::ValueBitsOffset, {9}), HwlFormatError);
  add("width 0", patched(testhwl::WidthOffset, {0, 0}), HwlFormatError);
  add("height 0", patched(testhwl::HeightOffset, {0, 0}), HwlFormatError);
  add("width 44", patched(testhwl::WidthOffset, {44, 0}), HwlFormatError);
  add("height 65535", patched(testhwl::HeightOffset, {0xFF, 0xFF}), HwlFormatError);
  // Counts: a value stream whose 32-bit size wraps (0x20000001 x 5 bits), a
  // product just below 2^32, and the largest symbol count.
  Bytes wrapped = colour;
  testhwl::PutU32(wrapped, testhwl::ValueCountOffset + 4, 0x33333334);  // x 5 = 2^32 + 4
  add("value count x bits wraps", wrapped, HwlFormatError);
  Bytes below = colour;
  testhwl::PutU32(below, testhwl::ValueCountOffset, 0x33333333);  // x 5 = 2^32 - 1
  add("value stream of 512 MiB", below, HwlReadPastEnd);
  Bytes symbols = colour;
  testhwl::PutU32(symbols, testhwl::SymbolCountOffset + 8, 0xFFFFFFFF);
  add("symbol stream of 1 GiB", symbols, HwlReadPastEnd);

  // Band scales.
  const std::pair<const char*, double> scales[] = {
      {"NaN", std::nan("")}, {"subnormal", 1e-310}, {"2^-961", std::ldexp(1.0, -961)}};
  for (const auto& [what, value] : scales)
    for (const std::size_t entry : {0, 3 + 2 * 4}) {  // first entry of plane 1, approximation of plane 3
      Bytes b = colour;
      testhwl::PutDouble(b, 34 + 8 * entry, value);
      add(std::string("band scale ") + what + " at " + std::to_string(entry), b, HwlFormatError);
    }

  // Streams: symbols and values that do not add up to the plane.
  const testhwl::File grey = BaseGrey();
  const auto variant = [&](const std::string& what, auto change) {
    testhwl::File f = grey;
    change(f.planes[0]);
    add(what, testhwl::Write(f), HwlFormatError);
  };
  variant("extra Zero symbol", [](testhwl::Plane& p) { p.symbols.push_back(0); });
  variant("extra Positive symbol with its value", [](testhwl::Plane& p) {
    p.symbols.push_back(2);
    p.values.push_back(1);
  });
  variant("final run missing", [](testhwl::Plane& p) {
    p.symbols.pop_back();
    p.values.pop_back();
  });
  variant("final run too long", [](testhwl::Plane& p) { p.values.back() += 1; });
  variant("final run too short", [](testhwl::Plane& p) { p.values.back() -= 1; });
  variant("value left unused", [](testhwl::Plane& p) { p.values.push_back(3); });
  variant("value missing", [](testhwl::Plane& p) { p.values.pop_back(); });
  variant("no symbols", [](testhwl::Plane& p) {
    p.symbols.clear();
    p.values.clear();
  });
  variant("run instead of last value", [](testhwl::Plane& p) { p.symbols[249] = 1; });
  return cases;
}

TEST(HwlMalformed, EveryCaseFailsCleanly) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "hwl_malformed_test";
  std::filesystem::create_directories(dir);
  const std::vector<Case> cases = MalformedFiles();
  EXPECT_GT(cases.size(), 60u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes sentinel(13, 0x5A);
    for (const bool allocate : {true, false}) {
      Bytes pixels = sentinel;
      HwlHeader header;
      header.width = 777;
      const HwlStatus s = DecodeHwlImage(c.file, pixels, header, "bad.hwl", allocate);
      EXPECT_EQ(s.code, c.code) << s.message;
      EXPECT_NE(s.message.find("bad.hwl"), std::string::npos);
      EXPECT_EQ(pixels, sentinel);
      if (c.file.size() >= HwlHeaderSize)
        EXPECT_EQ(header.width, c.file[3] | c.file[4] << 8);
      else
        EXPECT_EQ(header.width, 777);
    }
    const std::filesystem::path path = dir / "case.hwl";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(c.file.data()), std::streamsize(c.file.size()));
    Bytes pixels = sentinel;
    HwlHeader header;
    EXPECT_EQ(LoadHwlImage(pixels, header, path.string(), true).code, c.code);
    EXPECT_EQ(pixels, sentinel);
  }
  std::filesystem::remove_all(dir);
}

// A decode checks each plane's streams as it expands them, in as many parts
// as it has threads: a fault in any part of any plane, the last one too
// after the others are decoded, is reported as the check of the whole file
// reports it, and leaves the pixels alone; a buffer too small for a file
// that is not well formed is reported as the file's fault.
TEST(HwlMalformed, StreamsCheckedAsTheyExpand) {
  const testhwl::File base = testhwl::Analyse(testhwl::Picture(256, 256), 256, 256, 3, 8);
  const auto runAt = [](const testhwl::Plane& p, std::size_t from) {
    std::size_t i = from, value = 0;
    for (std::size_t k = 0; k < i; ++k) value += p.symbols[k] != 0;
    while (p.symbols[i] != 1) value += p.symbols[i++] != 0;
    return value;
  };
  const std::pair<const char*, void (*)(testhwl::Plane&, std::size_t)> faults[] = {
      {"a run in the middle one longer",
       [](testhwl::Plane& p, std::size_t run) { p.values[run] = std::uint8_t(p.values[run] == 255 ? 254 : p.values[run] + 1); }},
      {"a run in the middle one shorter",
       [](testhwl::Plane& p, std::size_t run) { p.values[run] = std::uint8_t(p.values[run] == 0 ? 1 : p.values[run] - 1); }},
      {"a value missing at the end", [](testhwl::Plane& p, std::size_t) { p.values.pop_back(); }},
      {"a symbol left over", [](testhwl::Plane& p, std::size_t) { p.symbols.push_back(2); }},
  };
  for (const int plane : {0, 2})
    for (const auto& [what, fault] : faults) {
      SCOPED_TRACE(std::string(what) + " in plane " + std::to_string(plane + 1));
      testhwl::File f = base;
      testhwl::Plane& p = f.planes[plane];
      fault(p, runAt(p, p.symbols.size() / 2));
      const Bytes file = testhwl::Write(f);
      const HwlHeader h = ParseHwlHeader(file);
      HwlBody body;
      const HwlStatus whole = DecodeCoefficientPlanes(file, h, "bad.hwl", body);
      ASSERT_EQ(whole.code, HwlFormatError);
      for (const int threads : {1, 2, 4})
        for (const std::size_t size : {std::size_t{0}, std::size_t{13}, std::size_t{256 * 256 * 4}}) {
          const Bytes sentinel(size, 0x5A);
          Bytes pixels = sentinel;
          HwlHeader header;
          const HwlStatus s = DecodeHwlImage(file, pixels, header, "bad.hwl", size == 0, threads);
          EXPECT_EQ(s.code, whole.code) << threads << " threads";
          EXPECT_EQ(s.message, whole.message) << threads << " threads";
          EXPECT_EQ(pixels, sentinel);
        }
    }
  // Values that run out in the first of two parts, whose cursor for the
  // second then stops counting early: the second part alone ends exactly
  // with the plane and the streams.
  testhwl::File grey;
  grey.width = grey.height = 256;
  grey.levels = 1;
  testhwl::Plane& p = grey.planes.emplace_back();
  p.scales = {1, 1, 1};
  p.symbols.assign(131008, 0);
  std::fill_n(p.symbols.begin(), 33, 2);
  p.values.assign(32, 7);
  const Bytes short1 = testhwl::Write(grey);
  Bytes pixels(13, 0x5A);
  HwlHeader header;
  const HwlStatus s = DecodeHwlImage(short1, pixels, header, "bad.hwl", true, 2);
  EXPECT_EQ(s.code, HwlFormatError);
  EXPECT_NE(s.message.find("needs a value after the last one"), std::string::npos) << s.message;
  EXPECT_EQ(pixels, Bytes(13, 0x5A));

  EXPECT_EQ(DecodeHwlImage(testhwl::Write(base), pixels, header, "ok.hwl", false, 2).code, HwlBufferTooSmall);
  EXPECT_EQ(pixels, Bytes(13, 0x5A));
}

TEST(HwlMalformed, TolerableOddities) {
  // Counts of unused planes, a longer file, huge and negative scales decode.
  Bytes grey = testhwl::Write(BaseGrey());
  testhwl::PutU32(grey, testhwl::SymbolCountOffset + 4, 0xFFFFFFFF);
  testhwl::PutU32(grey, testhwl::ValueCountOffset + 8, 0xFFFFFFFF);
  grey.push_back(0xAB);
  Bytes pixels;
  HwlHeader header;
  EXPECT_TRUE(DecodeHwlImage(grey, pixels, header, "g", true));
  Bytes colour = testhwl::Write(BaseColour());
  testhwl::PutDouble(colour, 34, 1e308);
  testhwl::PutDouble(colour, 34 + 8, -0.5);
  testhwl::PutDouble(colour, 34 + 16, std::ldexp(1.0, -959));
  const HwlStatus s = DecodeHwlImage(colour, pixels, header, "c", true);
  EXPECT_TRUE(s) << s.message;

  // An infinite scale has the reciprocal 0, as a scale of 0 has no factor:
  // the band decodes as zeros either way.
  const double inf = std::numeric_limits<double>::infinity();
  for (const double scale : {inf, -inf}) {
    Bytes infinite = testhwl::Write(BaseColour()), zero = infinite;
    testhwl::PutDouble(infinite, 34 + 8, scale);
    testhwl::PutDouble(zero, 34 + 8, 0.0);
    Bytes zeroPixels;
    const HwlStatus si = DecodeHwlImage(infinite, pixels, header, "i", true);
    ASSERT_TRUE(si) << si.message;
    ASSERT_TRUE(DecodeHwlImage(zero, zeroPixels, header, "z", true));
    EXPECT_EQ(pixels, zeroPixels);
    EXPECT_NE(pixels, Bytes(pixels.size(), 0));
  }
}

}  // namespace
