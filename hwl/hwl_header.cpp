// Header parsing and the checks on header fields.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <system_error>

#include "hwl_format.h"

namespace {

std::uint16_t ReadU16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t ReadU32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

}  // namespace

HwlStatus HwlError(int code, const std::string& name, const std::string& reason) {
  return {code, name + ": " + reason};
}

HwlStatus HwlSystemError(int code, const std::string& name, const std::string& what) {
  const int error = errno;
  return HwlError(code, name, error != 0 ? what + " (" + std::generic_category().message(error) + ")" : what);
}

HwlHeader ParseHwlHeader(std::span<const std::uint8_t> bytes) {
  HwlHeader h;
  for (std::size_t i = 0; i < h.magic.size(); ++i) h.magic[i] = bytes[i];
  h.width = ReadU16(bytes, 3);
  h.height = ReadU16(bytes, 5);
  h.bitsPerPixel = bytes[7];
  h.levels = bytes[8];
  for (std::size_t p = 0; p < 3; ++p) {
    h.symbolCount[p] = ReadU32(bytes, 9 + 4 * p);
    h.valueCount[p] = ReadU32(bytes, 21 + 4 * p);
  }
  h.valueBits = bytes[33];
  return h;
}

int HwlPlaneCount(const HwlHeader& header) {
  if (header.bitsPerPixel == 8) return 1;
  if (header.bitsPerPixel == 24) return 3;
  return 0;
}

HwlStatus CheckHwlHeader(const HwlHeader& h, const std::string& name) {
  const auto fail = [&](const std::string& reason) { return HwlError(HwlFormatError, name, reason); };
  if (h.levels > HwlMaxLevels)
    return fail("levels " + std::to_string(h.levels) + " above " + std::to_string(HwlMaxLevels));
  if (h.valueBits == 0 || h.valueBits > HwlMaxValueBits)
    return fail("valueBits " + std::to_string(h.valueBits) + " outside 1 to 8");
  if (h.width == 0 || h.height == 0) return fail("width or height is zero");
  const unsigned block = 1u << (h.levels + 1);
  if (h.width % block != 0 || h.height % block != 0)
    return fail("size " + std::to_string(h.width) + " x " + std::to_string(h.height) +
                " is not a multiple of " + std::to_string(block) + " for levels " + std::to_string(h.levels));
  for (int p = 0; p < HwlPlaneCount(h); ++p) {
    const std::uint64_t bits = std::uint64_t{h.valueCount[p]} * h.valueBits;
    if (bits > UINT32_MAX)
      return fail("value count " + std::to_string(h.valueCount[p]) + " of plane " + std::to_string(p + 1) +
                  " times valueBits overflows the 32-bit stream size");
  }
  return {};
}

HwlStatus CheckHwlPixelLimit(std::uint64_t width, std::uint64_t height, std::uint64_t maxPixels,
                             const std::string& name) {
  if (width * height <= maxPixels) return {};
  return HwlError(HwlTooLarge, name,
                  std::to_string(width) + " x " + std::to_string(height) + " is " + std::to_string(width * height) +
                      " pixels, more than the limit of " + std::to_string(maxPixels));
}

std::uint64_t HwlAnnouncedSize(const HwlHeader& h) {
  const int planes = HwlPlaneCount(h);
  std::uint64_t size = HwlHeaderSize + std::uint64_t(planes) * (h.levels + 2) * sizeof(double);
  for (int p = 0; p < planes; ++p) {
    size += (std::uint64_t{h.symbolCount[p]} + 3) / 4;
    size += (std::uint64_t{h.valueCount[p]} * h.valueBits + 7) / 8;
  }
  return size;
}

HwlStatus ReadHwlHeader(const std::string& fileName, HwlHeader& header) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(fileName.c_str(), "rb"), std::fclose);
  if (!file) return HwlSystemError(HwlFileNotFound, fileName, "cannot be opened");
  std::array<std::uint8_t, HwlHeaderSize> bytes{};
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get())) return HwlSystemError(HwlFileNotFound, fileName, "cannot be read");
  if (got < bytes.size())
    return HwlError(HwlReadPastEnd, fileName, "file ends inside the 34-byte header");
  header = ParseHwlHeader(bytes);
  return {};
}
