// Where an installed program finds the show's data/ folder.
//
// The show reads data/ below its working directory. A program started from
// its installed location first makes the installed home its working
// directory: the folder that holds data/, found from the executable's own
// path (on Linux <prefix>/share/quenrik beside <prefix>/bin, as
// `cmake --install`, the Debian package and the tarball lay it out; on
// Windows the folder of quenrik.exe, as the zip holds it). Anywhere else, the
// build tree included, nothing changes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

enum class InstalledDataUse {
  Always,          // the show: it names no files, so its working folder is free to change
  UnlessDataHere,  // the capture: a data/ in the working folder wins
};

// Called first in main, before anything reads a file.
void UseInstalledData(InstalledDataUse use);

// A path named on the command line, as the user meant it: relative to the
// folder the program was started in, even after UseInstalledData moved.
std::string FromStartFolder(const std::string& path);

// The installed home of an executable at exe, when exe lies in an installed
// tree whose home holds data/; none otherwise.
std::optional<std::filesystem::path> InstalledHome(const std::filesystem::path& exe);
