// Working memory of a piece of code, measured by a counting replacement of
// the global operator new. Link counting_allocator.cpp into a test program of
// its own (it replaces the allocator of the whole program) and measure with
// a PeakMeter.
#pragma once

#include <cstddef>

namespace counting {

// Bytes currently allocated through operator new.
std::size_t CurrentBytes();

// The highest allocation level reached since the meter was made, above the
// level at that time. One meter at a time.
struct PeakMeter {
  std::size_t base;
  PeakMeter();
  std::size_t Extra() const;
};

}  // namespace counting
