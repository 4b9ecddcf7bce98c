// The music module's MP3 decoder on Windows: the Audio Compression Manager's
// MPEG layer-3 codec, which every Windows (and Wine) has, so no DLL of ours.
//
// The ACM codec decodes every frame it is fed and trims nothing, so the file's
// frames are found first (mp3_frames.h): the Xing/Info tag frame is not fed,
// and the encoder and decoder delay and the padding that the LAME tag gives
// are cut from the output. Sample 0 is then the first sample the encoder was
// given, as with the gapless decoder of the Linux build.
//
// The whole file is decoded when the stream opens, into 16-bit stereo at
// SoundMixRate (mono is doubled, other rates are resampled linearly), and
// handed out in pieces from there.
#include "sound.h"
#include "sound_platform.h"

#include <windows.h>
// After windows.h, which they need, in this order.
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <span>

#include "mp3_frames.h"

namespace {

// Largest file we read into memory: 10 minutes at 320 kbit/s is 24 MB.
constexpr std::uintmax_t MaxFileBytes = 64u << 20;
// The table's text for a system without an MP3 codec: "Required Mediaplayer
// codec is not installed".
constexpr int SoundErrorCodecMissing = 19;
// Frames handed to the codec per conversion: about 1.5 s of audio.
constexpr std::size_t FramesPerConversion = 64;
// Calls that flush the codec at the end; each returns what it still holds.
constexpr int MaxFlushCalls = 16;
constexpr int BytesPerSample = 2;

struct AcmStreamCloser {
  void operator()(HACMSTREAM__* stream) const { acmStreamClose(stream, 0); }
};
using AcmStream = std::unique_ptr<HACMSTREAM__, AcmStreamCloser>;

int ReadWholeFile(const char* path, std::vector<std::uint8_t>& bytes) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return SoundErrorFileNotFound;
  if (error || status.type() != std::filesystem::file_type::regular) return SoundErrorLoadingFile;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return SoundErrorLoadingFile;
  if (size > MaxFileBytes) return SoundErrorOutOfMemory;
  std::ifstream in(path, std::ios::binary);
  bytes.resize(static_cast<std::size_t>(size));
  if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
    return SoundErrorLoadingFile;
  }
  return SoundErrorNone;
}

// The codec's input format: MPEG layer 3 at the file's rate and channels.
MPEGLAYER3WAVEFORMAT Mp3Format(const Mp3Layout& layout) {
  MPEGLAYER3WAVEFORMAT format{};
  format.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  format.wfx.nChannels = static_cast<WORD>(layout.channels);
  format.wfx.nSamplesPerSec = static_cast<DWORD>(layout.sampleRate);
  format.wfx.nAvgBytesPerSec = static_cast<DWORD>(layout.bitrateKbps * 1000 / 8);
  format.wfx.nBlockAlign = 1;
  format.wfx.wBitsPerSample = 0;
  format.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
  format.wID = MPEGLAYER3_ID_MPEG;
  format.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
  format.nBlockSize = static_cast<WORD>(layout.samplesPerFrame / 8 * layout.bitrateKbps * 1000 / layout.sampleRate);
  format.nFramesPerBlock = 1;
  format.nCodecDelay = 0;
  return format;
}

WAVEFORMATEX PcmFormat(int sampleRate, int channels) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = static_cast<WORD>(channels);
  format.nSamplesPerSec = static_cast<DWORD>(sampleRate);
  format.wBitsPerSample = 8 * BytesPerSample;
  format.nBlockAlign = static_cast<WORD>(channels * BytesPerSample);
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  return format;
}

// One ACM conversion buffer pair, prepared once and reused. The lengths are
// put back to the prepared ones before unpreparing, as the ACM requires.
class ConversionBuffers {
 public:
  ConversionBuffers(HACMSTREAM stream, std::size_t sourceBytes, std::size_t destinationBytes)
      : stream_(stream), source_(sourceBytes), destination_(destinationBytes) {
    header_.cbStruct = sizeof header_;
    header_.pbSrc = source_.data();
    header_.cbSrcLength = static_cast<DWORD>(source_.size());
    header_.pbDst = destination_.data();
    header_.cbDstLength = static_cast<DWORD>(destination_.size());
    prepared_ = acmStreamPrepareHeader(stream_, &header_, 0) == 0;
  }
  ~ConversionBuffers() {
    if (prepared_) {
      header_.cbSrcLength = static_cast<DWORD>(source_.size());
      header_.cbDstLength = static_cast<DWORD>(destination_.size());
      acmStreamUnprepareHeader(stream_, &header_, 0);
    }
  }
  ConversionBuffers(const ConversionBuffers&) = delete;
  ConversionBuffers& operator=(const ConversionBuffers&) = delete;

  bool Prepared() const { return prepared_; }
  std::span<std::uint8_t> Source() { return source_; }

  // Converts the first sourceBytes of Source(); the bytes the codec left
  // unused are moved to the front of Source() and counted in unused.
  bool Convert(std::size_t sourceBytes, DWORD flags, std::vector<std::int16_t>& out, std::size_t& unused) {
    header_.cbSrcLength = static_cast<DWORD>(sourceBytes);
    header_.cbDstLength = static_cast<DWORD>(destination_.size());
    header_.cbSrcLengthUsed = 0;
    header_.cbDstLengthUsed = 0;
    if (acmStreamConvert(stream_, &header_, flags) != 0) return false;
    const std::size_t used = std::min<std::size_t>(header_.cbSrcLengthUsed, sourceBytes);
    unused = sourceBytes - used;
    std::memmove(source_.data(), source_.data() + used, unused);
    const auto* samples = reinterpret_cast<const std::int16_t*>(destination_.data());
    out.insert(out.end(), samples, samples + header_.cbDstLengthUsed / BytesPerSample);
    lastOutputBytes_ = header_.cbDstLengthUsed;
    return true;
  }
  std::size_t LastOutputBytes() const { return lastOutputBytes_; }

 private:
  HACMSTREAM stream_;
  std::vector<std::uint8_t> source_;
  std::vector<std::uint8_t> destination_;
  ACMSTREAMHEADER header_{};
  bool prepared_ = false;
  std::size_t lastOutputBytes_ = 0;
};

// Decodes every audio frame of the file with the ACM into pcm (the file's
// rate and channels, untrimmed).
int DecodeFrames(std::span<const std::uint8_t> file, const Mp3Layout& layout, std::vector<std::int16_t>& pcm) {
  MPEGLAYER3WAVEFORMAT mp3 = Mp3Format(layout);
  WAVEFORMATEX out = PcmFormat(layout.sampleRate, layout.channels);
  HACMSTREAM handle = nullptr;
  if (acmStreamOpen(&handle, nullptr, &mp3.wfx, &out, nullptr, 0, 0, 0) != 0) return SoundErrorCodecMissing;
  AcmStream stream(handle);

  std::size_t longestFrame = 0;
  for (const Mp3Layout::Frame& frame : layout.frames) longestFrame = std::max(longestFrame, frame.length);
  // Room for twice the conversion's input: left-over bytes plus a new batch.
  const std::size_t sourceBytes = 2 * FramesPerConversion * longestFrame;
  // Room for twice the batch's samples, for a codec that holds a frame back.
  const std::size_t destinationBytes =
      2 * FramesPerConversion * static_cast<std::size_t>(layout.samplesPerFrame * layout.channels * BytesPerSample);
  ConversionBuffers buffers(handle, sourceBytes, destinationBytes);
  if (!buffers.Prepared()) return SoundErrorCodecMissing;

  const std::int64_t limit = (MaxDecodedFrames + layout.GaplessSkip()) * layout.channels;
  auto tooLong = [&] { return static_cast<std::int64_t>(pcm.size()) > limit; };

  std::size_t pending = 0;  // bytes at the front of Source() not yet converted
  DWORD flags = ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN;
  for (std::size_t next = 0; next < layout.frames.size();) {
    const std::size_t batchEnd = std::min(layout.frames.size(), next + FramesPerConversion);
    for (; next < batchEnd; ++next) {
      const Mp3Layout::Frame& frame = layout.frames[next];
      std::memcpy(buffers.Source().data() + pending, file.data() + frame.offset, frame.length);
      pending += frame.length;
    }
    if (!buffers.Convert(pending, flags, pcm, pending)) return SoundErrorLoadingFile;
    flags = ACM_STREAMCONVERTF_BLOCKALIGN;
    if (tooLong()) return SoundErrorOutOfMemory;
    // A codec that works through part of a batch per call: let it finish
    // before more is added, so the left-over bytes never outgrow the buffer.
    while (pending > FramesPerConversion * longestFrame) {
      const std::size_t before = pending;
      if (!buffers.Convert(pending, flags, pcm, pending)) return SoundErrorLoadingFile;
      if (pending == before && buffers.LastOutputBytes() == 0) return SoundErrorLoadingFile;  // stuck
      if (tooLong()) return SoundErrorOutOfMemory;
    }
  }
  // Whatever the codec still holds (and any last bytes) comes out at the end.
  for (int call = 0; call < MaxFlushCalls; ++call) {
    if (!buffers.Convert(pending, ACM_STREAMCONVERTF_END, pcm, pending)) break;
    if (tooLong()) return SoundErrorOutOfMemory;
    if (buffers.LastOutputBytes() == 0 && pending == 0) break;
  }
  return SoundErrorNone;
}

// Cuts the gapless stream out of the decoder's output and makes it 16-bit
// stereo at SoundMixRate.
void ToShowFormat(const std::vector<std::int16_t>& decoded, const Mp3Layout& layout, std::vector<std::int16_t>& pcm) {
  const std::int64_t channels = layout.channels;
  const std::int64_t available = static_cast<std::int64_t>(decoded.size()) / channels;
  const std::int64_t skip = std::min(layout.GaplessSkip(), available);
  const std::int64_t frames = std::min(layout.GaplessLength(), available - skip);
  auto sample = [&](std::int64_t frame, int channel) {
    return decoded[static_cast<std::size_t>((skip + frame) * channels + (channels == 1 ? 0 : channel))];
  };
  if (layout.sampleRate == SoundMixRate) {
    pcm.resize(static_cast<std::size_t>(frames * SoundChannelsPerFrame));
    for (std::int64_t i = 0; i < frames; ++i) {
      for (int c = 0; c < SoundChannelsPerFrame; ++c) pcm[static_cast<std::size_t>(i * 2 + c)] = sample(i, c);
    }
    return;
  }
  // Linear interpolation between the two nearest source frames.
  const std::int64_t outFrames = (frames * SoundMixRate + layout.sampleRate / 2) / layout.sampleRate;
  pcm.resize(static_cast<std::size_t>(outFrames * SoundChannelsPerFrame));
  for (std::int64_t i = 0; i < outFrames; ++i) {
    const std::int64_t position = i * layout.sampleRate;  // in 1/SoundMixRate source frames
    const std::int64_t at = position / SoundMixRate;
    const std::int64_t fraction = position % SoundMixRate;
    const std::int64_t after = std::min(at + 1, frames - 1);
    for (int c = 0; c < SoundChannelsPerFrame; ++c) {
      const std::int64_t a = sample(at, c), b = sample(after, c);
      pcm[static_cast<std::size_t>(i * 2 + c)] = static_cast<std::int16_t>(a + (b - a) * fraction / SoundMixRate);
    }
  }
}

int Decode(const char* path, std::vector<std::int16_t>& pcm) {
  std::vector<std::uint8_t> file;
  if (int error = ReadWholeFile(path, file); error != SoundErrorNone) return error;
  Mp3Layout layout;
  if (FindMp3Layout(file, layout) != Mp3LayoutStatus::Ok) return SoundErrorUnknownFormat;
  std::vector<std::int16_t> decoded;
  if (int error = DecodeFrames(file, layout, decoded); error != SoundErrorNone) return error;
  ToShowFormat(decoded, layout, pcm);
  if (pcm.size() < SoundChannelsPerFrame) return SoundErrorUnknownFormat;
  if (static_cast<std::int64_t>(pcm.size() / SoundChannelsPerFrame) > MaxDecodedFrames) return SoundErrorOutOfMemory;
  return SoundErrorNone;
}

}  // namespace

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

struct Mp3Decoder {
  std::vector<std::int16_t> pcm;
  std::size_t next = 0;  // the next sample to hand out
};

void CloseMp3Decoder(Mp3Decoder* decoder) { delete decoder; }

int OpenMp3Decoder(const char* path, Mp3DecoderHandle& decoder) {
  decoder.reset();
  Mp3DecoderHandle opened(new (std::nothrow) Mp3Decoder);
  if (!opened) return SoundErrorOutOfMemory;
  if (int error = DecodeMp3File(path, opened->pcm); error != SoundErrorNone) return error;
  decoder = std::move(opened);
  return SoundErrorNone;
}

Mp3Piece DecodeMp3Piece(Mp3Decoder& decoder, std::vector<std::int16_t>& pcm) {
  const std::size_t samples =
      std::min(decoder.pcm.size() - decoder.next, static_cast<std::size_t>(Mp3PieceFrames * SoundChannelsPerFrame));
  const auto first = decoder.pcm.begin() + static_cast<std::ptrdiff_t>(decoder.next);
  pcm.insert(pcm.end(), first, first + static_cast<std::ptrdiff_t>(samples));
  decoder.next += samples;
  return decoder.next == decoder.pcm.size() ? Mp3Piece::End : Mp3Piece::Decoded;
}
