// Which output plays the music on Linux. The clock is only as true as the
// output's knowledge of what is heard: a sound server and ALSA report their
// latency, SDL only when it asks for data. So SoundOutputPlatform tries them
// in that order and takes the first that opens, unless SDL_AUDIODRIVER names
// one of SDL's drivers: that choice (a silent "dummy" on a machine without a
// sound card, "disk"...) is the user's, and SDL alone is used.
#include <array>
#include <cstdlib>
#include <string>

#include "sound.h"
#include "sound_linux_output.h"
#include "sound_platform.h"

namespace {

struct LinuxOutput {
  int output;  // its SoundOutput value
  const char* name;
  int (*Open)();
  void (*Start)();
  void (*Close)();
};

// In SoundOutputPlatform's order of preference.
constexpr std::array<LinuxOutput, 3> Outputs = {{
    {SoundOutputServer, "pulse", OpenServerOutput, StartServerOutput, CloseServerOutput},
    {SoundOutputAlsa, "alsa", OpenAlsaOutput, StartAlsaOutput, CloseAlsaOutput},
    {SoundOutputSdl, "sdl", OpenSdlOutput, StartSdlOutput, CloseSdlOutput},
}};

const LinuxOutput* OpenOutput = nullptr;
std::string OpenName;

bool SdlDriverChosen() {
  const char* driver = std::getenv("SDL_AUDIODRIVER");
  return driver != nullptr && *driver != '\0';
}

int TryOutput(const LinuxOutput& output) {
  if (output.Open() != SoundErrorNone) return SoundErrorOutputDevice;
  OpenOutput = &output;
  OpenName = output.name;
  if (output.output == SoundOutputSdl) OpenName += std::string(" ") + SdlDriverName();
  return SoundErrorNone;
}

}  // namespace

int OpenOutputDevice(int output, int driver) {
  if (driver != 0) return SoundErrorOutputDevice;  // only the default device
  const bool platform = output == SoundOutputPlatform;
  const bool sdlOnly = platform && SdlDriverChosen();
  for (const LinuxOutput& candidate : Outputs) {
    const bool wanted = platform ? (!sdlOnly || candidate.output == SoundOutputSdl) : candidate.output == output;
    if (wanted && TryOutput(candidate) == SoundErrorNone) return SoundErrorNone;
  }
  return SoundErrorOutputDevice;
}

void StartOutputDevice() {
  if (OpenOutput != nullptr) OpenOutput->Start();
}

void CloseOutputDevice() {
  if (OpenOutput != nullptr) OpenOutput->Close();
  OpenOutput = nullptr;
  OpenName.clear();
}

const char* OutputDeviceName() { return OpenName.c_str(); }
