#include "counting_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "global_allocation.h"

namespace {

std::atomic<std::size_t> Current{0};
std::atomic<std::size_t> Peak{0};

// Each block carries its size in front, kept 16-byte aligned.
constexpr std::size_t Prefix = 16;

void* Allocate(std::size_t n) {
  void* raw = std::malloc(n + Prefix);
  if (!raw) throw std::bad_alloc();
  *static_cast<std::size_t*>(raw) = n;
  const std::size_t now = Current += n;
  std::size_t peak = Peak;
  while (now > peak && !Peak.compare_exchange_weak(peak, now)) {
  }
  return static_cast<char*>(raw) + Prefix;
}

void Free(void* p) {
  if (!p) return;
  void* raw = static_cast<char*>(p) - Prefix;
  Current -= *static_cast<std::size_t*>(raw);
  std::free(raw);
}

}  // namespace

namespace counting {

std::size_t CurrentBytes() { return Current; }

PeakMeter::PeakMeter() : base(Current) { Peak = base; }

std::size_t PeakMeter::Extra() const { return Peak - base; }

}  // namespace counting

QUENRIK_REPLACE_GLOBAL_ALLOCATION(Allocate, Free)
