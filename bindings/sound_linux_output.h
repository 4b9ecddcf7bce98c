// The Linux outputs the music module chooses from (sound_linux_output.cpp),
// each in its own file. Each opens paused, starts its own thread on Start and
// stops it on Close, as sound_platform.h describes; Open returns 0 or
// SoundErrorOutputDevice.
#pragma once

// A sound server over PulseAudio's protocol (sound_pulse.cpp).
int OpenServerOutput();
void StartServerOutput();
void CloseServerOutput();

// ALSA's default device (sound_alsa.cpp).
int OpenAlsaOutput();
void StartAlsaOutput();
void CloseAlsaOutput();

// SDL2 audio (sound_sdl.cpp); SdlDriverName is the driver SDL opened.
int OpenSdlOutput();
void StartSdlOutput();
void CloseSdlOutput();
const char* SdlDriverName();
