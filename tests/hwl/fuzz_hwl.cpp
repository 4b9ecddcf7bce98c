// libFuzzer target: any bytes must decode cleanly or fail with one of the
// documented codes, never touching the pixel buffer on failure, and a success
// must give exactly the buffer size the header implies. Built by
// tools/fuzz-hwl.sh, not by the CMake test run.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "hwl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  std::vector<std::uint8_t> pixels(3, 0x77);
  HwlHeader header;
  // One thread: the fuzzer is meant to keep to one core.
  const HwlStatus s = DecodeHwlImage(file, pixels, header, "fuzz", true, 1);
  if (!s) {
    if (s.code != HwlReadPastEnd && s.code != HwlFormatError && s.code != HwlOutOfMemory) std::abort();
    if (pixels != std::vector<std::uint8_t>(3, 0x77)) std::abort();
    return 0;
  }
  const std::size_t count = std::size_t{header.width} * header.height;
  if (header.bitsPerPixel == 8 && pixels.size() != count) std::abort();
  if (header.bitsPerPixel == 24) {
    if (pixels.size() != 4 * count) std::abort();
    for (std::size_t i = 3; i < pixels.size(); i += 4)
      if (pixels[i] != 0) std::abort();
  }
  if (header.bitsPerPixel != 8 && header.bitsPerPixel != 24 && pixels.size() != 3) std::abort();
  return 0;
}
