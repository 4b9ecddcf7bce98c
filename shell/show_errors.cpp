#include "show_errors.h"

#include <cstdio>
#include <cstdlib>

#include "gl.h"
#include "show_platform.h"
#include "sound.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

constexpr const char* ErrorCaption = "Error";

// A code address as an offset into its program image, so the report is the
// same from run to run whatever address the image was loaded at.
std::uint32_t ImageOffset(const void* address) {
#ifdef _WIN32
  HMODULE module = nullptr;
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCSTR>(address), &module))
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) -
                                      reinterpret_cast<std::uintptr_t>(module));
#else
  Dl_info info{};
  if (dladdr(address, &info) != 0 && info.dli_fbase)
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) -
                                      reinterpret_cast<std::uintptr_t>(info.dli_fbase));
#endif
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address));
}

// Display mode and cursor first, so the box shows on the desktop as it was;
// the music stops; the window system is closed, which also gives SIGINT and
// SIGTERM their default action back, so a signal still ends a program that
// waits in its error box.
[[noreturn]] void ReportAndExit(const std::string& text, int exitCode) {
  std::fprintf(stderr, "%s: %s\n", ErrorCaption, text.c_str());
  std::fflush(stderr);
  ReleaseDisplay();
  SoundClose();
  ClosePlatform();
  ShowErrorBox(ErrorCaption, text);
  EndProgram(exitCode);
}

}  // namespace

std::string RuntimeErrorReport(int code, std::uint32_t address) {
  char text[64];
  std::snprintf(text, sizeof text, "Runtime error %d at 0x%08X", code, static_cast<unsigned>(address));
  return text;
}

void ShowErrorAndExit(const std::string& text, const std::string& detail) {
  if (!detail.empty()) std::fprintf(stderr, "quenrik: %s\n", detail.c_str());
  ReportAndExit(text, SetUpFailureExitCode);
}

[[gnu::noinline]] void ShowRuntimeErrorAndExit(const HwlStatus& status) {
  const std::uint32_t address = ImageOffset(__builtin_return_address(0));
  std::fprintf(stderr, "quenrik: %s\n", status.message.c_str());
  ReportAndExit(RuntimeErrorReport(status.code, address), status.code);
}

void EndProgram(int exitCode) {
  SoundClose();
  ClosePlatform();
  FreeGLU();
  FreeGL();
  std::exit(exitCode);
}
