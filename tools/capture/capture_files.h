// Everything a capture writes goes to a temporary name beside its target and
// takes the target's name only when complete: a failure or an interrupted
// capture leaves nothing behind (and never half of an existing file).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// "dir/.name.partial-PID.ext" for "dir/name.ext": same folder (so the final
// rename is atomic), hidden, and with the extension kept for format guessing.
std::string PartialPath(const std::string& target);

// The target's folder, "." for a bare name.
std::string FolderOf(const std::string& path);

// A text file under a partial name; the closer removes it unless committed.
struct PartialFile {
  std::string target;
  std::string temp;
  std::FILE* file = nullptr;
  bool committed = false;
};
struct PartialFileCloser {
  void operator()(PartialFile* file) const;
};
using PartialFileHandle = std::unique_ptr<PartialFile, PartialFileCloser>;
PartialFileHandle CreatePartialFile(const std::string& target, std::string& error);
// Flush, close and rename into place.
bool CommitPartialFile(PartialFile& file, std::string& error);

// A folder of numbered PNG frames. Frames go into a hidden partial folder
// inside the target and move into it when the capture is complete.
struct PngFolder {
  std::string folder;
  std::string temp;
  bool createdFolder = false;  // made by this capture: removed again on failure
  int width = 0;
  int height = 0;
  std::vector<std::string> names;  // written so far
  std::vector<const std::uint8_t*> rows;  // row pointers, reused
  bool committed = false;
};
struct PngFolderCloser {
  void operator()(PngFolder* folder) const;
};
using PngFolderHandle = std::unique_ptr<PngFolder, PngFolderCloser>;

// "frame_000123.png": the show's frame number, so that names match the frames
// log and FrameClock.
std::string PngFrameName(std::int64_t frame);

PngFolderHandle OpenPngFolder(const std::string& folder, int width, int height, std::string& error);
// One frame of RGBA pixels, bottom row first; stored as 8-bit RGB, top row first.
bool WritePngFrame(PngFolder& folder, std::int64_t frame, const std::uint8_t* rgba, std::string& error);
bool CommitPngFolder(PngFolder& folder, std::string& error);
