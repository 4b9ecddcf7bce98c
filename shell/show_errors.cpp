#include "show_errors.h"

#include <cstdio>

#include "show_core.h"

#ifdef _WIN32
#include <windows.h>
#elif !defined(__EMSCRIPTEN__)
#include <dlfcn.h>
#endif

namespace {

#ifndef __EMSCRIPTEN__

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
#endif

}  // namespace

std::string RuntimeErrorReport(int code, std::uint32_t address) {
  char text[64];
  std::snprintf(text, sizeof text, "Runtime error %d at 0x%08X", code, static_cast<unsigned>(address));
  return text;
}

void ShowErrorAndExit(const std::string& text, const std::string& detail) {
  FailShow({text, detail, SetUpFailureExitCode});
}

[[gnu::noinline]] void ShowRuntimeErrorAndExit(const HwlStatus& status) {
#ifdef __EMSCRIPTEN__
  // WebAssembly code has no addresses: this function's index in the module's
  // function table stands in, the same in every run of a build.
  const std::uint32_t address =
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&ShowRuntimeErrorAndExit));
#else
  const std::uint32_t address = ImageOffset(__builtin_return_address(0));
#endif
  FailShow({RuntimeErrorReport(status.code, address), status.message, status.code});
}
