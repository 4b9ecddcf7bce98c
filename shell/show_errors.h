// How the show ends on a failure: everything given back (music, display mode,
// cursor, window, libraries) by the core's one shutdown, then the host's
// report (on the desktop a message box captioned "Error" and the same text on
// stderr) and a non-zero exit code.
#pragma once

#include <cstdint>
#include <string>

#include "hwl.h"

// Exit code after a fatal set-up failure (a box from ShowErrorAndExit).
constexpr int SetUpFailureExitCode = 1;

// The box, then the program ends with SetUpFailureExitCode. detail, when
// given, goes to stderr only (what the platform said about the failure).
[[noreturn]] void ShowErrorAndExit(const std::string& text, const std::string& detail = {});

// A picture that failed to load: a stderr line naming the file and the reason,
// then the run-time error report "Runtime error N at 0xXXXXXXXX" in the box,
// and the program ends with exit code N. The address is the caller's.
[[noreturn]] void ShowRuntimeErrorAndExit(const HwlStatus& status);

// "Runtime error 2 at 0x0001A2B4".
std::string RuntimeErrorReport(int code, std::uint32_t address);
