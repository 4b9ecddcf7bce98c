// Decoding MP3 files with libmpg123 for the soundtrack tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DecodedTrack {
  bool ok = false;
  std::string error;
  long rate = 0;
  int channels = 0;
  std::vector<std::int16_t> pcm;  // interleaved
  std::size_t Frames() const { return channels ? pcm.size() / static_cast<std::size_t>(channels) : 0; }
};

// Decodes a whole file gaplessly (encoder delay and padding trimmed from the
// LAME info frame), as 16-bit samples in the file's own rate and channel count.
DecodedTrack DecodeMp3File(const std::string& path);

std::vector<std::uint8_t> ReadBytes(const std::string& path);

// Peak and RMS of interleaved samples in dBFS (full scale = 32768).
double PeakDb(const std::vector<std::int16_t>& pcm, std::size_t first = 0, std::size_t last = SIZE_MAX);
double RmsDb(const std::vector<std::int16_t>& pcm, std::size_t first = 0, std::size_t last = SIZE_MAX);
