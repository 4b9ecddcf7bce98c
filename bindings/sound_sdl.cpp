// The music module's output device over SDL2 audio.
#include "sound.h"
#include "sound_platform.h"

#include <SDL.h>

static SDL_AudioDeviceID OutputDevice = 0;

static void SDLCALL FillDeviceBuffer(void*, Uint8* buffer, int bytes) {
  constexpr int BytesPerFrame = SoundChannelsPerFrame * static_cast<int>(sizeof(std::int16_t));
  SoundFillOutput(reinterpret_cast<std::int16_t*>(buffer), bytes / BytesPerFrame);
}

int OpenOutputDevice(int driver) {
  (void)driver;  // only the default device
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    return SoundErrorOutputDevice;
  }
  SDL_AudioSpec wanted{};
  wanted.freq = SoundMixRate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = SoundChannelsPerFrame;
  wanted.samples = SoundPeriodFrames;
  wanted.callback = FillDeviceBuffer;
  // No changes allowed: where the hardware differs SDL converts, and the
  // callback still sees 44.1 kHz 16-bit stereo in 1024-frame periods.
  SDL_AudioSpec obtained{};
  OutputDevice = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
  if (OutputDevice == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return SoundErrorOutputDevice;
  }
  return SoundErrorNone;
}

void StartOutputDevice() { SDL_PauseAudioDevice(OutputDevice, 0); }

void CloseOutputDevice() {
  if (OutputDevice != 0) {
    SDL_CloseAudioDevice(OutputDevice);  // waits for a running callback
    OutputDevice = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
}
