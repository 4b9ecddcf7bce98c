#include "hwl.h"
HwlStatus LoadHwlImage(std::vector<std::uint8_t>&, HwlHeader&, const std::string& fileName, bool) {
  return {HwlFileNotFound, fileName + ": decoder not built yet"};
}
