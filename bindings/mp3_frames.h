// The frame layout of an MP3 file, for decoders that do not trim on their own.
//
// An MP3 file is an optional ID3v2 tag, then MPEG audio frames, each starting
// with a 4-byte header (11 sync bits, version, layer, bitrate, sample rate,
// padding, channel mode). An encoder that writes a Xing/Info tag puts it in
// the first frame, which then holds no audio; the LAME extension of that tag
// gives the encoder delay (silent samples the encoder put before the first
// input sample) and the padding (samples after the last one), 12 bits each.
//
// A gapless decoder (libmpg123 on Linux) drops the tag frame, then the first
// EncoderDelay + MpegDecoderDelay samples of its output, and keeps
// AudioFrames * SamplesPerFrame - EncoderDelay - Padding samples: sample 0
// is then the first sample the encoder was given. Mp3Layout gives the same
// cut to a decoder that outputs every sample of the frames it is fed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The synthesis filter bank of every standard MPEG audio layer III decoder
// delays its output by 528 samples plus one (the value gapless players use).
inline constexpr int MpegDecoderDelay = 529;

struct Mp3Layout {
  int sampleRate = 0;       // Hz
  int channels = 0;         // 1 or 2
  int samplesPerFrame = 0;  // 1152 (MPEG-1) or 576 (MPEG-2 and 2.5)
  int bitrateKbps = 0;      // of the first audio frame
  struct Frame {
    std::size_t offset, length;  // bytes, header included
  };
  std::vector<Frame> frames;     // every whole audio frame in file order (no tag frame)
  bool hasGaplessInfo = false;   // a LAME tag with delay and padding was found
  int encoderDelay = 0;          // samples, 0 without gapless info
  int padding = 0;               // samples, 0 without gapless info

  // Where the gapless stream lies in the decoder's output (samples per
  // channel): skip this many, then keep at most GaplessLength. Without
  // gapless info nothing is cut.
  std::int64_t GaplessSkip() const { return hasGaplessInfo ? encoderDelay + MpegDecoderDelay : 0; }
  std::int64_t GaplessLength() const;
};

enum class Mp3LayoutStatus { Ok, NoAudio };

// Finds the frames of an MP3 file held in memory. NoAudio when no valid MPEG
// layer III frame followed by another (or by the end of the file) is found.
// Bytes that are not frames (a trailing ID3v1 tag, damage) are skipped up to
// the next frame that matches the first one's sample rate and channels.
Mp3LayoutStatus FindMp3Layout(std::span<const std::uint8_t> file, Mp3Layout& layout);

// The layer III frame starting at data[0], if its header is valid.
struct Mp3FrameHeader {
  int sampleRate = 0;
  int channels = 0;
  int samplesPerFrame = 0;
  int bitrateKbps = 0;
  int sideInfoBytes = 0;  // between the header (and CRC) and the main data
  bool crc = false;       // a 16-bit CRC follows the header
  std::size_t length = 0;  // bytes, header included
};
bool ReadMp3FrameHeader(std::span<const std::uint8_t> data, Mp3FrameHeader& header);
