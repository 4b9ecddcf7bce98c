// Tests on each of the decoder's arithmetic paths.
#pragma once

#include <vector>

#include "hwl_decode.h"
#include "hwl_precision.h"

// The paths this build has (without the x87 only the software ones); the
// first is the default.
inline std::vector<HwlPath> TestPaths() {
  std::vector<HwlPath> paths;
  for (const HwlPath& path : HwlPaths)
    if (HWL_X87 || !path.x87) paths.push_back(path);
  return paths;
}

// Selects a path while it lives.
struct UsePath {
  explicit UsePath(const HwlPath& path) {
    HwlUseX87 = path.x87;
    HwlUseCpuExtensions = path.cpuExtensions;
  }
  ~UsePath() {
    HwlUseX87 = true;
    HwlUseCpuExtensions = true;
  }
  UsePath(const UsePath&) = delete;
  UsePath& operator=(const UsePath&) = delete;
};
