// Output files: MP3 through LAME with its info frame, WAV for inspection.
#include <lame/lame.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "synth.h"

namespace synth {
namespace {

struct LameCloser {
  void operator()(lame_global_flags* flags) const { lame_close(flags); }
};
using LameHandle = std::unique_ptr<lame_global_flags, LameCloser>;

constexpr int EncodeChunkFrames = 8192;
// LAME's documented worst case for the output of one call: 1.25 * frames + 7200 bytes.
constexpr int EncodeBufferBytes = EncodeChunkFrames * 5 / 4 + 7200;
constexpr int MaxFrameBytes = 2880;  // largest MPEG-1 Layer III frame (320 kbps, 32 kHz, padded)

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> EncodeMp3(const std::vector<std::int16_t>& interleaved, std::string& error,
                                    const Mp3Format& format) {
  if (format.channels != 1 && format.channels != 2) {
    error = "MP3 files have one or two channels, not " + std::to_string(format.channels);
    return {};
  }
  LameHandle lame(lame_init());
  if (!lame) {
    error = "LAME could not be initialised";
    return {};
  }
  lame_global_flags* gf = lame.get();
  lame_set_in_samplerate(gf, format.rate);
  lame_set_out_samplerate(gf, format.rate);
  lame_set_num_channels(gf, format.channels);
  lame_set_mode(gf, format.channels == 1 ? MONO : JOINT_STEREO);
  lame_set_VBR(gf, vbr_off);
  lame_set_brate(gf, format.kbps);
  lame_set_quality(gf, format.quality);
  lame_set_bWriteVbrTag(gf, 1);  // reserve the first frame for the info tag
  lame_set_write_id3tag_automatic(gf, 0);
  if (lame_init_params(gf) < 0) {
    error = "LAME rejected the encoder settings";
    return {};
  }

  std::vector<std::uint8_t> mp3;
  std::vector<unsigned char> buffer(EncodeBufferBytes);
  const auto channels = static_cast<std::size_t>(format.channels);
  std::vector<short> chunk(EncodeChunkFrames * channels);
  const std::size_t totalFrames = interleaved.size() / channels;
  for (std::size_t done = 0; done < totalFrames;) {
    const std::size_t frames = std::min<std::size_t>(EncodeChunkFrames, totalFrames - done);
    std::copy_n(interleaved.begin() + static_cast<std::ptrdiff_t>(done * channels), frames * channels, chunk.begin());
    const int bytes =
        channels == 2 ? lame_encode_buffer_interleaved(gf, chunk.data(), static_cast<int>(frames), buffer.data(),
                                                       static_cast<int>(buffer.size()))
                      : lame_encode_buffer(gf, chunk.data(), chunk.data(), static_cast<int>(frames), buffer.data(),
                                           static_cast<int>(buffer.size()));
    if (bytes < 0) {
      error = "LAME failed while encoding (code " + std::to_string(bytes) + ")";
      return {};
    }
    mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + bytes);
    done += frames;
  }
  const int tail = lame_encode_flush(gf, buffer.data(), static_cast<int>(buffer.size()));
  if (tail < 0) {
    error = "LAME failed while flushing (code " + std::to_string(tail) + ")";
    return {};
  }
  mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + tail);

  // The first frame so far is a placeholder; now that the stream is complete,
  // LAME can fill in frame count, seek table, encoder delay and padding.
  std::array<unsigned char, MaxFrameBytes> tag{};
  const std::size_t tagBytes = lame_get_lametag_frame(gf, tag.data(), tag.size());
  if (tagBytes == 0 || tagBytes > tag.size() || tagBytes > mp3.size()) {
    error = "LAME did not produce its info frame";
    return {};
  }
  std::memcpy(mp3.data(), tag.data(), tagBytes);
  return mp3;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

bool WriteWav(const std::string& path, const std::vector<std::int16_t>& interleaved) {
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(interleaved.size() * sizeof(std::int16_t));
  std::vector<std::uint8_t> out;
  out.reserve(44 + dataBytes);
  auto tag = [&out](const char* four) { out.insert(out.end(), four, four + 4); };
  tag("RIFF");
  PutLe(out, 36 + dataBytes, 4);
  tag("WAVE");
  tag("fmt ");
  PutLe(out, 16, 4);                                // format chunk size
  PutLe(out, 1, 2);                                 // PCM
  PutLe(out, Channels, 2);
  PutLe(out, SampleRate, 4);
  PutLe(out, SampleRate * Channels * 2, 4);         // bytes per second
  PutLe(out, Channels * 2, 2);                      // bytes per frame
  PutLe(out, 16, 2);                                // bits per sample
  tag("data");
  PutLe(out, dataBytes, 4);
  for (std::int16_t s : interleaved) PutLe(out, static_cast<std::uint16_t>(s), 2);
  return WriteFile(path, out);
}

}  // namespace synth
