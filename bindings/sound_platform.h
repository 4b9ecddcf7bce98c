// The music module's platform seams: the MP3 decoder and the output device.
// sound.cpp holds the module's logic (streams, clock, errors) and calls only
// these; each platform provides them in its own files (on Linux
// sound_mpg123.cpp and sound_linux_output.cpp with the outputs it chooses
// from; on Windows sound_win32_acm.cpp and sound_win32_waveout.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sound.h"

// Longest stream decoded: 10 minutes (106 MB of PCM). The show's music is
// 72 s; anything far longer is not our file and would only eat memory.
constexpr std::int64_t MaxDecodedFrames = std::int64_t{10} * 60 * SoundMixRate;

// Decodes the whole MP3 file at path into interleaved 16-bit stereo PCM at
// SoundMixRate, without the encoder's delay and padding (gapless). Returns 0
// or a SoundError code (9, 10, 11 or 12); pcm is cleared on failure.
int DecodeMp3File(const char* path, std::vector<std::int16_t>& pcm);

// The same PCM piece by piece, so that a stream can play before its file is
// decoded to the end (on Linux libmpg123 decodes as it goes; on Windows the
// whole file is decoded when it opens and handed out in pieces).
struct Mp3Decoder;
void CloseMp3Decoder(Mp3Decoder* decoder);
struct Mp3DecoderCloser {
  void operator()(Mp3Decoder* decoder) const { CloseMp3Decoder(decoder); }
};
using Mp3DecoderHandle = std::unique_ptr<Mp3Decoder, Mp3DecoderCloser>;

// Opens the file at path: 0, or a SoundError code (9 missing, 11 not a
// readable regular file, 12 announced as longer than MaxDecodedFrames; on
// Windows any code of DecodeMp3File).
int OpenMp3Decoder(const char* path, Mp3DecoderHandle& decoder);

// At most this many frames per piece: 0.37 s, decoded in about a millisecond.
constexpr std::int64_t Mp3PieceFrames = 16384;

enum class Mp3Piece {
  Decoded,  // frames were appended (possibly none); more may follow
  End,      // the stream is over
  Damaged,  // the decoder cannot go on (at the first piece: not MPEG audio)
};
// Appends the next piece of PCM to pcm.
Mp3Piece DecodeMp3Piece(Mp3Decoder& decoder, std::vector<std::int16_t>& pcm);

// Opens output (a SoundOutput value other than SoundOutputManual) on driver
// (0, the default device), paused, at SoundMixRate in 16-bit stereo, in
// periods of about SoundPeriodFrames. Once started, its own thread fills every
// period (SoundFillOutput, or SoundFillQueuedOutput and a publication of what
// is heard). Returns 0 or SoundErrorOutputDevice.
int OpenOutputDevice(int output, int driver);
void StartOutputDevice();
// Stops the device; no fill call runs once this returns.
void CloseOutputDevice();
// The open output's name for SoundOutputName.
const char* OutputDeviceName();
