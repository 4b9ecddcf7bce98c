// The capture's outputs besides the video: the frames log and a folder of
// PNG frames. Like the video (video_file.h) they never destroy what was
// there: everything is written under temporary names beside its target and
// moves into place only when the whole capture is complete, together with
// the other outputs (CommitOutputs, output_file.h). A failure or an
// interrupted capture leaves nothing behind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "output_file.h"

// The frames log, a text file written line by line: a temporary renamed
// into place at the end, or a device or pipe written in place.
struct FramesLog {
  OutputFile out;
  std::FILE* stream = nullptr;  // over a descriptor of its own
  bool readerGone = false;      // a write found the pipe closed by its reader
};
// Closes the stream; removes the temporary unless committed.
struct FramesLogCloser {
  void operator()(FramesLog* log) const;
};
using FramesLogHandle = std::unique_ptr<FramesLog, FramesLogCloser>;
FramesLogHandle OpenFramesLog(const std::string& name, std::span<const std::string> others, std::string& error);
// One line; false with the name and the system's reason once writing failed.
bool WriteLogLine(FramesLog& log, const std::string& line, std::string& error);
// Flushes and closes the stream: the log is complete, to be committed with log.out.
bool FinishFramesLog(FramesLog& log, std::string& error);

// A folder of numbered PNG frames. Frames go into a hidden partial folder
// inside the target and move into it when the capture is complete.
struct PngFolder {
  std::string folder;
  std::string temp;
  int tempSlot = -1;  // the partial folder, removed on failures and signals
  int madeSlot = -1;  // the folder, when this capture made it: removed again while empty
  int width = 0;
  int height = 0;
  std::vector<std::string> names;  // written so far
  std::vector<const std::uint8_t*> rows;  // row pointers, reused
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
// Syncs the frames to the disk and gives the moves that put them into place.
bool FinishPngFolder(PngFolder& folder, std::vector<OutputMove>& moves, std::string& error);
// After the moves: the partial folder goes, with the frames they replaced.
void KeepPngFolder(PngFolder& folder);
