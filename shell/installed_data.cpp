#include "installed_data.h"

#include <cstdio>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

// The installed home relative to the executable's folder: one fact of the
// install layout (cmake/install.cmake).
#ifndef QUENRIK_HOME_FROM_EXE
#error "QUENRIK_HOME_FROM_EXE must name the installed home relative to the executable's folder"
#endif

namespace fs = std::filesystem;

namespace {

constexpr const char* DataFolderName = "data";

struct InstalledDataState {
  fs::path startFolder;  // where the program was started; empty while it has not moved
};
InstalledDataState InstalledData;

// The running executable's own path, links resolved; empty when the system
// does not tell.
fs::path ExecutablePath() {
#ifdef _WIN32
  // Windows paths are at most 32767 wide characters long.
  constexpr DWORD MaxPathChars = 32768;
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return fs::path(buffer.substr(0, length));
    if (buffer.size() >= MaxPathChars) return {};
    buffer.resize(buffer.size() * 2);
  }
#else
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe;
#endif
}

// For messages: the path in UTF-8 (a narrow string() can throw on Windows).
std::string Printable(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

bool IsFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

}  // namespace

std::optional<fs::path> InstalledHome(const fs::path& exe) {
  if (exe.empty() || !exe.has_parent_path()) return std::nullopt;
  const fs::path home = (exe.parent_path() / QUENRIK_HOME_FROM_EXE).lexically_normal();
  if (!IsFolder(home / DataFolderName)) return std::nullopt;
  return home;
}

void UseInstalledData(InstalledDataUse use) {
  if (use == InstalledDataUse::UnlessDataHere && IsFolder(DataFolderName)) return;
  const fs::path exe = ExecutablePath();
  const std::optional<fs::path> home = InstalledHome(exe);
  if (!home) return;
  std::error_code ec;
  fs::path start = fs::current_path(ec);
  // Paths on the command line are relative to the start folder: without it,
  // a program that reads them stays where it is.
  if (ec && use == InstalledDataUse::UnlessDataHere) return;
  fs::current_path(*home, ec);
  if (ec) {
    std::fprintf(stderr, "%s: cannot enter the installed data folder %s: %s\n", Printable(exe.stem()).c_str(),
                 Printable(*home).c_str(), ec.message().c_str());
    return;
  }
  InstalledData.startFolder = std::move(start);
}

std::string FromStartFolder(const std::string& path) {
  if (InstalledData.startFolder.empty() || path.empty()) return path;
  const fs::path given(path);
  if (given.is_absolute()) return path;
  return (InstalledData.startFolder / given).string();
}
