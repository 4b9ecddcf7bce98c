// The music module's platform seams: the MP3 decoder and the output device.
// sound.cpp holds the module's logic (streams, clock, errors) and calls only
// these; each platform provides them in its own files (on Linux
// sound_mpg123.cpp and sound_linux_output.cpp with the outputs it chooses
// from; on Windows sound_win32_acm.cpp and sound_win32_waveout.cpp).
#pragma once

#include <cstdint>
#include <vector>

// Decodes the whole MP3 file at path into interleaved 16-bit stereo PCM at
// SoundMixRate, without the encoder's delay and padding (gapless). Returns 0
// or a SoundError code (9, 10, 11 or 12); pcm is cleared on failure.
int DecodeMp3File(const char* path, std::vector<std::int16_t>& pcm);

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
