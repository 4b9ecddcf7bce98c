#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "data_file.h"
#include "gl.h"
#include "hwl_format.h"
#include "hwl_threads.h"
#include "thread_priority.h"
#include "image_textures.h"

using namespace gl;

std::array<ImageTexture, static_cast<int>(Picture::Count)> Pictures;
PictureLoadLimits PictureLimits;

namespace {

constexpr int ColourBitsPerPixel = 24;  // the only depth the BGRA upload can read
constexpr std::size_t UploadBytesPerPixel = 4;
constexpr GLint LeastMaxTextureSide = 64;  // what OpenGL promises
// A file is read in pieces that grow with what has arrived (a header may
// announce far more than the file holds), from 64 KiB up to 4 MiB.
constexpr std::size_t FirstReadChunk = std::size_t{1} << 16;
constexpr std::size_t LastReadChunk = std::size_t{1} << 22;

HwlStatus ReadStatus(DataFileResult result, const char* fileName, const char* what) {
  if (result == DataFileResult::Stopped) return HwlError(HwlCancelled, fileName, "reading stopped");
  return HwlSystemError(HwlFileNotFound, fileName, what);
}

// The file's bytes as far as its header announces, never further (a longer
// file's tail is not read); only the header when it is refused. The decode
// then checks them all.
HwlStatus ReadPictureFile(const char* fileName, const HwlDecodeOptions& options, std::vector<std::uint8_t>& bytes) {
  DataFile file;
  if (DataFileResult opened = OpenDataFile(fileName, options.cancel, file); opened != DataFileResult::Done)
    return ReadStatus(opened, fileName, "cannot be opened");
  bytes.resize(HwlHeaderSize);
  std::size_t got = 0;
  std::uint64_t wanted = HwlHeaderSize;
  DataFileResult read = ReadDataFile(file, bytes.data(), bytes.size(), got);
  if (read == DataFileResult::Done && got == HwlHeaderSize) {
    const HwlHeader header = ParseHwlHeader(bytes);
    if (HwlPlaneCount(header) != 0 && CheckHwlHeader(header, fileName) &&
        CheckHwlPixelLimit(header.width, header.height, options.maxPixels, fileName))
      wanted = HwlAnnouncedSize(header);
  }
  while (read == DataFileResult::Done && got == bytes.size() && got < wanted) {
    const std::size_t chunk =
        std::size_t(std::min<std::uint64_t>(wanted - got, std::clamp(got, FirstReadChunk, LastReadChunk)));
    try {
      bytes.resize(got + chunk);
    } catch (const std::bad_alloc&) {
      return HwlError(HwlOutOfMemory, fileName, "not enough memory to read the file");
    }
    std::size_t more = 0;
    read = ReadDataFile(file, bytes.data() + got, chunk, more);
    got += more;
  }
  if (read != DataFileResult::Done) return ReadStatus(read, fileName, "cannot be read");
  bytes.resize(got);
  return {};
}

}  // namespace

std::int32_t QueryMaxTextureSide() {
  GLint side = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &side);
  return side >= LeastMaxTextureSide ? side : 0;
}

HwlStatus CheckTextureSize(const ImageTexture& record, const char* fileName) {
  const std::int32_t side = PictureLimits.maxTextureSide;
  if (side == 0 || (record.width <= side && record.height <= side)) return {};
  return HwlError(HwlTooLarge, fileName,
                  "the picture is " + std::to_string(record.width) + " x " + std::to_string(record.height) +
                      " pixels; the largest texture this OpenGL takes is " + std::to_string(side) + " x " +
                      std::to_string(side));
}

void MakeImageTexture(ImageTexture& record) {
  glGenTextures(1, &record.texture);
  glBindTexture(GL_TEXTURE_2D, record.texture);
  // Internal format 3: RGB; the fourth byte of each source word is ignored.
  glTexImage2D(GL_TEXTURE_2D, 0, 3, record.width, record.height, 0, GL_BGRA_EXT, GL_UNSIGNED_BYTE,
               record.pixels.data());
  // No mipmaps: level 0 with linear minification is a complete texture.
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
}

namespace {

// The pictures in the order they are decoded: the loading picture, shown
// first, then the table's.
constexpr std::size_t DecodeCount = ShowPictureFiles.size() + 1;
const char* DecodeOrderFile(std::size_t index) {
  return index == 0 ? LoadingPictureFile : ShowPictureFiles[index - 1].fileName;
}
std::size_t DecodeOrderIndex(Picture picture) {
  for (std::size_t index = 0; index < ShowPictureFiles.size(); ++index)
    if (ShowPictureFiles[index].picture == picture) return index + 1;
  return 0;  // the loading picture
}

// How often a wait for a picture looks at the stop flag.
constexpr auto StopPollInterval = std::chrono::milliseconds(DataFileStopPollMs);

// Decoded pictures handed from the decoding threads to the GL thread.
struct DecodeSlot {
  bool done = false;
  bool taken = false;  // moved out: a second take decodes the file again
  HwlStatus status;
  ImageTexture picture;
};

struct DecodeQueue {
  std::array<DecodeSlot, DecodeCount> slots;
  std::atomic<std::size_t> nextFile{0};
  // Every read and decode gives up: a failure, a stop, or the shutdown.
  std::atomic<bool> abandoned{false};
  std::mutex mutex;
  std::condition_variable finished;
  std::vector<std::jthread> workers;  // last: joined before the rest goes
};
std::unique_ptr<DecodeQueue> Queue;

HwlStatus DecodePictureFile(const char* fileName, ImageTexture& record, const std::atomic<bool>* cancel) {
  const HwlDecodeOptions options{.maxPixels = ShowMaxPicturePixels, .cancel = cancel};
  std::vector<std::uint8_t> file;
  if (HwlStatus status = ReadPictureFile(fileName, options, file); !status) return status;
  HwlHeader header;
  std::vector<std::uint8_t> pixels;
  HwlStatus status = DecodeHwlImage(file, pixels, header, fileName, true, options);
  if (!status) return status;
  if (header.bitsPerPixel != ColourBitsPerPixel)
    return {HwlFormatError, std::string(fileName) + ": not a 24-bit colour image (" +
                                std::to_string(header.bitsPerPixel) + " bits per pixel)"};
  const std::size_t needed = std::size_t{header.width} * header.height * UploadBytesPerPixel;
  if (header.width == 0 || header.height == 0 || pixels.size() < needed)
    return {HwlFormatError, std::string(fileName) + ": decoded picture is empty or incomplete"};
  record.pixels = std::move(pixels);
  record.width = header.width;
  record.height = header.height;
  return {};
}

// Decodes the next picture not yet started into its slot; false when none
// is left or the queue is abandoned.
bool DecodeNext(DecodeQueue& queue) {
  const std::size_t index = queue.nextFile.fetch_add(1);
  if (index >= DecodeCount || queue.abandoned) return false;
  ImageTexture picture;
  HwlStatus status = DecodePictureFile(DecodeOrderFile(index), picture, &queue.abandoned);
  {
    std::lock_guard lock(queue.mutex);
    DecodeSlot& slot = queue.slots[index];
    slot.status = std::move(status);
    slot.picture = std::move(picture);
    slot.done = true;
  }
  queue.finished.notify_all();
  return true;
}

void DecodeWorker(DecodeQueue& queue) {
  LowerThreadPriority();  // the window and the context come first
  while (DecodeNext(queue)) {
  }
}

bool StopRequested() { return PictureLimits.stop && PictureLimits.stop->load(); }

}  // namespace

HwlStatus DecodePicture(const char* fileName, ImageTexture& record) {
  return DecodePictureFile(fileName, record, PictureLimits.stop);
}

void StartDecodingPictures() {
  if (Queue) return;
  Queue = std::make_unique<DecodeQueue>();
  // Without threads (HwlHaveThreads) the pictures decode on the calling
  // thread: ahead with DecodeNextPicture, or when they are taken.
  const unsigned threadCount =
      HwlHaveThreads ? std::clamp(std::thread::hardware_concurrency(), 1u, MaxDecodeThreads) : 0;
  for (unsigned i = 0; i < threadCount; ++i) Queue->workers.emplace_back(DecodeWorker, std::ref(*Queue));
}

bool DecodeNextPicture() {
  StartDecodingPictures();
  return Queue->workers.empty() && DecodeNext(*Queue);
}

void StopDecodingPictures() {
  if (!Queue) return;
  Queue->abandoned = true;
  Queue.reset();
}

HwlStatus TakeDecodedPicture(Picture picture, ImageTexture& record) {
  StartDecodingPictures();
  DecodeQueue& queue = *Queue;
  const std::size_t index = DecodeOrderIndex(picture);
  const char* fileName = DecodeOrderFile(index);
  DecodeSlot slot;
  bool again = false;
  {
    std::unique_lock lock(queue.mutex);
    for (;;) {
      // A stop, or an earlier failure that abandoned the queue: nothing will
      // fill a slot that is not done yet.
      const bool done = queue.slots[index].done;
      if (StopRequested() || (queue.abandoned && !done)) {
        queue.abandoned = true;
        return HwlError(HwlCancelled, fileName, "loading stopped");
      }
      if (done) break;
      if (queue.workers.empty()) {
        lock.unlock();
        DecodeNext(queue);
        lock.lock();
        continue;
      }
      queue.finished.wait_for(lock, StopPollInterval);
    }
    DecodeSlot& decoded = queue.slots[index];
    again = decoded.taken;
    if (!again) {
      slot = std::move(decoded);
      decoded.taken = true;
    }
  }
  if (again) slot.status = DecodePictureFile(fileName, slot.picture, PictureLimits.stop);
  if (slot.status) slot.status = CheckTextureSize(slot.picture, fileName);
  if (!slot.status) {
    queue.abandoned = true;
    return slot.status;
  }
  record = std::move(slot.picture);
  return {};
}

HwlStatus LoadImageTextures() {
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  HwlStatus result;
  for (std::size_t index = 0; index < ShowPictureFiles.size(); ++index) {
    ImageTexture& record = PictureRecord(ShowPictureFiles[index].picture);
    result = TakeDecodedPicture(ShowPictureFiles[index].picture, record);
    if (!result) break;
    MakeImageTexture(record);
    if (index == 0) glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  }
  StopDecodingPictures();
  return result;
}
