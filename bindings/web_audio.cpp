#include "web_audio.h"

#include <emscripten.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "sound.h"
#include "sound_platform.h"
#include "web_audio_clock.h"

// The browser's side, in web/web_audio.js.
extern "C" {
int quenrik_audio_open(int rate);
void quenrik_audio_append(const std::int16_t* samples, int frames);
void quenrik_audio_schedule();
void quenrik_audio_end();
double quenrik_audio_play(double leadSeconds);
void quenrik_audio_reading(double* contextTime, double* performanceTime, double* now);
void quenrik_audio_close();
}

namespace {

// Decoding per animation frame while the show runs; at least one piece is
// decoded when one is due.
constexpr double FeedBudgetMs = 2.0;

struct WebAudioState {
  bool contextTaken = false;
  std::string path;                   // the prepared file
  Mp3DecoderHandle decoder;           // while there is more to decode
  int error = SoundErrorNone;         // preparing or decoding it failed before playback
  std::int64_t decodedFrames = 0;     // handed to the page
  bool ended = false;                 // nothing more will be decoded
  bool playing = false;
  HeardClock clock;
};
WebAudioState Audio;

std::int32_t FramesToMs(std::int64_t frames) { return static_cast<std::int32_t>(frames * 1000 / SoundMixRate); }

void EndStream() {
  Audio.ended = true;
  Audio.decoder.reset();
  quenrik_audio_end();
  if (Audio.playing) Audio.clock.lengthMs = FramesToMs(Audio.decodedFrames);
}

// What a piece's outcome means: 0, or 10 (the first piece is not MPEG
// audio), 11 (damaged after its start) or 12 (longer than MaxDecodedFrames).
int PieceError(Mp3Piece piece, std::int64_t framesBefore, std::int64_t framesAfter) {
  if (piece == Mp3Piece::Damaged) return framesBefore == 0 ? SoundErrorUnknownFormat : SoundErrorLoadingFile;
  if (framesAfter > MaxDecodedFrames) return SoundErrorOutOfMemory;
  if (piece == Mp3Piece::End && framesAfter == 0) return SoundErrorUnknownFormat;
  return SoundErrorNone;
}

// Decodes one piece and hands it to the page. A failure before playback is
// kept for WebAudioLoad to report, as the desktop reports it when it opens
// the stream; once the show plays, damage ends the music where it starts.
void DecodePiece() {
  std::vector<std::int16_t> pcm;
  const Mp3Piece piece = DecodeMp3Piece(*Audio.decoder, pcm);
  const auto frames = static_cast<int>(pcm.size() / SoundChannelsPerFrame);
  const int error = PieceError(piece, Audio.decodedFrames, Audio.decodedFrames + frames);
  if (frames > 0 && error != SoundErrorOutOfMemory) {
    quenrik_audio_append(pcm.data(), frames);
    Audio.decodedFrames += frames;
  }
  if (error != SoundErrorNone) {
    if (Audio.playing) {
      std::fprintf(stderr, "quenrik: %s: %s after %.1f s; the music ends there\n", Audio.path.c_str(),
                   SoundErrorText(error), Audio.decodedFrames / double(SoundMixRate));
    } else {
      Audio.error = error;
    }
  }
  if (error != SoundErrorNone || piece != Mp3Piece::Decoded) EndStream();
}

bool MoreToDecode() { return Audio.decoder && !Audio.ended && Audio.error == SoundErrorNone; }

std::int64_t HeardFrames() { return std::int64_t{WebAudioClock()} * SoundMixRate / 1000; }

}  // namespace

int WebAudioPrepare(const char* path) {
  if (Audio.path == path) return Audio.error;
  Audio.path = path;
  Audio.decoder.reset();
  Audio.decodedFrames = 0;
  Audio.ended = false;
  Audio.error = OpenMp3Decoder(path, Audio.decoder);
  return Audio.error;
}

bool WebAudioDecodeAhead(double budgetMs) {
  const double until = emscripten_get_now() + budgetMs;
  while (MoreToDecode()) {
    if (Audio.playing && Audio.decodedFrames >= HeardFrames() + WebAudioAheadFrames) return true;
    DecodePiece();
    if (emscripten_get_now() >= until) break;
  }
  return MoreToDecode();
}

int WebAudioOpen() {
  if (Audio.contextTaken) return SoundErrorNone;
  if (!quenrik_audio_open(SoundMixRate)) return SoundErrorOutputDevice;
  Audio.contextTaken = true;
  return SoundErrorNone;
}

int WebAudioLoad(const char* path) {
  if (const int error = WebAudioPrepare(path); error != SoundErrorNone) return error;
  while (MoreToDecode() && Audio.decodedFrames < WebAudioFirstFrames) DecodePiece();
  return Audio.error;
}

void WebAudioPlay() {
  Audio.clock = HeardClock{};
  Audio.clock.startContextTime = quenrik_audio_play(WebAudioStartLeadSeconds);
  Audio.clock.lengthMs = Audio.ended ? FramesToMs(Audio.decodedFrames) : std::numeric_limits<std::int32_t>::max();
  Audio.playing = true;
}

void WebAudioFeed() {
  if (!Audio.playing) return;
  quenrik_audio_schedule();
  WebAudioDecodeAhead(FeedBudgetMs);
}

std::int32_t WebAudioClock() {
  if (!Audio.playing) return 0;
  AudioReading reading;
  quenrik_audio_reading(&reading.contextTime, &reading.performanceTime, &reading.now);
  return HeardPositionMs(Audio.clock, reading);
}

bool WebAudioFinished() { return Audio.playing && Audio.ended && WebAudioClock() >= Audio.clock.lengthMs; }

void WebAudioClose() {
  quenrik_audio_close();
  Audio = WebAudioState{};
}
