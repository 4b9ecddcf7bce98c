// Decoding speed of the same natural-looking colour picture (512 x 512 and
// 2048 x 2048), and of two of the show's own pictures (data/text_5.hwl and
// data/zem_logo.hwl: light on black, mostly zero details): the HWL decoder
// on one and two threads, the plain reference decoder, and libjpeg-turbo on
// a quality-90 JPEG of the same pixels. Counter "MP/s" is megapixels per
// second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

#include "hwl.h"
#include "hwl_decode.h"
#include "hwl_oracle.h"
#include "hwl_test_writer.h"
#if HWL_BENCH_JPEG
#include <turbojpeg.h>
#define TJPF_RGB_OR_ZERO TJPF_RGB
#define TJPF_BGRX_OR_ZERO TJPF_BGRX
#else
#define TJPF_RGB_OR_ZERO 0
#define TJPF_BGRX_OR_ZERO 0
#endif

namespace {

struct Picture {
  std::vector<std::uint8_t> rgb;  // interleaved R, G, B
  std::vector<std::uint8_t> hwl;
  std::vector<std::uint8_t> jpeg;
};

void EncodeJpeg(Picture& p, int width, int height, int pixelFormat) {
#if HWL_BENCH_JPEG
  tjhandle tj = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  if (tjCompress2(tj, p.rgb.data(), width, 0, height, pixelFormat, &out, &size, TJSAMP_420, 90, 0) == 0)
    p.jpeg.assign(out, out + size);
  tjFree(out);
  tjDestroy(tj);
#else
  (void)p, (void)width, (void)height, (void)pixelFormat;
#endif
}

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
  EncodeJpeg(p, side, side, TJPF_RGB_OR_ZERO);
  return p;
}

// The show's pictures, by benchmark argument; rgb holds the decoded BGRX
// pixels (the JPEG's input). Empty when the file cannot be read or decoded.
constexpr const char* ShowPictures[] = {"text_5.hwl", "zem_logo.hwl"};
const Picture& ShowPicture(int index, HwlHeader& header) {
  static std::map<int, std::pair<Picture, HwlHeader>> cache;
  auto [it, added] = cache.try_emplace(index);
  auto& [p, h] = it->second;
  header = h;
  if (!added) return p;
  std::ifstream in(std::string(HWL_BENCH_DATA_DIR) + "/" + ShowPictures[index], std::ios::binary);
  p.hwl.assign(std::istreambuf_iterator<char>(in), {});
  if (!DecodeHwlImage(p.hwl, p.rgb, h, "bench", true, 1) || h.bitsPerPixel != 24) {
    p.hwl.clear();
    return p;
  }
  header = h;
  EncodeJpeg(p, h.width, h.height, TJPF_BGRX_OR_ZERO);
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

// The show's pictures: argument 0 = text_5, 1 = zem_logo; threads for HWL.
void ShowHwlDecode(benchmark::State& state) {
  HwlHeader h;
  const Picture& p = ShowPicture(int(state.range(0)), h);
  if (p.hwl.empty()) return state.SkipWithError("picture not found or not a colour picture");
  state.SetLabel(ShowPictures[state.range(0)]);
  std::vector<std::uint8_t> pixels;
  HwlHeader header;
  for (auto _ : state) {
    const HwlStatus s = DecodeHwlImage(p.hwl, pixels, header, "bench", true, int(state.range(1)));
    if (!s) state.SkipWithError(s.message.c_str());
    benchmark::DoNotOptimize(pixels.data());
  }
  state.counters["MP/s"] = benchmark::Counter(double(h.width) * h.height / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["file_bytes"] = double(p.hwl.size());
}

void ShowReferenceDecode(benchmark::State& state) {
  HwlHeader h;
  const Picture& p = ShowPicture(int(state.range(0)), h);
  if (p.hwl.empty()) return state.SkipWithError("picture not found or not a colour picture");
  state.SetLabel(ShowPictures[state.range(0)]);
  std::vector<std::uint8_t> pixels;
  HwlHeader header;
  for (auto _ : state) {
    oracle::Decode(p.hwl, header, pixels);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.counters["MP/s"] = benchmark::Counter(double(h.width) * h.height / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

#if HWL_BENCH_JPEG
void ShowJpegDecode(benchmark::State& state) {
  HwlHeader h;
  const Picture& p = ShowPicture(int(state.range(0)), h);
  if (p.jpeg.empty()) return state.SkipWithError("picture not found or not a colour picture");
  state.SetLabel(ShowPictures[state.range(0)]);
  std::vector<std::uint8_t> pixels(std::size_t(h.width) * h.height * 4);
  tjhandle tj = tjInitDecompress();
  for (auto _ : state) {
    if (tjDecompress2(tj, p.jpeg.data(), p.jpeg.size(), pixels.data(), int(h.width), 0, int(h.height), TJPF_BGRX, 0) != 0)
      state.SkipWithError(tjGetErrorStr2(tj));
    benchmark::DoNotOptimize(pixels.data());
  }
  tjDestroy(tj);
  state.counters["MP/s"] = benchmark::Counter(double(h.width) * h.height / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["file_bytes"] = double(p.jpeg.size());
}
BENCHMARK(ShowJpegDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif
BENCHMARK(ShowHwlDecode)->Args({0, 1})->Args({0, 2})->Args({1, 1})->Args({1, 2})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ShowReferenceDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The decoder's arithmetic paths on one thread (same output): argument 0
// picks the picture (0 the natural 512 x 512, 1 text_5, 2 zem_logo), 1 the path.
void HwlDecodePath(benchmark::State& state) {
  const int picture = int(state.range(0));
  HwlHeader h;
  const Picture& p = picture == 0 ? PictureOfSize(512) : ShowPicture(picture - 1, h);
  if (p.hwl.empty()) return state.SkipWithError("picture not found or not a colour picture");
  const HwlPath& path = HwlPaths[state.range(1)];
  state.SetLabel(std::string(picture == 0 ? "natural" : ShowPictures[picture - 1]) + ", " + path.name);
  HwlUseX87 = path.x87;
  HwlUseCpuExtensions = path.cpuExtensions;
  std::vector<std::uint8_t> pixels;
  HwlHeader header;
  for (auto _ : state) {
    const HwlStatus s = DecodeHwlImage(p.hwl, pixels, header, "bench", true, 1);
    if (!s) state.SkipWithError(s.message.c_str());
    benchmark::DoNotOptimize(pixels.data());
  }
  HwlUseX87 = HwlUseCpuExtensions = true;
  state.counters["MP/s"] = benchmark::Counter(double(header.width) * header.height / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(HwlDecodePath)->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3}})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(HwlDecode)->Args({512, 1})->Args({512, 2})->Args({2048, 1})->Args({2048, 2})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReferenceDecode)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
