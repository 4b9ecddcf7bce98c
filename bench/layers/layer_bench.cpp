// Cost of one frame of each layer family with Mesa's llvmpipe in a headless
// context, at the show's smallest and largest window sizes. Each iteration
// draws the frame and waits for it (glFinish), as a buffer swap would.
// Run from the repository folder (the pictures are read from data/), or set
// QUENRIK_DATA_ROOT to a folder that holds data/.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "gl.h"
#include "layers.h"
#include "show_render.h"
#include "show_state.h"

namespace {

// One context at a time (EGL's surfaceless display is shared): reopened only
// when the size changes.
ShowRender Show;
std::string OpenError;

bool EnsureShow(benchmark::State& state, int width, int height) {
  if (!Show.context || Show.width != width || Show.height != height) {
    const char* root = std::getenv("QUENRIK_DATA_ROOT");
    OpenError = OpenShowRender(Show, width, height, root ? root : QUENRIK_SOURCE_ROOT);
  }
  if (!OpenError.empty()) {
    state.SkipWithError(OpenError.c_str());
    return false;
  }
  return true;
}

// The stack fully faded in, cards at a resting place with a fresh float phase.
void SteadyState() {
  StartShowState();
  Background.LayerAlpha = 1.0;
  Background.Spread = 1.0;
  Overlay.CardPosition = {0.0, 0.0};
}

void RunFrames(benchmark::State& state, void (*background)(), void (*overlay)()) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  if (!EnsureShow(state, width, height)) return;
  SteadyState();
  for (auto _ : state) {
    if (background) background();
    if (overlay) {
      overlay();
      Overlay.PhaseA = 2;  // keep the card resting and its float index small
      Overlay.PhaseB = 2;
    }
    gl::glFinish();
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BackgroundB1(benchmark::State& state) { RunFrames(state, B1, nullptr); }
void BackgroundB7(benchmark::State& state) { RunFrames(state, B7, nullptr); }
void TextCard(benchmark::State& state) { RunFrames(state, nullptr, EnterText5); }
void BackgroundAndCard(benchmark::State& state) { RunFrames(state, B7, EnterText5); }
void ClosingPageFrame(benchmark::State& state) { RunFrames(state, nullptr, ClosingPage); }

void Sizes(benchmark::internal::Benchmark* b) {
  b->Args({640, 480})->Args({1024, 768})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BackgroundB1)->Apply(Sizes);
BENCHMARK(BackgroundB7)->Apply(Sizes);
BENCHMARK(TextCard)->Apply(Sizes);
BENCHMARK(BackgroundAndCard)->Apply(Sizes);
BENCHMARK(ClosingPageFrame)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
