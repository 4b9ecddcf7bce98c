// Small MP3 files for the music module's tests, encoded by the soundtrack's
// own encoder (tools/synth) at the tests' rates, channels and quality.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Encodes interleaved 16-bit PCM (channels 1 or 2) at rate into an MP3 with a
// LAME/Xing tag, so a gapless decoder returns exactly the frames given.
std::vector<unsigned char> EncodeMp3(const std::vector<std::int16_t>& pcm, int channels, int rate = 44100);

// Stereo PCM: silence for silentFrames, then a 1 kHz sine of amplitude
// ToneAmplitude until totalFrames.
inline constexpr int ToneAmplitude = 12000;
std::vector<std::int16_t> SilenceThenTone(int silentFrames, int totalFrames, int channels = 2);

// A file in the temporary directory, removed when the object goes.
struct TempFile {
  explicit TempFile(const std::string& name);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  void Write(const std::vector<unsigned char>& bytes) const;
  std::filesystem::path path;
};
