// Measures the show as it plays: a host of the show core like quenrik (the
// desktop host, RunShow) with the dialog's defaults instead of the dialog
// (full screen 640 x 480 x 32) and an observer on every presented frame.
// Prints the time from process start to the first frame of the main loop and
// the spacing of frames in music time over the first ProbeMs of the show (or
// --until MS), then ends the show there. --log FILE writes each presented
// frame's music time and the steady clock's time (CLOCK_MONOTONIC, ns) just
// after it was presented, one "music_ms steady_ns" line each (for
// tests/sound/measure-av-sync.sh).
// Run it in a directory with data/, under an X server with a 640x480 mode:
//   xvfb-run -a -s "-screen 0 640x480x24" quenrik_frame_probe [--until MS] [--log FILE]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "desktop_host.h"
#include "show_core.h"
#include "window_proc.h"

namespace {

std::int32_t ProbeMs = 20000;
const auto ProcessStart = std::chrono::steady_clock::now();
double FirstFrameMs = -1.0;
std::vector<std::int32_t> FrameClocks;
std::vector<std::chrono::steady_clock::time_point> FrameTimes;

void FramePresented(std::int32_t musicClock) {
  const auto now = std::chrono::steady_clock::now();
  if (FirstFrameMs < 0) FirstFrameMs = std::chrono::duration<double, std::milli>(now - ProcessStart).count();
  FrameClocks.push_back(musicClock);
  FrameTimes.push_back(now);
  if (musicClock >= ProbeMs) ShowWindowProc(ShowMessage::Destroy);
}

}  // namespace

int main(int argc, char** argv) {
  const char* logPath = nullptr;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--until") == 0) ProbeMs = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--log") == 0) logPath = argv[i + 1];
  }
  FrameClocks.reserve(10000);
  FrameTimes.reserve(10000);
  ShowHost host = DesktopHost();  // no dialog: its defaults
  host.FramePresented = FramePresented;
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
  std::printf("frames %zu over %d ms of music: spacing median %d ms, p99 %d ms, longest %d ms, shortest %d ms\n",
              FrameClocks.size(), FrameClocks.back() - FrameClocks.front(), at(0.5), at(0.99), spacing.back(),
              spacing.front());
  return code;
}
