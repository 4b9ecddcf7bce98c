#include "desktop_host.h"

#include <cstdio>

#include "gl.h"
#include "show_core.h"
#include "show_platform.h"
#include "sound.h"

namespace {

// What the sound module needs to play the show's music.
constexpr int MusicMixRate = 44100;
constexpr int MusicChannels = 16;
constexpr unsigned MusicOpenMode = 0x2B;  // loop off, 16-bit, stereo, signed: what the stream decodes to
constexpr int AnyChannel = -1;

constexpr const char* ErrorCaption = "Error";

struct DesktopState {
  SoundStream* stream = nullptr;
};
DesktopState Desktop;

// Results are ignored: a missing entry point is reported by name later.
void LoadGlByName() {
  LoadGL(GlLibraryName);
  LoadGLU(GluLibraryName);
}

void FreeGlLibraries() {
  FreeGLU();
  FreeGL();
}

std::string SoundFailure() { return SoundErrorText(SoundGetError()); }

bool OpenMusic(const char* file, std::string& error) {
  SoundSetOutput(SoundOutputPlatform);
  SoundSetDriver(0);
  if (!SoundInit(MusicMixRate, MusicChannels, 0)) {
    error = SoundFailure();
    return false;
  }
  Desktop.stream = SoundStreamOpenFile(file, MusicOpenMode, 0);
  if (!Desktop.stream) error = SoundFailure();
  return Desktop.stream != nullptr;
}

bool PlayMusic(std::string& error) {
  if (SoundStreamPlay(AnyChannel, Desktop.stream) >= 0) return true;
  error = SoundFailure();
  return false;
}

std::int32_t MusicClockNow() { return SoundStreamGetTime(Desktop.stream); }
bool MusicFinished() { return SoundStreamFinished(Desktop.stream); }

void CloseMusic() {
  if (Desktop.stream) SoundStreamClose(Desktop.stream);
  Desktop.stream = nullptr;
  SoundClose();
}

// The box comes last: the display mode is back, the music has stopped and the
// window system is closed, which also gives the signals their usual action
// back, so a signal still ends a program that waits in its box.
int ReportFailure(const ShowFailure& failure) {
  if (!failure.detail.empty()) std::fprintf(stderr, "quenrik: %s\n", failure.detail.c_str());
  if (!failure.text.empty()) std::fprintf(stderr, "%s: %s\n", ErrorCaption, failure.text.c_str());
  std::fflush(stderr);
  if (!failure.text.empty()) ShowErrorBox(ErrorCaption, failure.text);
  return failure.exitCode;
}

}  // namespace

ShowHost DesktopHost() {
  Desktop = DesktopState{};
  StartPlatform();
  return ShowHost{.window = {.LoadGl = LoadGlByName,
                             .FreeGl = FreeGlLibraries,
                             .OpenWindowSystem = RegisterWindowClass,
                             .CreateWindow = CreateShowWindow,
                             .CreateRenderContext = CreateRenderContext,
                             .ReleaseRenderContext = ReleaseRenderContext,
                             .DestroyWindow = DestroyShowWindow,
                             .CloseWindowSystem = ClosePlatform,
                             .HandleOneMessage = HandleOneMessage,
                             .Present = SwapShowBuffers},
                  .music = {OpenMusic, PlayMusic, MusicClockNow, MusicFinished, CloseMusic},
                  .SteadyNowMs = SteadyNowMs,
                  .Seed = ClockSeed,
                  .ReportFailure = ReportFailure,
                  .stop = PlatformStopFlag()};
}
