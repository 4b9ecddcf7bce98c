#include "show_main.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "config_dialog.h"
#include "gl.h"
#include "loading_screen.h"
#include "main_loop.h"
#include "show_config.h"
#include "show_errors.h"
#include "show_startup.h"
#include "show_state.h"
#include "show_platform.h"
#include "sound.h"

namespace {

// What the sound module needs to play the show's music.
constexpr int MusicMixRate = 44100;
constexpr int MusicChannels = 16;
constexpr unsigned MusicOpenMode = 0x2B;  // loop off, 16-bit, stereo, signed: what the stream decodes to
constexpr int AnyChannel = -1;

SoundStream* MusicStream = nullptr;

[[noreturn]] void ShowSoundErrorAndExit() { ShowErrorAndExit(SoundErrorText(SoundGetError())); }

void StartMusic() {
  SoundSetOutput(SoundOutputPlatform);
  SoundSetDriver(0);
  if (!SoundInit(MusicMixRate, MusicChannels, 0)) ShowSoundErrorAndExit();
  MusicStream = SoundStreamOpenFile(MusicFile, MusicOpenMode, 0);
  if (!MusicStream) ShowSoundErrorAndExit();
  if (SoundStreamPlay(AnyChannel, MusicStream) < 0) ShowSoundErrorAndExit();
}

std::uint32_t ClockSeed() {
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count());
}

std::int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int32_t ReadMusicClock() { return SoundStreamGetTime(MusicStream); }
bool MusicFinished() { return SoundStreamFinished(MusicStream); }

void CheckGlBinding() {
  if (const char* missing = FirstMissingEntryPoint())
    ShowErrorAndExit(std::string("OpenGL entry point ") + missing + " not found in " +
                     (std::string_view(missing).starts_with("glu") ? GluLibraryName : GlLibraryName));
}

}  // namespace

int RunShow(void (*framePresented)(std::int32_t musicClock)) {
  LoadGL(GlLibraryName);
  LoadGLU(GluLibraryName);
  SeedShakeRandom(ClockSeed());
  Config = ShowConfig{};

  std::string dialogMessage;
  switch (ShowConfigDialog(dialogMessage)) {
    case DialogOutcome::Go:
      break;
    case DialogOutcome::Quit:
      EndProgram(0);
    case DialogOutcome::Failed:
      std::fprintf(stderr, "quenrik: %s\n", dialogMessage.c_str());
      EndProgram(1);
  }

  RegisterWindowClass();
  CreateShowWindow();
  CreateRenderContext();
  // Bound again now that a context is current.
  LoadGL(GlLibraryName);
  LoadGLU(GluLibraryName);
  CheckGlBinding();

  SwapBuffersHook = SwapShowBuffers;
  if (HwlStatus status = PrepareShow(Config.ScreenWidth, Config.ScreenHeight); !status)
    ShowRuntimeErrorAndExit(status);
  StartMusic();
  ResetShowState();

  const MainLoopPlatform platform{HandleOneMessage, ReadMusicClock, MusicFinished, SwapShowBuffers, SteadyNowMs,
                                  framePresented};
  RunMainLoop(platform);

  SoundStreamClose(MusicStream);
  MusicStream = nullptr;
  SoundClose();
  ReleaseRenderContext();
  DestroyShowWindow();
  ClosePlatform();
  FreeGLU();
  FreeGL();
  return 0;
}
