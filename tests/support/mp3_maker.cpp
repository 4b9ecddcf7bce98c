#include "mp3_maker.h"

#include <unistd.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <stdexcept>

#include "synth.h"

// Small and quick: 128 kbps at LAME's middle quality.
constexpr int TestKbps = 128;
constexpr int TestQuality = 5;

std::vector<unsigned char> EncodeMp3(const std::vector<std::int16_t>& pcm, int channels, int rate) {
  std::string error;
  std::vector<unsigned char> mp3 = synth::EncodeMp3(pcm, error, {rate, channels, TestKbps, TestQuality});
  if (mp3.empty()) throw std::runtime_error(error);
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
