// The music in a browser: the MP3 decoded by libmpg123, compiled to
// WebAssembly from the same source as the desktop's library, a piece at a
// time (DecodeMp3Piece, sound_platform.h), and played through Web Audio.
// Its clock is the position the listener hears (web_audio_clock.h). Failures
// are the sound error codes of sound.h.
//
// The decoded samples go to the page as they come; once playing, they are
// scheduled a few seconds ahead as a chain of buffer sources, each starting
// at the exact context frame where the one before ends, so the stream is
// heard gaplessly and sample for sample as decoded. Decoding may start
// before the show does (WebAudioPrepare, WebAudioDecodeAhead: while the
// dialog is open); playback needs only WebAudioFirstFrames, and WebAudioFeed
// keeps the decoder WebAudioAheadFrames ahead of the listener while the show
// runs.
//
// Browsers start audio only after a user gesture: the page makes its
// AudioContext early and resumes it while it handles the click (or key)
// that ends the dialog with "Go!"; WebAudioOpen takes that context.
#pragma once

#include <cstdint>

// Frames decoded before playback starts: one second.
constexpr std::int64_t WebAudioFirstFrames = 44100;
// How far the decoder keeps ahead of the position heard: eight seconds,
// against pages that get no animation frames for a while (a hidden tab
// still gets a timer a second).
constexpr std::int64_t WebAudioAheadFrames = 8 * 44100;
// The stream starts this long after WebAudioPlay, so that its first frame is
// placed exactly (a start in the past would play at once, at whatever time
// the audio thread gets to it): more than a device callback.
constexpr double WebAudioStartLeadSeconds = 0.05;

// Opens the file for decoding, unless it is already open (or has failed):
// 0 or the decoder's code, 9 (no such file), 10 (no MPEG audio), 11
// (unreadable). A failure is kept and returned again.
int WebAudioPrepare(const char* path);

// Decodes more of the prepared file for about budgetMs milliseconds, at most
// up to WebAudioAheadFrames past what is heard (all of it before playback).
// False once there is nothing more to decode.
bool WebAudioDecodeAhead(double budgetMs);

// Takes the page's AudioContext. 0, or SoundErrorOutputDevice when there is
// none (no Web Audio, or the browser refused it).
int WebAudioOpen();

// Prepares the file and decodes at least its first WebAudioFirstFrames.
// 0 or the decoder's code: 9, 10, 11 or 12 (too long).
int WebAudioLoad(const char* path);

// Starts the stream from position 0 WebAudioStartLeadSeconds from now.
void WebAudioPlay();

// While playing: schedules the decoded stream a few seconds ahead, and
// decodes what the listener will need next (a few milliseconds of work at
// most).
void WebAudioFeed();

// The position heard, in ms: 0 until the first frame is heard, never going
// back, at most the stream's length once that is known.
std::int32_t WebAudioClock();

// The whole stream is decoded and every frame of it has been heard.
bool WebAudioFinished();

// Stops the stream, closes the context and forgets the file. Safe to call at
// any time.
void WebAudioClose();
