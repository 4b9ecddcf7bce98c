// Which MP3 packets go into a capture, and how many decoded samples the
// player must drop so that the music sample under the first video frame is
// heard at video time 0. Pure arithmetic on sample positions.
#pragma once

#include <cstdint>
#include <span>

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
