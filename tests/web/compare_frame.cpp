// compare_frame ACTUAL.png REFERENCE.png: the browser's grabbed frame against
// the native reference, within the rendered-frame tests' tolerance
// for a browser's renderer (frame_compare.h). Exit 0 when equal within it, 1
// with the reason.
#include <cstdio>

#include "frame_compare.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: compare_frame ACTUAL.png REFERENCE.png\n");
    return 2;
  }
  RgbImage actual, expected;
  if (!ReadFramePng(argv[1], actual) || !ReadFramePng(argv[2], expected)) {
    std::fprintf(stderr, "compare_frame: cannot read %s or %s\n", argv[1], argv[2]);
    return 2;
  }
  const std::string difference = CompareFrames(actual, expected, BrowserTolerance);
  if (!difference.empty()) {
    std::printf("%s\n", difference.c_str());
    return 1;
  }
  return 0;
}
