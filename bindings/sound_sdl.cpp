// The music module's output over SDL2 audio: the fallback where neither a sound
// server nor ALSA can be opened, and the output of SDL_AUDIODRIVER's choice.
// SDL tells only when it asks for data, not when that data is heard: the
// clock counts each period from its callback and leads what is heard by SDL's
// and the system's buffering.
#include "sound.h"
#include "sound_linux_output.h"

#include <SDL.h>

static SDL_AudioDeviceID OutputDevice = 0;

static void SDLCALL FillDeviceBuffer(void*, Uint8* buffer, int bytes) {
  constexpr int BytesPerFrame = SoundChannelsPerFrame * static_cast<int>(sizeof(std::int16_t));
  SoundFillOutput(reinterpret_cast<std::int16_t*>(buffer), bytes / BytesPerFrame);
}

int OpenSdlOutput() {
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

void StartSdlOutput() { SDL_PauseAudioDevice(OutputDevice, 0); }

void CloseSdlOutput() {
  if (OutputDevice != 0) {
    SDL_CloseAudioDevice(OutputDevice);  // waits for a running callback
    OutputDevice = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
}

const char* SdlDriverName() {
  const char* name = SDL_GetCurrentAudioDriver();
  return name != nullptr ? name : "";
}
