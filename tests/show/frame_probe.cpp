// Measures the show as it plays: a host of the show core like quenrik (the
// desktop host, RunShow) with the dialog's defaults instead of the dialog
// (full screen 640 x 480 x 32) and an observer on every presented frame.
// Prints the time from process start to the first frame of the main loop,
// step by step (each host operation of the start-up is timed), and the
// spacing of frames in music time over the first ProbeMs of the show (or
// --until MS), then ends the show there. --windowed: the dialog's windowed
// mode instead of full screen. --log FILE writes each presented
// frame's music time and the steady clock's time (CLOCK_MONOTONIC, ns) just
// after it was presented, one "music_ms steady_ns" line each (for
// tests/sound/measure-av-sync.sh).
//
// "Process start" is the moment the probe was executed: it notes the time
// and executes itself again at once, so that loading the program and its
// libraries is counted too.
// Run it in a directory with data/, under an X server with a 640x480 mode:
//   xvfb-run -a -s "-screen 0 640x480x24" quenrik_frame_probe [--until MS] [--log FILE] [--windowed]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "desktop_host.h"
#include "show_core.h"
#include "window_proc.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* StartedVariable = "QUENRIK_PROBE_STARTED_NS";

std::int32_t ProbeMs = 20000;
Clock::time_point ProcessStart;
double FirstFrameMs = -1.0;
std::vector<std::int32_t> FrameClocks;
std::vector<Clock::time_point> FrameTimes;

// The start-up, as the moments each step ended.
struct StartUpMark {
  const char* step;
  Clock::time_point end;
};
std::vector<StartUpMark> Marks;
ShowHost Real;  // the desktop host's own operations
int LoadGlCalls = 0;
bool LoadingScreenShown = false;

void Mark(const char* step) { Marks.push_back({step, Clock::now()}); }

double Ms(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

void TimedLoadGl() {
  Real.window.LoadGl();
  Mark(++LoadGlCalls == 1 ? "GL libraries" : "GL bound again");
}
void TimedOpenWindowSystem() {
  Real.window.OpenWindowSystem();
  Mark("window system");
}
void TimedCreateWindow() {
  Real.window.CreateWindow();
  Mark("window, display mode");
}
void TimedCreateRenderContext() {
  Real.window.CreateRenderContext();
  Mark("GL context");
}
void TimedPresent() {
  Real.window.Present();
  if (!std::exchange(LoadingScreenShown, true)) Mark("loading screen");
}
bool TimedOpen(const char* file, std::string& error) {
  Mark("pictures, circle table");
  const bool opened = Real.music.Open(file, error);
  Mark("music opened");
  return opened;
}
bool TimedPlay(std::string& error) {
  const bool playing = Real.music.Play(error);
  Mark("music started (first sound)");
  return playing;
}

void FramePresented(std::int32_t musicClock) {
  const Clock::time_point now = Clock::now();
  if (FirstFrameMs < 0) {
    FirstFrameMs = Ms(now - ProcessStart);
    Marks.push_back({"first frame", now});
  }
  FrameClocks.push_back(musicClock);
  FrameTimes.push_back(now);
  if (musicClock >= ProbeMs) ShowWindowProc(ShowMessage::Destroy);
}

// The time the probe was executed: noted, then the probe executes itself
// again with it.
Clock::time_point StartTime(char** argv) {
  if (const char* started = std::getenv(StartedVariable))
    return Clock::time_point(std::chrono::nanoseconds(std::strtoll(started, nullptr, 10)));
  const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
  setenv(StartedVariable, std::to_string(now).c_str(), 1);
  execv("/proc/self/exe", argv);
  return Clock::now();  // could not: count from here
}

void PrintStartUp() {
  std::printf("start-up:");
  Clock::time_point previous = ProcessStart;
  for (const StartUpMark& mark : Marks) {
    std::printf(" %s %.1f,", mark.step, Ms(mark.end - previous));
    previous = mark.end;
  }
  std::printf(" ms\n");
}

}  // namespace

int main(int argc, char** argv) {
  ProcessStart = StartTime(argv);
  Mark("process start to main");
  const char* logPath = nullptr;
  bool windowed = false;
  for (int i = 1; i < argc; ++i) {
    const bool valued = i + 1 < argc;
    if (std::strcmp(argv[i], "--windowed") == 0) windowed = true;
    else if (valued && std::strcmp(argv[i], "--until") == 0) ProbeMs = std::atoi(argv[++i]);
    else if (valued && std::strcmp(argv[i], "--log") == 0) logPath = argv[++i];
  }
  FrameClocks.reserve(10000);
  FrameTimes.reserve(10000);
  Real = DesktopHost();  // no dialog: its defaults
  ShowHost host = Real;
  host.window.LoadGl = TimedLoadGl;
  host.window.OpenWindowSystem = TimedOpenWindowSystem;
  host.window.CreateWindow = TimedCreateWindow;
  host.window.CreateRenderContext = TimedCreateRenderContext;
  host.window.Present = TimedPresent;
  host.music.Open = TimedOpen;
  host.music.Play = TimedPlay;
  host.FramePresented = FramePresented;
  if (windowed) host.settings.Fullscreen = false;
  const int code = RunShow(host);
  if (std::FILE* log = logPath != nullptr ? std::fopen(logPath, "w") : nullptr) {
    for (size_t i = 0; i < FrameClocks.size(); ++i)
      std::fprintf(log, "%d %lld\n", FrameClocks[i],
                   static_cast<long long>(std::chrono::nanoseconds(FrameTimes[i].time_since_epoch()).count()));
    std::fclose(log);
  }
  std::vector<std::int32_t> spacing;
  for (size_t i = 1; i < FrameClocks.size(); ++i) spacing.push_back(FrameClocks[i] - FrameClocks[i - 1]);
  if (spacing.empty()) {
    std::printf("no frames\n");
    return 1;
  }
  std::sort(spacing.begin(), spacing.end());
  auto at = [&](double fraction) { return spacing[std::min(spacing.size() - 1, size_t(fraction * spacing.size()))]; };
  std::printf("first frame after %.0f ms\n", FirstFrameMs);
  PrintStartUp();
  std::printf("frames %zu over %d ms of music: spacing median %d ms, p99 %d ms, longest %d ms, shortest %d ms\n",
              FrameClocks.size(), FrameClocks.back() - FrameClocks.front(), at(0.5), at(0.99), spacing.back(),
              spacing.front());
  return code;
}
