// The browser's music clock: the heard position from Web Audio's output
// timestamps, smooth between them, stopping when they stop, never going back.
#include <gtest/gtest.h>

#include <cmath>

#include "web_audio_clock.h"

namespace {

// A device that played out context time `played` s at `stamp` ms; read at `now` ms.
AudioReading At(double played, double stamp, double now) { return {played, stamp, now}; }

TEST(WebAudioClock, ZeroUntilTheDeviceHasPlayedTheFirstFrame) {
  HeardClock clock{2.0, 72000};
  EXPECT_EQ(HeardPositionMs(clock, At(0, 0, 5000)), 0);       // no timestamp yet
  EXPECT_EQ(HeardPositionMs(clock, At(1.95, 900, 910)), 0);   // before the scheduled start
  EXPECT_EQ(HeardPositionMs(clock, At(2.0, 1000, 1000)), 0);
  EXPECT_EQ(HeardPositionMs(clock, At(2.0, 1000, 1015)), 15);  // runs on from the stamp
}

TEST(WebAudioClock, MovesSmoothlyBetweenDeviceCallbacks) {
  HeardClock clock{0.5, 72000};
  // Callbacks every 10.7 ms; the page reads every 4 ms in between.
  int last = 0;
  for (double now = 1000; now < 3000; now += 4) {
    const double stamp = 1000 + 10.7 * std::floor((now - 1000) / 10.7);
    const double played = 0.5 + (stamp - 1000) / 1000;
    const int position = HeardPositionMs(clock, At(played, stamp, now));
    EXPECT_GE(position, last);
    EXPECT_NEAR(position, now - 1000, 1.0);
    last = position;
  }
}

TEST(WebAudioClock, StopsWhenTheDeviceStallsAndNeverGoesBack) {
  HeardClock clock{0, 72000};
  EXPECT_EQ(HeardPositionMs(clock, At(10.0, 5000, 5000)), 10000);
  // No new timestamp: the clock runs on for the extrapolation limit, then stops.
  EXPECT_EQ(HeardPositionMs(clock, At(10.0, 5000, 5050)), 10050);
  EXPECT_EQ(HeardPositionMs(clock, At(10.0, 5000, 5000 + HeardClockExtrapolationMs)), 10100);
  EXPECT_EQ(HeardPositionMs(clock, At(10.0, 5000, 9000)), 10100);
  // The device comes back a little behind what was answered: no step back.
  EXPECT_EQ(HeardPositionMs(clock, At(10.05, 9001, 9001)), 10100);
  EXPECT_EQ(HeardPositionMs(clock, At(10.2, 9150, 9150)), 10200);
  // A reading older than its stamp (clocks out of step) counts from the stamp.
  EXPECT_EQ(HeardPositionMs(clock, At(10.3, 9300, 9290)), 10300);
}

TEST(WebAudioClock, StopsAtTheStreamsEndAndIgnoresNonsense) {
  HeardClock clock{1.0, 72000};
  EXPECT_EQ(HeardPositionMs(clock, At(80.0, 100000, 100000)), 72000);
  HeardClock other{1.0, 72000};
  EXPECT_EQ(HeardPositionMs(other, At(5.0, 1000, 1000)), 4000);
  EXPECT_EQ(HeardPositionMs(other, At(std::nan(""), 1001, 1001)), 4000);
  EXPECT_EQ(HeardPositionMs(other, At(1e300, 1002, 1002)), 72000);
}

}  // namespace
