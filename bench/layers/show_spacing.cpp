// Frame spacing of the whole show in music time: the real start-up and main
// loop (the desktop host, RunShow) with the dialog's defaults (full screen
// 640 x 480 x 32) and an observer on every presented frame, from 0 to 67000 ms. Prints the spacing
// over the show and per layer pair of the timeline; the layers step per
// frame, so every frame later than 15 ms makes the show fall behind its music.
//   cd <repository> && SDL_AUDIODRIVER=dummy xvfb-run -a -s "-screen 0 640x480x24" show_spacing
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "desktop_host.h"
#include "show_core.h"
#include "timeline.h"

namespace {

std::vector<std::int32_t> FrameClocks;

void FramePresented(std::int32_t musicClock) { FrameClocks.push_back(musicClock); }

struct Spread {
  std::size_t count = 0;
  int median = 0, p99 = 0, longest = 0;
  double mean = 0;
};

Spread Summarise(std::vector<int> spacing) {
  Spread s;
  if (spacing.empty()) return s;
  std::sort(spacing.begin(), spacing.end());
  const auto at = [&](double fraction) {
    return spacing[std::min(spacing.size() - 1, static_cast<std::size_t>(fraction * spacing.size()))];
  };
  s.count = spacing.size();
  s.median = at(0.5);
  s.p99 = at(0.99);
  s.longest = spacing.back();
  double total = 0;
  for (int v : spacing) total += v;
  s.mean = total / spacing.size();
  return s;
}

void Print(const std::string& label, const Spread& s) {
  std::printf("%-28s frames %5zu  median %3d ms  mean %6.1f ms  p99 %3d ms  longest %4d ms\n", label.c_str(),
              s.count, s.median, s.mean, s.p99, s.longest);
}

}  // namespace

int main() {
  ShowHost host = DesktopHost();  // no dialog: its defaults
  host.FramePresented = FramePresented;
  const int code = RunShow(host);
  if (FrameClocks.size() < 2) {
    std::printf("no frames\n");
    return 1;
  }
  // Each spacing is charged to the layers of the frame that began it.
  std::vector<int> all;
  std::map<std::string, std::vector<int>> byLayers;
  for (std::size_t i = 1; i < FrameClocks.size(); ++i) {
    const int spacing = FrameClocks[i] - FrameClocks[i - 1];
    all.push_back(spacing);
    const TimelineWindow& w = TimelineWindowAt(FrameClocks[i - 1]);
    byLayers[std::string(w.backgroundName) + " + " + w.overlayName].push_back(spacing);
  }
  std::printf("music %d ... %d ms\n", FrameClocks.front(), FrameClocks.back());
  Print("whole show", Summarise(all));
  for (const auto& [layers, spacing] : byLayers) Print(layers, Summarise(spacing));
  return code;
}
