#include "capture_files.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Fast settings, as the folder is a working format rather than an archive:
// zlib level 1 and the "sub" filter on every row write a 640 x 480 show frame
// in about 11 ms instead of 21 ms (libpng's defaults) for 5 % more bytes.
constexpr int PngCompressionLevel = 1;

}  // namespace

void FramesLogCloser::operator()(FramesLog* log) const {
  if (log->stream) std::fclose(log->stream);
  DiscardOutput(log->out);
  delete log;
}

FramesLogHandle OpenFramesLog(const std::string& name, std::span<const std::string> others, std::string& error) {
  FramesLogHandle log(new FramesLog);
  if (std::string reason = OpenOutput(name, others, log->out); !reason.empty()) {
    error = reason;
    return nullptr;
  }
  const int fd = fcntl(log->out.fd, F_DUPFD_CLOEXEC, 3);
  log->stream = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (!log->stream) {
    error = FileFailure(name, "cannot be written", errno);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  return log;
}

bool WriteLogLine(FramesLog& log, const std::string& line, std::string& error) {
  errno = 0;
  if (std::fputs(line.c_str(), log.stream) >= 0 && !std::ferror(log.stream)) return true;
  log.readerGone = errno == EPIPE;
  error = errno != 0 ? FileFailure(log.out.name, "cannot be written", errno) : log.out.name + ": cannot be written";
  return false;
}

bool FinishFramesLog(FramesLog& log, std::string& error) {
  errno = 0;
  const bool written = std::fflush(log.stream) == 0 && !std::ferror(log.stream);
  const int writeError = errno;
  const bool closed = std::fclose(log.stream) == 0;
  const int closeError = errno;
  log.stream = nullptr;
  if (written && closed) return true;
  const int reason = written ? closeError : writeError;
  log.readerGone = reason == EPIPE;
  error = reason != 0 ? FileFailure(log.out.name, "cannot be written", reason) : log.out.name + ": cannot be written";
  return false;
}

void PngFolderCloser::operator()(PngFolder* folder) const {
  DiscardTemporary(folder->tempSlot);
  DiscardTemporary(folder->madeSlot);
  delete folder;
}

std::string PngFrameName(std::int64_t frame) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(frame));
  return name;
}

PngFolderHandle OpenPngFolder(const std::string& folder, int width, int height, std::string& error) {
  PngFolderHandle handle(new PngFolder);
  PngFolder& f = *handle;
  f.folder = folder;
  f.width = width;
  f.height = height;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    std::string made = folder;
    if (std::string reason = MakeTemporaryFolder(made, TemporaryFolder::Made, f.madeSlot); !reason.empty()) {
      error = reason;
      return nullptr;
    }
  }
  f.temp = (fs::path(folder) / ".quenrik-capture.partial-XXXXXX").string();
  if (std::string reason = MakeTemporaryFolder(f.temp, TemporaryFolder::Partial, f.tempSlot); !reason.empty()) {
    error = reason;
    return nullptr;
  }
  f.rows.resize(static_cast<std::size_t>(height));
  return handle;
}

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// libpng reports errors by longjmp: nothing with a destructor may live in
// this function's frame between setjmp and the calls that can fail.
bool WritePngRows(std::FILE* file, int width, int height, const std::uint8_t* const* rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, PngCompressionLevel);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_write_info(png, info);
  png_set_filler(png, 0, PNG_FILLER_AFTER);  // the rows are RGBA: drop the fourth byte
  for (int row = 0; row < height; ++row) png_write_row(png, rows[row]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool WritePngFrame(PngFolder& f, std::int64_t frame, const std::uint8_t* rgba, std::string& error) {
  const std::size_t rowBytes = static_cast<std::size_t>(f.width) * 4;
  for (int row = 0; row < f.height; ++row) f.rows[row] = rgba + rowBytes * static_cast<std::size_t>(f.height - 1 - row);
  const std::string name = PngFrameName(frame);
  const std::string path = (fs::path(f.temp) / name).string();
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wbx"));
  if (!file) {
    error = FileFailure(path, "cannot be created", errno);
    return false;
  }
  f.names.push_back(name);
  errno = 0;
  const bool encoded = WritePngRows(file.get(), f.width, f.height, f.rows.data());
  const bool flushed = std::fflush(file.get()) == 0 && !std::ferror(file.get());
  const int writeError = errno;
  const bool closed = std::fclose(file.release()) == 0;
  const int closeError = errno;
  if (!encoded || !flushed || !closed) {
    const int reason = !flushed || !encoded ? writeError : closeError;
    error = reason != 0 ? FileFailure(path, "cannot be written", reason) : path + ": cannot be written";
    return false;
  }
  return true;
}

bool FinishPngFolder(PngFolder& f, std::vector<OutputMove>& moves, std::string& error) {
  // One sync for all the frames, so that no old frame is replaced by one
  // whose blocks have not reached the disk.
  const int fd = open(f.temp.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || syncfs(fd) != 0) {
    error = FileFailure(f.folder, "cannot be written", errno);
    if (fd >= 0) close(fd);
    return false;
  }
  close(fd);
  for (const std::string& name : f.names)
    moves.push_back({(fs::path(f.temp) / name).string(), (fs::path(f.folder) / name).string()});
  return true;
}

void KeepPngFolder(PngFolder& f) {
  DiscardTemporary(f.tempSlot);
  KeepTemporary(f.madeSlot);
}
