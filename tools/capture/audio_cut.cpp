#include "audio_cut.h"

#include <algorithm>
#include <cstdlib>

AudioCut CutAudio(std::span<const std::int64_t> packetStarts, std::int64_t packetEnd, std::int64_t encoderDelay,
                  std::int64_t startSample, std::int64_t lengthSamples) {
  AudioCut cut;
  if (packetStarts.empty()) return cut;
  const std::int64_t first = startSample + encoderDelay;  // decoded position of the first sample heard
  // The packet holding it, then the preroll before it.
  const auto holding = std::upper_bound(packetStarts.begin(), packetStarts.end(), first);
  const std::size_t holdingIndex = holding == packetStarts.begin() ? 0 : std::size_t(holding - packetStarts.begin()) - 1;
  cut.firstPacket = holdingIndex >= std::size_t{AudioPrerollPackets} ? holdingIndex - AudioPrerollPackets : 0;
  cut.skipSamples = first - packetStarts[cut.firstPacket];

  // End: the packet boundary nearest the video's end, at least one packet past
  // the start.
  const std::int64_t videoEnd = first + lengthSamples;
  auto endOf = [&](std::size_t k) { return k + 1 < packetStarts.size() ? packetStarts[k + 1] : packetEnd; };
  std::size_t last = holdingIndex;
  while (last + 1 < packetStarts.size() && std::llabs(endOf(last + 1) - videoEnd) <= std::llabs(endOf(last) - videoEnd))
    ++last;
  cut.endPacket = last + 1;
  return cut;
}
