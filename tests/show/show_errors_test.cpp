#include <gtest/gtest.h>

#include "show_errors.h"

namespace {

TEST(RuntimeErrorReport, CodeAndEightHexDigits) {
  EXPECT_EQ(RuntimeErrorReport(2, 0x1A2B), "Runtime error 2 at 0x00001A2B");
  EXPECT_EQ(RuntimeErrorReport(100, 0xDEADBEEF), "Runtime error 100 at 0xDEADBEEF");
  EXPECT_EQ(RuntimeErrorReport(201, 0), "Runtime error 201 at 0x00000000");
}

}  // namespace
