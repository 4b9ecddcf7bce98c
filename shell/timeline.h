// The timeline: which layers draw at which music time.
#pragma once

#include <array>
#include <cstdint>
#include <limits>

using Layer = void (*)();

struct TimelineWindow {
  std::int32_t from;  // music time in ms, both bounds inclusive
  std::int32_t to;
  Layer background;  // null: none
  const char* backgroundName;  // "-" for none
  Layer overlay;     // null: none
  const char* overlayName;
};

constexpr std::int32_t ShowEndMs = 67000;  // at or after this the show ends
constexpr std::int32_t FrameSpacingMs = 15;  // frames are at least this much music time apart

extern const std::array<TimelineWindow, 28> Timeline;

// Test every window on its own and call the matching one's background layer,
// then its overlay layer.
void RunTimeline(std::int32_t musicClock);
// The window holding this clock (there is always exactly one).
const TimelineWindow& TimelineWindowAt(std::int32_t musicClock);
