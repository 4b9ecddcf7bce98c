// Splitting a decoding stage over threads.
#pragma once

#include <exception>
#include <thread>
#include <vector>

// Runs work(0 .. parts - 1), the calling thread taking part 0. A part whose
// thread cannot be started runs on the calling thread, so the work is always
// done completely.
template <typename Work>
void RunParts(int parts, const Work& work) {
  if (parts <= 1) {
    work(0);
    return;
  }
  std::vector<std::thread> helpers;
  std::vector<int> leftOver;
  for (int i = 1; i < parts; ++i) {
    try {
      helpers.emplace_back(work, i);
    } catch (const std::exception&) {
      leftOver.push_back(i);
    }
  }
  work(0);
  for (const int i : leftOver) work(i);
  for (std::thread& t : helpers) t.join();
}

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
