// The music in a browser: the MP3 decoded whole by libmpg123, compiled to
// WebAssembly from the same source as the desktop's library (DecodeMp3File,
// sound_platform.h), handed to Web Audio as one buffer and played by one
// source node. Its clock is the position the listener hears
// (web_audio_clock.h). Failures are the sound error codes of sound.h.
//
// Browsers start audio only after a user gesture: the page makes the
// AudioContext while it handles the click (or key) that ends the dialog with
// "Go!", and WebAudioOpen takes that context.
#pragma once

#include <cstdint>

// Takes the page's AudioContext. 0, or SoundErrorOutputDevice when there is
// none (no Web Audio, or the browser refused it).
int WebAudioOpen();

// Decodes the file and hands its samples to Web Audio. 0 or the decoder's
// code: 9 (no such file), 10 (no MPEG audio), 11 (unreadable), 12 (too long).
int WebAudioLoad(const char* path);

// Starts the stream from position 0 a moment from now (WebAudioStartLeadSeconds).
void WebAudioPlay();

// The position heard, in ms: 0 until the first frame is heard, never going
// back, at most the stream's length.
std::int32_t WebAudioClock();

// Every frame has been heard.
bool WebAudioFinished();

// Stops the stream and closes the context. Safe to call at any time.
void WebAudioClose();

// The stream starts this long after WebAudioPlay, so that its first frame is
// placed exactly (a start in the past would play at once, at whatever time
// the audio thread gets to it): more than a device callback.
constexpr double WebAudioStartLeadSeconds = 0.05;
