// Which MP3 packets go into a capture, and how many decoded samples the
// player must drop so that the music sample under the first video frame is
// heard at video time 0. Pure arithmetic on sample positions.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// MP3 frames carry their main data partly in earlier frames (the bit
// reservoir) and overlap their neighbours in the filter bank: a decoder needs
// two frames before the first sample it must get right. One more for margin.
constexpr int AudioPrerollPackets = 3;

struct AudioCut {
  std::size_t firstPacket = 0;  // packets firstPacket ... endPacket - 1 are copied
  std::size_t endPacket = 0;
  std::int64_t skipSamples = 0;  // decoded samples before the music sample under video time 0
};

// packetStarts[k]: the decoded-sample position where packet k's samples start
// (ascending); packetEnd: where the last packet's samples end. encoderDelay:
// decoded samples before music sample 0 (the encoder's and decoder's delay).
// startSample: the music sample under the first written video frame;
// lengthSamples: the video's length. The last packet copied is the one whose
// end lies nearest the video's end, so the file's length differs from the
// video's by at most half a packet.
AudioCut CutAudio(std::span<const std::int64_t> packetStarts, std::int64_t packetEnd, std::int64_t encoderDelay,
                  std::int64_t startSample, std::int64_t lengthSamples);

// The music's length, in samples at its rate: what the file holds (decoded
// samples less the encoder's delay and padding) and what its header
// announces (0 when it announces nothing).
struct MusicLength {
  std::int64_t held = 0;
  std::int64_t announced = 0;
};

// A warning when the music is shorter than the show or ends before its
// header says (a file cut short): how long it is, and what that does to a
// video of music samples firstSample ... endSample - 1. Empty when the music
// lasts the show. Differences up to `tolerance` samples (the audio's own
// cut, half a packet) are no shortfall.
std::string MusicWarning(const std::string& file, MusicLength music, int sampleRate, std::int64_t firstSample,
                         std::int64_t endSample, std::int64_t tolerance);
