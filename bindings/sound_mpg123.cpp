// The music module's MP3 decoder over libmpg123: piece by piece as the stream
// plays (OpenMp3Decoder, DecodeMp3Piece), or the whole file at once
// (DecodeMp3File, for tools and tests).
#include "sound.h"
#include "sound_platform.h"

#include <mpg123.h>

#include <array>
#include <filesystem>
#include <new>

struct Mp3Decoder {
  mpg123_handle* handle = nullptr;
  std::array<unsigned char, Mp3PieceFrames * SoundChannelsPerFrame * sizeof(std::int16_t)> chunk;
};

void CloseMp3Decoder(Mp3Decoder* decoder) {
  if (!decoder) return;
  if (decoder->handle) {
    mpg123_close(decoder->handle);
    mpg123_delete(decoder->handle);
  }
  delete decoder;
}

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

int OpenMp3Decoder(const char* path, Mp3DecoderHandle& decoder) {
  decoder.reset();
  if (int error = CheckFile(path); error != SoundErrorNone) {
    return error;
  }
  static const int initialised = mpg123_init();  // a no-op in new versions, required in old ones
  if (initialised != MPG123_OK) {
    return SoundErrorUnknownFormat;
  }
  Mp3DecoderHandle opened(new (std::nothrow) Mp3Decoder);
  if (!opened) {
    return SoundErrorOutOfMemory;
  }
  int status = MPG123_OK;
  opened->handle = mpg123_new(nullptr, &status);
  if (!opened->handle) {
    return status == MPG123_OUT_OF_MEM ? SoundErrorOutOfMemory : SoundErrorUnknownFormat;
  }
  // Gapless: the LAME header's encoder delay and padding are cut, so the first
  // decoded sample is the first one the encoder was given.
  mpg123_param(opened->handle, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
  // One output format only: mpg123 converts mono to stereo and resamples.
  mpg123_format_none(opened->handle);
  if (mpg123_format(opened->handle, SoundMixRate, MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK) {
    return SoundErrorUnknownFormat;
  }
  if (mpg123_open(opened->handle, path) != MPG123_OK) {
    return SoundErrorLoadingFile;
  }
  // From the header (exact with a LAME tag), an estimate otherwise.
  if (mpg123_length(opened->handle) > MaxDecodedFrames) {
    return SoundErrorOutOfMemory;
  }
  decoder = std::move(opened);
  return SoundErrorNone;
}

Mp3Piece DecodeMp3Piece(Mp3Decoder& decoder, std::vector<std::int16_t>& pcm) {
  std::size_t bytes = 0;
  const int status = mpg123_read(decoder.handle, decoder.chunk.data(), decoder.chunk.size(), &bytes);
  if (status != MPG123_OK && status != MPG123_DONE && status != MPG123_NEW_FORMAT) {
    return Mp3Piece::Damaged;
  }
  const std::size_t samples = bytes / sizeof(std::int16_t);
  const auto* first = reinterpret_cast<const std::int16_t*>(decoder.chunk.data());
  pcm.insert(pcm.end(), first, first + samples);
  return status == MPG123_DONE ? Mp3Piece::End : Mp3Piece::Decoded;
}

static int Decode(const char* path, std::vector<std::int16_t>& pcm) {
  Mp3DecoderHandle decoder;
  if (int error = OpenMp3Decoder(path, decoder); error != SoundErrorNone) {
    return error;
  }
  for (;;) {
    const Mp3Piece piece = DecodeMp3Piece(*decoder, pcm);
    if (piece == Mp3Piece::Damaged) {
      // Nothing decoded: not MPEG audio at all. Otherwise a damaged file.
      return pcm.empty() ? SoundErrorUnknownFormat : SoundErrorLoadingFile;
    }
    if (static_cast<std::int64_t>(pcm.size() / SoundChannelsPerFrame) > MaxDecodedFrames) {
      return SoundErrorOutOfMemory;
    }
    if (piece == Mp3Piece::End) {
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
  int error = SoundErrorNone;
  try {
    error = Decode(path, pcm);
  } catch (const std::bad_alloc&) {
    error = SoundErrorOutOfMemory;
  }
  if (error != SoundErrorNone) {
    pcm.clear();
    pcm.shrink_to_fit();
  }
  return error;
}
