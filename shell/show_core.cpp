#include "show_core.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

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

// What start-up takes, in the order the shutdown gives it back.
enum Holding { Music, RenderContext, Window, WindowSystem, GraphicsLibraries, HoldingCount };

// The run in progress: its host, and what start-up has taken so far (each is
// marked before its step, so a step that fails half-way is given back too).
struct ShowCoreState {
  ShowHost host{};
  bool running = false;  // between StartShow and the shutdown
  std::array<bool, HoldingCount> held{};
};
ShowCoreState Core;

void Call(void (*operation)()) {
  if (operation) operation();
}

void Take(Holding what) { Core.held[what] = true; }

void LoadGraphicsLibraries() {
  Take(GraphicsLibraries);
  Call(Core.host.window.LoadGl);
}

// A null entry point would crash at its first call: name it instead.
void CheckGlBinding() {
  if (const char* missing = FirstMissingEntryPoint())
    ShowErrorAndExit(std::string("OpenGL entry point ") + missing + " not found in " +
                     (std::string_view(missing).starts_with("glu") ? GluLibraryName : GlLibraryName));
}

bool StopRequested() { return Core.host.stop && Core.host.stop->load(); }

// Render state, loading screen, textures, circle table. False when the
// program was asked to stop meanwhile: the show then ends without a frame.
bool PrepareScenes() {
  SwapBuffersHook = Core.host.window.Present;
  SetUpRenderState(Config.ScreenWidth, Config.ScreenHeight);
  // A query, changing nothing drawn: pictures the context cannot take are
  // reported by name.
  PictureLimits.maxTextureSide = QueryMaxTextureSide();
  if (HwlStatus status = ShowLoadingScreen(); !status) {
    if (StopRequested()) return false;
    ShowRuntimeErrorAndExit(status);
  }
  if (HwlStatus status = LoadImageTextures(); !status) {
    if (StopRequested()) return false;
    ShowRuntimeErrorAndExit(status);
  }
  FillCircleTable();
  return true;
}

void StartMusic() {
  std::string error;
  Take(Music);
  if (!Core.host.music.Open(MusicFile, error)) ShowErrorAndExit(error);
  if (!Core.host.music.Play(error)) ShowErrorAndExit(error);
}

void ShutDown() {
  Core.running = false;
  StopDecodingPictures();
  const ShowHost& host = Core.host;
  void (*const release[HoldingCount])() = {host.music.Close, host.window.ReleaseRenderContext,
                                            host.window.DestroyWindow, host.window.CloseWindowSystem,
                                            host.window.FreeGl};
  for (int what = 0; what < HoldingCount; ++what)
    if (std::exchange(Core.held[what], false)) Call(release[what]);
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

  // The pictures decode while the window, the display mode and the context
  // are made; they are taken, and uploaded, in the order the show draws them.
  PictureLimits = {.stop = host.stop};
  StartDecodingPictures();
  Take(WindowSystem);
  Call(host.window.OpenWindowSystem);
  Take(Window);
  host.window.CreateWindow();
  Take(RenderContext);
  host.window.CreateRenderContext();
  // Bound again now that a context is current.
  LoadGraphicsLibraries();
  CheckGlBinding();

  if (!PrepareScenes()) return false;
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
