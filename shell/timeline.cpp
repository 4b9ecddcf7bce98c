#include "timeline.h"

#include "layers.h"

namespace {
constexpr std::int32_t Earliest = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Latest = std::numeric_limits<std::int32_t>::max();
}  // namespace

// A layer is written as its pointer and its name.
#define LAYER(name) name, #name
#define NONE nullptr, "-"

const std::array<TimelineWindow, 28> Timeline = {{
    {Earliest, 5760, LAYER(B1), LAYER(EnterText1)},
    {5761, 6460, LAYER(B2), LAYER(LeaveText1)},
    {6461, 11530, LAYER(B3), LAYER(EnterText2)},
    {11531, 12230, LAYER(B4), LAYER(LeaveText2)},
    {12231, 17300, LAYER(B5), LAYER(EnterText3)},
    {17301, 18000, LAYER(B6), LAYER(LeaveText3)},
    {18001, 22730, LAYER(B7), LAYER(EnterText4)},
    {22731, 23920, NONE, NONE},
    {23921, 24620, LAYER(B8), LAYER(LeaveText4)},
    {24621, 29700, LAYER(B7), LAYER(EnterText5)},
    {29701, 30400, LAYER(B8), LAYER(LeaveText5)},
    {30401, 35480, LAYER(B7), LAYER(EnterText6)},
    {35481, 36380, LAYER(B8), LAYER(LeaveText6)},
    {36381, 41250, LAYER(B9), LAYER(EnterText7)},
    {41251, 41950, LAYER(B10), LAYER(LeaveText7)},
    {41951, 47010, LAYER(B11), LAYER(EnterText8)},
    {47011, 47710, LAYER(B12), LAYER(LeaveText8)},
    {47711, 52800, LAYER(B9), LAYER(EnterText9)},
    {52801, 53500, LAYER(B10), LAYER(LeaveText9)},
    {53501, 56840, LAYER(B9), LAYER(EnterText99)},
    {56841, 57140, LAYER(B1), LAYER(ShakeText99)},
    {57141, 57440, LAYER(B13), LAYER(ShakeText99)},
    {57441, 57740, LAYER(B11), LAYER(ShakeText99)},
    {57741, 58040, LAYER(B7), NONE},
    {58041, 59000, LAYER(B8), NONE},
    {59001, 65500, NONE, LAYER(ClosingPage)},
    {65501, 66999, NONE, LAYER(ClosingFade)},
    {ShowEndMs, Latest, NONE, NONE},
}};

#undef LAYER
#undef NONE

void RunTimeline(std::int32_t musicClock) {
  // Each window is tested on its own, not as an else-chain.
  for (const TimelineWindow& window : Timeline) {
    if (musicClock >= window.from && musicClock <= window.to) {
      if (window.background) window.background();
      if (window.overlay) window.overlay();
    }
  }
}

const TimelineWindow& TimelineWindowAt(std::int32_t musicClock) {
  for (const TimelineWindow& window : Timeline)
    if (musicClock >= window.from && musicClock <= window.to) return window;
  return Timeline.back();  // unreachable: the windows cover every value
}
