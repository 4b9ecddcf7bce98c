#include "show_core.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gl.h"
#include "image_textures.h"
#include "layers.h"
#include "loading_screen.h"
#include "main_loop.h"
#include "render_state.h"
#include "show_config.h"
#include "show_errors.h"
#include "show_state.h"

namespace {

// The run in progress: its host, and what start-up has taken so far (each
// flag is set before its step, so a step that fails half-way is given back).
struct ShowCoreState {
  ShowHost host{};
  bool running = false;  // between StartShow and the shutdown
  bool glLoaded = false;
  bool windowSystemOpen = false;
  bool windowCreated = false;
  bool contextCreated = false;
  bool musicOpen = false;
};
ShowCoreState Core;

void Call(void (*operation)()) {
  if (operation) operation();
}

// Takes the flag: true once, when it was set.
bool Take(bool& flag) {
  const bool was = flag;
  flag = false;
  return was;
}

void LoadGraphicsLibraries() {
  Core.glLoaded = true;
  Call(Core.host.window.LoadGl);
}

// A null entry point would crash at its first call: name it instead.
void CheckGlBinding() {
  if (const char* missing = FirstMissingEntryPoint())
    ShowErrorAndExit(std::string("OpenGL entry point ") + missing + " not found in " +
                     (std::string_view(missing).starts_with("glu") ? GluLibraryName : GlLibraryName));
}

// Render state, loading screen, textures, circle table.
void PrepareScenes() {
  SwapBuffersHook = Core.host.window.Present;
  SetUpRenderState(Config.ScreenWidth, Config.ScreenHeight);
  if (HwlStatus status = ShowLoadingScreen(); !status) ShowRuntimeErrorAndExit(status);
  if (HwlStatus status = LoadImageTextures(); !status) ShowRuntimeErrorAndExit(status);
  FillCircleTable();
}

void StartMusic() {
  std::string error;
  Core.musicOpen = true;
  if (!Core.host.music.Open(MusicFile, error)) ShowErrorAndExit(error);
  if (!Core.host.music.Play(error)) ShowErrorAndExit(error);
}

void ShutDown() {
  Core.running = false;
  const ShowWindowOps& window = Core.host.window;
  if (Take(Core.musicOpen)) Core.host.music.Close();
  if (Take(Core.contextCreated)) Call(window.ReleaseRenderContext);
  if (Take(Core.windowCreated)) Call(window.DestroyWindow);
  if (Take(Core.windowSystemOpen)) Call(window.CloseWindowSystem);
  if (Take(Core.glLoaded)) Call(window.FreeGl);
}

}  // namespace

bool StartShow(const ShowHost& host) {
  ShutDown();  // whatever an earlier run still holds
  Core = ShowCoreState{};
  Core.host = host;
  Core.running = true;
  LoadGraphicsLibraries();
  SeedShakeRandom(host.Seed());
  Config = host.settings;
  Config.Running = false;
  if (host.Configure) {
    std::string message;
    switch (host.Configure(message)) {
      case DialogOutcome::Go: break;
      case DialogOutcome::Quit: return false;
      case DialogOutcome::Failed: FailShow({{}, message, SetUpFailureExitCode});
    }
  }

  Core.windowSystemOpen = true;
  Call(host.window.OpenWindowSystem);
  Core.windowCreated = true;
  host.window.CreateWindow();
  Core.contextCreated = true;
  host.window.CreateRenderContext();
  // Bound again now that a context is current.
  LoadGraphicsLibraries();
  CheckGlBinding();

  PrepareScenes();
  StartMusic();
  ResetBackgroundState();
  ResetOverlayState();
  ResetMainLoop();
  return true;
}

bool StepShow() { return Core.running && StepMainLoop(Core.host) != LoopStep::Ended; }

int EndShow() {
  ShutDown();
  return 0;
}

int RunShow(const ShowHost& host) {
  if (StartShow(host)) RunMainLoop(Core.host);
  return EndShow();
}

void FailShow(const ShowFailure& failure) {
  const bool hosted = Core.host.ReportFailure != nullptr;
  ShutDown();
  if (!hosted) {
    std::fprintf(stderr, "%s%s%s\n", failure.text.c_str(), failure.detail.empty() ? "" : ": ",
                 failure.detail.c_str());
    std::exit(failure.exitCode);
  }
  std::exit(Core.host.ReportFailure(failure));
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
