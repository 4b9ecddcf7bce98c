// The music module's platform seams: the MP3 decoder and the output device.
// sound.cpp holds the module's logic (streams, clock, errors) and calls only
// these; each platform provides them in its own file (sound_mpg123.cpp and
// sound_sdl.cpp here).
#pragma once

#include <cstdint>
#include <vector>

// Decodes the whole MP3 file at path into interleaved 16-bit stereo PCM at
// SoundMixRate, without the encoder's delay and padding (gapless). Returns 0
// or a SoundError code (9, 10, 11 or 12); pcm is cleared on failure.
int DecodeMp3File(const char* path, std::vector<std::int16_t>& pcm);

// Opens the output device for driver (0, the default device), paused, with
// SoundPeriodFrames-frame periods at SoundMixRate in 16-bit stereo. Once
// started, its own thread calls SoundFillOutput for every period. Returns 0 or
// SoundErrorOutputDevice.
int OpenOutputDevice(int driver);
void StartOutputDevice();
// Stops the device; no SoundFillOutput call runs once this returns.
void CloseOutputDevice();
