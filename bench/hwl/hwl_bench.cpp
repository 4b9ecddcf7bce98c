// Decoding speed of the same natural-looking colour picture (512 x 512 and
// 2048 x 2048): the HWL decoder on one and two threads, the plain reference
// decoder, and libjpeg-turbo on a quality-90 JPEG. Counter "MP/s" is
// megapixels per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

#include "hwl.h"
#include "hwl_oracle.h"
#include "hwl_test_writer.h"
#if HWL_BENCH_JPEG
#include <turbojpeg.h>
#endif

namespace {

struct Picture {
  std::vector<std::uint8_t> rgb;  // interleaved R, G, B
  std::vector<std::uint8_t> hwl;
  std::vector<std::uint8_t> jpeg;
};

// Levels 4 and 8-bit values, the usual settings for photographs.
const Picture& PictureOfSize(int side) {
  static std::map<int, Picture> cache;
  auto [it, added] = cache.try_emplace(side);
  Picture& p = it->second;
  if (!added) return p;
  const auto planes = testhwl::Picture(side, side);
  p.rgb.resize(std::size_t(side) * side * 3);
  for (std::size_t i = 0; i < planes[0].size(); ++i)
    for (int c = 0; c < 3; ++c) p.rgb[3 * i + c] = std::uint8_t(planes[c][i] + 0.5);
  const HwlStatus s = EncodeHwlImage(p.rgb, side, side, 3, {4, 8}, p.hwl);
  if (!s) p.hwl = testhwl::Write(testhwl::Analyse(planes, side, side, 4, 8));
#if HWL_BENCH_JPEG
  tjhandle tj = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  if (tjCompress2(tj, p.rgb.data(), side, 0, side, TJPF_RGB, &out, &size, TJSAMP_420, 90, 0) == 0)
    p.jpeg.assign(out, out + size);
  tjFree(out);
  tjDestroy(tj);
#endif
  return p;
}

void SetRate(benchmark::State& state, int side) {
  state.counters["MP/s"] = benchmark::Counter(double(side) * side / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void HwlDecode(benchmark::State& state) {
  const int side = int(state.range(0)), threads = int(state.range(1));
  const Picture& p = PictureOfSize(side);
  std::vector<std::uint8_t> pixels;
  HwlHeader header;
  for (auto _ : state) {
    const HwlStatus s = DecodeHwlImage(p.hwl, pixels, header, "bench", true, threads);
    if (!s) state.SkipWithError(s.message.c_str());
    benchmark::DoNotOptimize(pixels.data());
  }
  SetRate(state, side);
  state.counters["file_bytes"] = double(p.hwl.size());
}

void ReferenceDecode(benchmark::State& state) {
  const int side = int(state.range(0));
  const Picture& p = PictureOfSize(side);
  std::vector<std::uint8_t> pixels;
  HwlHeader header;
  for (auto _ : state) {
    oracle::Decode(p.hwl, header, pixels);
    benchmark::DoNotOptimize(pixels.data());
  }
  SetRate(state, side);
}

#if HWL_BENCH_JPEG
void JpegDecode(benchmark::State& state) {
  const int side = int(state.range(0));
  const Picture& p = PictureOfSize(side);
  std::vector<std::uint8_t> pixels(std::size_t(side) * side * 4);
  tjhandle tj = tjInitDecompress();
  for (auto _ : state) {
    if (tjDecompress2(tj, p.jpeg.data(), p.jpeg.size(), pixels.data(), side, 0, side, TJPF_BGRX, 0) != 0)
      state.SkipWithError(tjGetErrorStr2(tj));
    benchmark::DoNotOptimize(pixels.data());
  }
  tjDestroy(tj);
  SetRate(state, side);
  state.counters["file_bytes"] = double(p.jpeg.size());
}
BENCHMARK(JpegDecode)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

BENCHMARK(HwlDecode)->Args({512, 1})->Args({512, 2})->Args({2048, 1})->Args({2048, 2})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReferenceDecode)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
