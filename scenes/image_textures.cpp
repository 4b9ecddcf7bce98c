#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "gl.h"
#include "hwl_threads.h"
#include "image_textures.h"

using namespace gl;

std::array<ImageTexture, static_cast<int>(Picture::Count)> Pictures;

namespace {

constexpr int ColourBitsPerPixel = 24;  // the only depth the BGRA upload can read
constexpr std::size_t UploadBytesPerPixel = 4;

// Pictures decoded ahead of the show, by file: the loading picture first,
// then ShowPictureFiles.
struct DecodedAhead {
  std::optional<HwlStatus> status;  // set once decoded, until taken
  ImageTexture picture;
};
struct DecodeAheadState {
  std::mutex mutex;
  std::array<DecodedAhead, ShowPictureFiles.size() + 1> pictures;
  std::size_t next = 0;
};
DecodeAheadState Ahead;

const char* AheadFileName(std::size_t index) {
  return index == 0 ? LoadingPictureFile : ShowPictureFiles[index - 1].fileName;
}

std::optional<HwlStatus> TakeDecodedAhead(const char* fileName, ImageTexture& record) {
  std::lock_guard lock(Ahead.mutex);
  for (std::size_t index = 0; index < Ahead.next; ++index) {
    DecodedAhead& ahead = Ahead.pictures[index];
    if (!ahead.status || std::strcmp(AheadFileName(index), fileName) != 0) continue;
    std::optional<HwlStatus> status = std::move(ahead.status);
    ahead.status.reset();
    record = std::move(ahead.picture);
    return status;
  }
  return std::nullopt;
}

}  // namespace

bool DecodeNextPictureAhead() {
  if (Ahead.next == Ahead.pictures.size()) return false;
  const std::size_t index = Ahead.next;
  DecodedAhead decoded;
  decoded.status = DecodePicture(AheadFileName(index), decoded.picture);
  std::lock_guard lock(Ahead.mutex);
  Ahead.pictures[index] = std::move(decoded);
  ++Ahead.next;
  return true;
}

HwlStatus DecodePicture(const char* fileName, ImageTexture& record) {
  if (std::optional<HwlStatus> ahead = TakeDecodedAhead(fileName, record)) return std::move(*ahead);
  HwlHeader header;
  std::vector<std::uint8_t> pixels;
  HwlStatus status = LoadHwlImage(pixels, header, fileName, true);
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

// Decoded pictures handed from the decoding threads to the GL thread.
struct DecodeSlot {
  bool done = false;
  HwlStatus status;
  ImageTexture picture;
};

struct DecodeQueue {
  std::array<DecodeSlot, ShowPictureFiles.size()> slots;
  std::atomic<std::size_t> nextFile{0};
  std::atomic<bool> abandoned{false};  // the GL thread stopped at a failure
  std::mutex mutex;
  std::condition_variable finished;
};

// Decodes the next file in table order; false when there is none left.
bool DecodeNext(DecodeQueue& queue) {
  const std::size_t index = queue.nextFile.fetch_add(1);
  if (index >= ShowPictureFiles.size() || queue.abandoned) return false;
  ImageTexture picture;
  HwlStatus status = DecodePicture(ShowPictureFiles[index].fileName, picture);
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
  while (DecodeNext(queue)) {
  }
}

}  // namespace

HwlStatus LoadImageTextures() {
  DecodeQueue queue;
  // Without threads (HwlHaveThreads) the calling thread decodes each picture
  // just before it uploads it.
  const unsigned threadCount =
      HwlHaveThreads ? std::clamp(std::thread::hardware_concurrency(), 1u, MaxDecodeThreads) : 0;
  std::vector<std::jthread> workers;
  workers.reserve(threadCount);
  for (unsigned i = 0; i < threadCount; ++i) workers.emplace_back(DecodeWorker, std::ref(queue));

  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  HwlStatus result;
  for (std::size_t index = 0; index < ShowPictureFiles.size(); ++index) {
    if (workers.empty()) DecodeNext(queue);
    DecodeSlot slot;
    {
      std::unique_lock lock(queue.mutex);
      queue.finished.wait(lock, [&] { return queue.slots[index].done; });
      slot = std::move(queue.slots[index]);
    }
    if (!slot.status) {
      queue.abandoned = true;
      result = std::move(slot.status);
      break;
    }
    ImageTexture& record = PictureRecord(ShowPictureFiles[index].picture);
    record = std::move(slot.picture);
    MakeImageTexture(record);
    if (index == 0) glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  }
  return result;  // the workers are joined here
}
