#include "audio_cut.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "timeline.h"

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

namespace {

// "12.461 s", "3 s": to the millisecond, without trailing zeros; "about
// 72.0 s" where the last samples are not known.
std::string Seconds(std::int64_t samples, int sampleRate, int decimals = 3) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, double(samples) / sampleRate);
  std::string seconds = text;
  if (seconds.find('.') != std::string::npos && decimals == 3) {
    seconds.erase(seconds.find_last_not_of('0') + 1);
    if (seconds.back() == '.') seconds.pop_back();
  }
  return seconds + " s";
}

}  // namespace

std::string MusicWarning(const std::string& file, MusicLength music, int sampleRate, std::int64_t firstSample,
                         std::int64_t endSample, std::int64_t tolerance) {
  const std::int64_t show = std::int64_t{ShowEndMs} * sampleRate / 1000;
  const bool cut = music.announced > music.held + tolerance;
  if (!cut && music.held + tolerance >= show) return {};
  std::string text = "the music " + file;
  if (cut)
    text += " ends early, after " + Seconds(music.held, sampleRate) + ", though its header announces about " +
            Seconds(music.announced, sampleRate, 1) + " (a file cut short?)";
  else
    text += " lasts only " + Seconds(music.held, sampleRate) + ", less than the show's " + Seconds(show, sampleRate);
  if (music.held <= firstSample) return text + "; this video has no sound";
  if (music.held + tolerance < endSample)
    return text + "; this video is silent from music time " + Seconds(music.held, sampleRate) + " on (its last " +
           Seconds(endSample - music.held, sampleRate) + ")";
  return text + "; this video, up to music time " + Seconds(endSample, sampleRate) + ", has all its sound";
}
