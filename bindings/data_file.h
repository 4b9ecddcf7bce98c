// Reading the show's data files without holding off a stop. A file that keeps
// its reader waiting (a FIFO whose writer has not come yet, a slow device) is
// waited for in short polls, and the wait gives up as soon as the caller's
// stop flag is set: a program asked to end is never stuck in a read. A FIFO is
// still read as a blocking read would: from its first writer to the last
// writer's close. On Windows a plain read: nothing there waits like that.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

enum class DataFileResult {
  Done,     // opened, or read as far as asked or to the end of the file
  Stopped,  // the stop flag was set
  Failed,   // errno says why
};

// How long one wait lasts before the stop flag is looked at again.
constexpr int DataFileStopPollMs = 10;

// An open file; closed when it goes.
struct DataFile {
  DataFile() = default;
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;
  ~DataFile();
  int descriptor = -1;      // POSIX
  void* stream = nullptr;   // Windows: the FILE
  const std::atomic<bool>* stop = nullptr;  // may be null: never stopped
};

// Opens path for reading; never waits.
DataFileResult OpenDataFile(const char* path, const std::atomic<bool>* stop, DataFile& file);

// Reads up to size bytes into bytes, waiting for them as long as the stop
// flag is clear; got is how many arrived (fewer than size only at the end of
// the file, or when stopped or failed).
DataFileResult ReadDataFile(DataFile& file, std::uint8_t* bytes, std::size_t size, std::size_t& got);
