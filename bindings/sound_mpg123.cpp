// The music module's MP3 decoder over libmpg123.
//
// The whole file is decoded when the stream is opened, before playback: the
// device callback then only copies PCM (no decoding, allocation or file access
// on the audio thread), and a damaged file fails at open, where the show can
// report it, instead of mid-show. 72 s of 44.1 kHz 16-bit stereo is 12.7 MB.
#include "sound.h"
#include "sound_platform.h"

#include <mpg123.h>

#include <array>
#include <filesystem>
#include <memory>

// Longest stream we decode: 10 minutes (106 MB of PCM). The show's music is
// 72 s; anything far longer is not our file and would only eat memory.
constexpr std::int64_t MaxDecodedFrames = std::int64_t{10} * 60 * SoundMixRate;
// Bytes asked from the decoder per read.
constexpr std::size_t ReadChunkBytes = 64 * 1024;

struct DecoderDeleter {
  void operator()(mpg123_handle* decoder) const {
    mpg123_close(decoder);
    mpg123_delete(decoder);
  }
};
using Decoder = std::unique_ptr<mpg123_handle, DecoderDeleter>;

// Missing file 9, present but not a readable regular file 11.
static int CheckFile(const char* path) {
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) {
    return SoundErrorFileNotFound;
  }
  if (error || status.type() != std::filesystem::file_type::regular) {
    return SoundErrorLoadingFile;
  }
  return SoundErrorNone;
}

static int Decode(const char* path, std::vector<std::int16_t>& pcm) {
  int error = CheckFile(path);
  if (error != SoundErrorNone) {
    return error;
  }
  static const int initialised = mpg123_init();  // a no-op in new versions, required in old ones
  if (initialised != MPG123_OK) {
    return SoundErrorUnknownFormat;
  }
  int status = MPG123_OK;
  Decoder decoder(mpg123_new(nullptr, &status));
  if (!decoder) {
    return status == MPG123_OUT_OF_MEM ? SoundErrorOutOfMemory : SoundErrorUnknownFormat;
  }
  // Gapless: the LAME header's encoder delay and padding are cut, so the first
  // decoded sample is the first one the encoder was given.
  mpg123_param(decoder.get(), MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
  // One output format only: mpg123 converts mono to stereo and resamples.
  mpg123_format_none(decoder.get());
  if (mpg123_format(decoder.get(), SoundMixRate, MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK) {
    return SoundErrorUnknownFormat;
  }
  if (mpg123_open(decoder.get(), path) != MPG123_OK) {
    return SoundErrorLoadingFile;
  }
  off_t expected = mpg123_length(decoder.get());  // from the header; only a size hint
  if (expected > 0 && expected <= MaxDecodedFrames) {
    pcm.reserve(static_cast<std::size_t>(expected) * SoundChannelsPerFrame);
  }
  std::array<unsigned char, ReadChunkBytes> chunk;
  for (;;) {
    std::size_t bytes = 0;
    status = mpg123_read(decoder.get(), chunk.data(), chunk.size(), &bytes);
    if (status != MPG123_OK && status != MPG123_DONE && status != MPG123_NEW_FORMAT) {
      // Nothing decoded: not MPEG audio at all. Otherwise a damaged file.
      return pcm.empty() ? SoundErrorUnknownFormat : SoundErrorLoadingFile;
    }
    std::size_t samples = bytes / sizeof(std::int16_t);
    if (static_cast<std::int64_t>((pcm.size() + samples) / SoundChannelsPerFrame) > MaxDecodedFrames) {
      return SoundErrorOutOfMemory;
    }
    const auto* first = reinterpret_cast<const std::int16_t*>(chunk.data());
    pcm.insert(pcm.end(), first, first + samples);
    if (status == MPG123_DONE) {
      break;
    }
  }
  if (pcm.size() < SoundChannelsPerFrame) {
    return SoundErrorUnknownFormat;
  }
  return SoundErrorNone;
}

int DecodeMp3File(const char* path, std::vector<std::int16_t>& pcm) {
  pcm.clear();
  int error = Decode(path, pcm);
  if (error != SoundErrorNone) {
    pcm.clear();
    pcm.shrink_to_fit();
  }
  return error;
}
