#include "web_audio.h"

#include <vector>

#include "sound.h"
#include "sound_platform.h"
#include "web_audio_clock.h"

// The browser's side, in web/web_audio.js.
extern "C" {
int quenrik_audio_open();
void quenrik_audio_load(const std::int16_t* samples, int frames);
double quenrik_audio_play(double leadSeconds);
void quenrik_audio_reading(double* contextTime, double* performanceTime, double* now);
void quenrik_audio_close();
}

namespace {

struct WebAudioState {
  bool open = false;
  std::int64_t frames = 0;
  bool playing = false;
  HeardClock clock;
};
WebAudioState Audio;

}  // namespace

int WebAudioOpen() {
  WebAudioClose();
  if (!quenrik_audio_open()) return SoundErrorOutputDevice;
  Audio.open = true;
  return SoundErrorNone;
}

int WebAudioLoad(const char* path) {
  std::vector<std::int16_t> pcm;
  if (const int error = DecodeMp3File(path, pcm); error != SoundErrorNone) return error;
  Audio.frames = static_cast<std::int64_t>(pcm.size() / SoundChannelsPerFrame);
  quenrik_audio_load(pcm.data(), static_cast<int>(Audio.frames));
  return SoundErrorNone;
}

void WebAudioPlay() {
  Audio.clock = HeardClock{};
  Audio.clock.startContextTime = quenrik_audio_play(WebAudioStartLeadSeconds);
  Audio.clock.lengthMs = static_cast<std::int32_t>(Audio.frames * 1000 / SoundMixRate);
  Audio.playing = true;
}

std::int32_t WebAudioClock() {
  if (!Audio.playing) return 0;
  AudioReading reading;
  quenrik_audio_reading(&reading.contextTime, &reading.performanceTime, &reading.now);
  return HeardPositionMs(Audio.clock, reading);
}

bool WebAudioFinished() { return Audio.playing && WebAudioClock() >= Audio.clock.lengthMs; }

void WebAudioClose() {
  if (Audio.open) quenrik_audio_close();
  Audio = WebAudioState{};
}
