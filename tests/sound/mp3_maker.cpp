#include "mp3_maker.h"

#include <lame/lame.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <numbers>
#include <stdexcept>

std::vector<unsigned char> EncodeMp3(const std::vector<std::int16_t>& pcm, int channels, int rate) {
  std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> lame(lame_init(), lame_close);
  if (!lame) {
    throw std::runtime_error("lame_init failed");
  }
  lame_set_in_samplerate(lame.get(), rate);
  lame_set_out_samplerate(lame.get(), rate);
  lame_set_num_channels(lame.get(), channels);
  lame_set_mode(lame.get(), channels == 1 ? MONO : JOINT_STEREO);
  lame_set_brate(lame.get(), 128);
  lame_set_quality(lame.get(), 5);
  lame_set_bWriteVbrTag(lame.get(), 1);
  if (lame_init_params(lame.get()) < 0) {
    throw std::runtime_error("lame_init_params failed");
  }
  int frames = static_cast<int>(pcm.size()) / channels;
  std::vector<unsigned char> mp3(static_cast<std::size_t>(frames) * 5 / 4 + 7200 + 16384);
  int written = 0;
  if (channels == 2) {
    written = lame_encode_buffer_interleaved(lame.get(), const_cast<short*>(pcm.data()), frames, mp3.data(),
                                             static_cast<int>(mp3.size()));
  } else {
    written = lame_encode_buffer(lame.get(), pcm.data(), pcm.data(), frames, mp3.data(), static_cast<int>(mp3.size()));
  }
  if (written < 0) {
    throw std::runtime_error("lame_encode_buffer failed");
  }
  int flushed = lame_encode_flush(lame.get(), mp3.data() + written, static_cast<int>(mp3.size()) - written);
  if (flushed < 0) {
    throw std::runtime_error("lame_encode_flush failed");
  }
  mp3.resize(static_cast<std::size_t>(written + flushed));
  // The encoder left room for the tag in its first frame; fill it in now that
  // the delay and padding are known.
  std::vector<unsigned char> tag(4096);
  std::size_t tagBytes = lame_get_lametag_frame(lame.get(), tag.data(), tag.size());
  if (tagBytes == 0 || tagBytes > tag.size() || tagBytes > mp3.size()) {
    throw std::runtime_error("no LAME tag");
  }
  std::copy_n(tag.begin(), tagBytes, mp3.begin());
  return mp3;
}

std::vector<std::int16_t> SilenceThenTone(int silentFrames, int totalFrames, int channels) {
  std::vector<std::int16_t> pcm(static_cast<std::size_t>(totalFrames) * channels, 0);
  for (int i = silentFrames; i < totalFrames; ++i) {
    double phase = 2.0 * std::numbers::pi * 1000.0 * (i - silentFrames) / 44100.0;
    auto sample = static_cast<std::int16_t>(std::lround(ToneAmplitude * std::sin(phase)));
    for (int c = 0; c < channels; ++c) {
      pcm[static_cast<std::size_t>(i) * channels + c] = sample;
    }
  }
  return pcm;
}

TempFile::TempFile(const std::string& name)
    : path(std::filesystem::temp_directory_path() /
           ("quenrik_sound_" + std::to_string(getpid()) + "_" + name)) {}

TempFile::~TempFile() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

void TempFile::Write(const std::vector<unsigned char>& bytes) const {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
}
