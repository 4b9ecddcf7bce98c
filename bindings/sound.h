// The music module: plays one MP3 stream and reports its playing position.
//
// The show needs nine operations from its sound output: set the output and
// driver, initialise, open an MP3 stream, play it, poll its position in
// milliseconds, close the stream, shut down, and read the code of the last
// failure (turned into text by SoundErrorText). This module provides them over
// our own pieces: a decoder (libmpg123, or the Audio Compression Manager on
// Windows) that turns the file into 16-bit stereo PCM (libmpg123 as the stream
// plays, the ACM when it opens), and an output that copies that PCM out in 1024-frame periods: on
// Linux a sound server (PulseAudio, or PipeWire's pulse server), else ALSA,
// else SDL2 audio; on Windows waveOut.
//
// All operations are called from one thread (the show's). The output plays on
// its own thread; the two meet only in the fill calls (SoundFillOutput, or
// SoundFillQueuedOutput with SoundQueuedBufferStarted or SoundQueuedBufferHeard)
// and the stream's published clock record.
//
// The position clock (SoundStreamGetTime) is the position being heard, and it
// is smooth: the output publishes, from time to time, the stream frame being
// heard, the frame up to which the listener may go on without further news,
// and the steady-clock time. A reader adds the time elapsed since then to the
// frame heard, never going past that limit, and never answers less than it
// answered before. So the clock is 0 until the stream's first sample is heard
// (0 is the first audible sample: gapless decoding drops the encoder's delay
// and padding), moves on smoothly between publications, stalls with the
// output, and stops at the stream's length. Outputs that know their latency
// (the sound server, ALSA) publish what their listener hears; SDL and waveOut
// know only when a buffer starts to be played, and publish that.
//
// Error codes are those of SoundErrorText's table; SoundGetError returns the
// code of the last failure (0 when nothing has failed since SoundInit or
// SoundClose).
#pragma once

#include <cstdint>

// An opened music stream. Owned by the module: the handle stays valid until
// SoundStreamClose or SoundClose.
struct SoundStream;

// Error codes this module reports (the others of the table are never produced).
inline constexpr int SoundErrorNone = 0;
inline constexpr int SoundErrorAlreadyInitialised = 1;
inline constexpr int SoundErrorNotInitialised = 2;
inline constexpr int SoundErrorOutputDevice = 3;
inline constexpr int SoundErrorFileNotFound = 9;
inline constexpr int SoundErrorUnknownFormat = 10;
inline constexpr int SoundErrorLoadingFile = 11;
inline constexpr int SoundErrorOutOfMemory = 12;
inline constexpr int SoundErrorInvalidParameter = 14;
inline constexpr int SoundErrorNoChannel = 17;

// Outputs for SoundSetOutput.
inline constexpr int SoundOutputPlatform = 1;  // the system's audio output (default): the best one there is
inline constexpr int SoundOutputManual = 2;    // no device: the caller drives SoundFillOutput (tests)
// One output of the platform alone (Linux; elsewhere SoundInit fails with code
// 3). SoundOutputPlatform tries them in this order, unless SDL_AUDIODRIVER is
// set: then the user has chosen one of SDL's drivers (dummy, disk...), and SDL
// is used alone.
inline constexpr int SoundOutputServer = 3;    // PulseAudio's protocol (PulseAudio, PipeWire)
inline constexpr int SoundOutputAlsa = 4;      // ALSA's default device
inline constexpr int SoundOutputSdl = 5;       // SDL2 audio, SDL_AUDIODRIVER's driver or SDL's choice

// The only mixing rate: the show's music and the device both run at 44.1 kHz.
inline constexpr int SoundMixRate = 44100;
// Frames per device period: 1024 frames (23.2 ms) keep SDL's dummy driver at
// real-time speed and the clock's extrapolation short.
inline constexpr int SoundPeriodFrames = 1024;
// Samples per frame of the decoded PCM and of the output (stereo).
inline constexpr int SoundChannelsPerFrame = 2;

// Chooses the output used by SoundInit: one of the SoundOutput values above.
// False (code 1) after SoundInit, false (code 14) for any other value.
bool SoundSetOutput(int output);

// Chooses the device of the output: 0 is the system's default device, the only
// one supported. False (code 1) after SoundInit, false (code 14) otherwise.
bool SoundSetDriver(int driver);

// Opens the output device, paused, for mixRate (only SoundMixRate), at most
// maxChannels streams playing at once (1 to 64; this module plays one), flags
// (ignored). True when the module is ready to play. Failures: code 1 when
// already initialised, 14 for a bad rate or channel count, 3 when the audio
// system or its device cannot be opened.
bool SoundInit(int mixRate, int maxChannels, unsigned flags);

// The code of the last failure.
int SoundGetError();

// The output in use since SoundInit ("pulse", "alsa", "sdl dummy", "waveout",
// "manual"...); an empty text before SoundInit. For reports and tests.
const char* SoundOutputName();

// Opens the MP3 file at path and decodes its first second (a few
// milliseconds of work); a thread of the stream's own decodes the rest as it
// plays, a few seconds ahead of the device (about 12 MB in all for 72 s).
// mode bits are ignored: a stream always decodes to 16-bit stereo at the mix
// rate and plays once. offset must be 0. Null on failure: code 2 before
// SoundInit, 14 for a null path or a non-zero offset, 9 when the file does not
// exist, 11 when it exists but cannot be read, 10 when it holds no MPEG audio,
// 12 when its header announces more than the module's size limit (10 min).
// A file damaged further on plays up to the damage; one longer than it
// announced, up to the limit.
SoundStream* SoundStreamOpenFile(const char* path, unsigned mode, int offset);

// Starts the stream from position 0. channel is -1 (any free channel) or a
// channel number below maxChannels. Returns the channel (>= 0) once the first
// frame is heard (at most 3 s: a device that does not start is left to the
// caller's stall check), or -1 on failure: code 2 before SoundInit, 14 for an
// unknown stream or channel, 17 while another stream is still playing.
// Playing a stream again restarts it.
int SoundStreamPlay(int channel, SoundStream* stream);

// The stream's playing position in milliseconds: 0 before playback starts,
// non-decreasing, at most the stream's length. An unknown stream gives 0
// (code 14). Cheap enough to poll in a busy loop.
std::int32_t SoundStreamGetTime(SoundStream* stream);

// The stream's length in milliseconds (what SoundStreamGetTime ends at);
// 0 for an unknown stream. Waits until the stream is decoded to its end.
std::int32_t SoundStreamGetLength(SoundStream* stream);

// True once every decoded sample of the stream has been played, that is once
// the clock has reached the stream's length. False for an unknown stream.
bool SoundStreamFinished(SoundStream* stream);

// Stops the stream and frees it. False (code 14) for an unknown stream.
bool SoundStreamClose(SoundStream* stream);

// Closes every stream and the output device and returns the module to its
// state before SoundInit (output, driver and error code back to defaults).
void SoundClose();

// The message for an error code; "Unknown error" for codes outside the table.
const char* SoundErrorText(int code);

// --- Device side -----------------------------------------------------------

// Fills frames stereo frames of out with the playing stream (silence where
// there is none) and publishes the clock record. The platform device's
// callback calls this; with SoundOutputManual a test calls it in its place.
void SoundFillOutput(std::int16_t* out, int frames);

// For devices that queue several buffers ahead (waveOut): the clock must follow
// the buffer being heard, not the one being filled. SoundFillQueuedOutput fills
// like SoundFillOutput but leaves the clock alone and says which stream frames
// went in; SoundQueuedBufferStarted publishes them once that buffer starts
// playing. A buffer filled before its stream was closed or played again is
// ignored then.
struct SoundQueuedBuffer {
  SoundStream* stream = nullptr;  // compared, never dereferenced unless still playing
  std::uint64_t play = 0;         // which SoundStreamPlay call it belongs to
  std::int64_t start = 0;         // first stream frame in it
  std::int64_t end = 0;           // one past the last; equal to start: silence
};
SoundQueuedBuffer SoundFillQueuedOutput(std::int16_t* out, int frames);
void SoundQueuedBufferStarted(const SoundQueuedBuffer& buffer);

// For outputs that know what is being heard (sound_heard.h): stream frame
// heard of buffer's stream is heard at steady time (ns, SoundSetClock's clock),
// and the clock may run on at real-time speed up to stream frame limit. Ignored
// for a buffer of a stream closed or played again since.
void SoundQueuedBufferHeard(const SoundQueuedBuffer& buffer, std::int64_t heard, std::int64_t limit,
                            std::int64_t time);

// A steady clock in nanoseconds. SoundSetClock replaces the module's clock
// (std::chrono::steady_clock) for tests; null restores it. Kept across
// SoundClose.
using SoundNowFunction = std::int64_t (*)();
void SoundSetClock(SoundNowFunction now);
// That clock's time now, for outputs that publish what is heard.
std::int64_t SoundSteadyNow();
