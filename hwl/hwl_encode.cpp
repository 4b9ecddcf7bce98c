#include "hwl.h"
HwlStatus EncodeHwlImage(std::span<const std::uint8_t>, int, int, int, const HwlEncodeOptions&, std::vector<std::uint8_t>&) {
  return {HwlFormatError, "encoder not built yet"};
}
