// Splitting a decoding stage over threads.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "hwl_format.h"
#include "hwl_precision.h"

// A WebAssembly build without threads has none to start, and cannot catch
// the failure to start one (it aborts): its decodes run on the calling thread.
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
constexpr bool HwlHaveThreads = false;
#else
constexpr bool HwlHaveThreads = true;
#endif

// Helper threads kept for one decoding call: a stage hands parts 1 .. n - 1
// to them and waits, instead of starting a thread per part (a decode has
// some twenty stages, and starting threads for each cost about as much as a
// 512 x 512 picture's stages gain from them).
struct HwlTeam {
  std::mutex mutex;
  std::condition_variable wake, finished;
  std::vector<std::thread> helpers;  // helper i runs part i + 1
  void (*call)(const void*, int) = nullptr;
  const void* work = nullptr;
  int parts = 0;
  int pending = 0;
  std::uint64_t round = 0;
  bool stop = false;
  // The decode's cancel flag: stages look at it every row or so and return
  // early, leaving their output unfinished.
  const std::atomic<bool>* cancel = nullptr;

  // Starts up to threads - 1 helpers; fewer when a thread cannot be started.
  explicit HwlTeam(int threads) {
    for (int i = 1; HwlHaveThreads && i < threads; ++i) {
      try {
        helpers.emplace_back([this, i] { Serve(i); });
      } catch (const std::exception&) {
        break;
      }
    }
  }
  ~HwlTeam() {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    wake.notify_all();
    for (std::thread& t : helpers) t.join();
  }
  int Size() const { return int(helpers.size()) + 1; }
  bool Cancelled() const { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }
  HwlTeam(const HwlTeam&) = delete;
  HwlTeam& operator=(const HwlTeam&) = delete;

  void Serve(int part) {
    const HwlExtendedPrecision precision;  // a new thread may start at 53 bits
    std::uint64_t seen = 0;
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex);
      wake.wait(lock, [&] { return stop || round != seen; });
      if (stop) return;
      seen = round;
      const bool mine = part < parts;
      lock.unlock();
      if (mine) call(work, part);
      lock.lock();
      if (--pending == 0) finished.notify_one();
    }
  }

  // Runs w(0 .. n - 1): the calling thread takes part 0 and every part that
  // has no helper.
  template <typename Work>
  void Run(int n, const Work& w) {
    const int helped = std::min<int>(n - 1, int(helpers.size()));
    if (helped > 0) {
      {
        const std::lock_guard<std::mutex> lock(mutex);
        call = [](const void* c, int part) { (*static_cast<const Work*>(c))(part); };
        work = &w;
        parts = n;
        pending = int(helpers.size());
        ++round;
      }
      wake.notify_all();
    }
    w(0);
    for (int part = helped + 1; part < n; ++part) w(part);
    if (helped > 0) {
      std::unique_lock<std::mutex> lock(mutex);
      finished.wait(lock, [&] { return pending == 0; });
    }
  }
};

// Range [first, last) of part `part` when `count` items are split in `parts`.
struct PartRange {
  std::size_t first, last;
};
inline PartRange PartOf(std::size_t count, int part, int parts) {
  return {count * part / parts, count * (part + 1) / parts};
}

// Items below which a second thread costs more than it saves.
constexpr std::size_t MinItemsPerThread = std::size_t{1} << 15;

inline int PartsFor(std::size_t items, int threads) {
  const std::size_t parts = items / MinItemsPerThread;
  return parts < 1 ? 1 : parts < std::size_t(threads) ? int(parts) : threads;
}

// Receives each finished piece of a row of a plane's last synthesis step
// (samples [first, first + count) of row `row`) while it is still in the
// cache.
struct HwlRowSink {
  void (*call)(const void* context, int row, int first, int count, const double* samples) = nullptr;
  const void* context = nullptr;
};

// Where the loader's synthesis puts a plane: the byte SampleToByte gives
// each sample of its last step, made without the sample itself (the bytes
// are the same). Grey pictures and the first two planes of a colour one:
// rows of `width` bytes from `bytes` on. The last plane of a colour
// picture, given the bytes of the two before as `second` and `third` (rows
// of `width` bytes): rows of `width` little-endian 32-bit words from
// `bytes` on, each its own byte, second's, third's and 0.
struct HwlPixelRows {
  std::uint8_t* bytes = nullptr;
  const std::uint8_t* second = nullptr;
  const std::uint8_t* third = nullptr;
};

// Where the synthesis reads a plane's bands: the integer coefficients with
// each band's factor (HwlBandFactor of its scale; the values are the
// coefficients times their factors, as dequantisation rounds them), or a
// dequantised plane of doubles. Either is width x height, row-major.
struct HwlPlaneValues {
  const std::int16_t* coefficients = nullptr;
  std::array<double, HwlMaxBands> factors{};
  const double* samples = nullptr;
};

// The synthesis's working memory for planes of one size (new throws
// std::bad_alloc): the results of the coarser steps, alternately in a
// (W/2 x H/2) and a (W/4 x H/4) buffer, and per part of a step two rows of
// the vertical pass (with margins) and a piece of output row. Parts never
// outnumber a step's pairs of rows, so the rows cost at most 8 bytes per
// pixel of the plane, reached by images two rows high; for larger ones they
// are a few rows of doubles per thread.
// A buffer kept between decodes that only ever grows: Fit(n) keeps it when
// it holds n items already, else frees it and then allocates n (new throws
// std::bad_alloc; the buffer is then empty).
template <class T>
struct HwlBuffer {
  std::unique_ptr<T[]> data;
  std::size_t capacity = 0;
  T* Fit(std::size_t n) {
    if (capacity < n) {
      data.reset();
      capacity = 0;
      data.reset(new T[n]);
      capacity = n;
    }
    return data.get();
  }
  std::size_t Bytes() const { return capacity * sizeof(T); }
};

struct HwlSynthesisMemory {
  HwlBuffer<double> steps[2];
  std::vector<std::unique_ptr<double[]>> rows;  // one per part, all of rowLines lines of rowWidth
  int rowWidth = 0, rowLines = 0;
  std::size_t Bytes() const;
};
// Makes `memory` fit planes of this size, keeping the buffers it already
// holds where they are large enough.
void PrepareSynthesis(HwlSynthesisMemory& memory, int width, int height, int levels, int threads);
HwlSynthesisMemory AllocateSynthesis(int width, int height, int levels, int threads);

// Inverse Haar synthesis of one plane, levels + 1 steps from the coarsest
// block to the full plane, with the smoothing of zero details; the rows of
// the last step go to the sink, or as bytes to the pixels. The result does
// not depend on the number of threads. Returns early (the sink or the
// pixels then have part of the plane) when the team's cancel flag is set.
void SynthesisePlane(const HwlPlaneValues& values, int width, int height, int levels, HwlSynthesisMemory& memory,
                     HwlTeam& team, HwlRowSink sink);
void SynthesisePlane(const HwlPlaneValues& values, int width, int height, int levels, HwlSynthesisMemory& memory,
                     HwlTeam& team, const HwlPixelRows& pixels);
