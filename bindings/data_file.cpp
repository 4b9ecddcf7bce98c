#include "data_file.h"

#ifdef _WIN32
#include <cstdio>

DataFile::~DataFile() {
  if (stream) std::fclose(static_cast<std::FILE*>(stream));
}

DataFileResult OpenDataFile(const char* path, const std::atomic<bool>* stop, DataFile& file) {
  file.stop = stop;
  if (stop && stop->load()) return DataFileResult::Stopped;
  file.stream = std::fopen(path, "rb");
  return file.stream ? DataFileResult::Done : DataFileResult::Failed;
}

DataFileResult ReadDataFile(DataFile& file, std::uint8_t* bytes, std::size_t size, std::size_t& got) {
  got = 0;
  if (file.stop && file.stop->load()) return DataFileResult::Stopped;
  std::FILE* stream = static_cast<std::FILE*>(file.stream);
  got = std::fread(bytes, 1, size, stream);
  return std::ferror(stream) ? DataFileResult::Failed : DataFileResult::Done;
}

#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool Stopping(const DataFile& file) { return file.stop && file.stop->load(std::memory_order_relaxed); }

}  // namespace

DataFile::~DataFile() {
  if (descriptor >= 0) close(descriptor);
}

// Without O_NONBLOCK opening a FIFO waits for its writer; with it, it never
// waits (and it changes nothing for a regular file).
DataFileResult OpenDataFile(const char* path, const std::atomic<bool>* stop, DataFile& file) {
  file.stop = stop;
  if (Stopping(file)) return DataFileResult::Stopped;
  do file.descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  while (file.descriptor < 0 && errno == EINTR);
  return file.descriptor >= 0 ? DataFileResult::Done : DataFileResult::Failed;
}

// Each read follows a poll that says there is something to read: data, or the
// end of the file. On a FIFO no writer has opened yet, poll reports nothing
// (a read would say "end of file" at once), so the wait goes on as a blocking
// read's would; once the last writer has gone it reports the end.
DataFileResult ReadDataFile(DataFile& file, std::uint8_t* bytes, std::size_t size, std::size_t& got) {
  got = 0;
  while (got < size) {
    if (Stopping(file)) return DataFileResult::Stopped;
    pollfd ready{file.descriptor, POLLIN, 0};
    const int polled = poll(&ready, 1, DataFileStopPollMs);
    if (polled == 0 || (polled < 0 && errno == EINTR)) continue;
    if (polled < 0) return DataFileResult::Failed;
    const ssize_t n = read(file.descriptor, bytes + got, size - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0) {
      break;  // the end of the file
    } else if (errno != EAGAIN && errno != EINTR) {
      return DataFileResult::Failed;
    }
  }
  return DataFileResult::Done;
}
#endif
