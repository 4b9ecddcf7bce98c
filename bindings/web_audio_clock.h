// The music clock in a browser: the playing position the listener hears,
// from Web Audio's output timestamp. Free of any platform, so it is tested
// natively; web_audio.cpp feeds it the browser's readings.
//
// AudioContext.getOutputTimestamp() says which context time the audio
// device is playing out (contextTime, seconds) and when that was
// (performanceTime, ms on the page's performance.now() clock). It changes
// once per device callback, so the clock adds the time elapsed since then,
// but never more than HeardClockExtrapolationMs: when the device stalls the
// clock stops, and the show's stall rule ends the show a second later. The
// answer never goes back and stays within the stream.
#pragma once

#include <cstdint>

// Longest stretch the clock runs on from the device's last timestamp. Device
// callbacks come every 3 to 40 ms in the browsers' audio back ends (a
// Bluetooth device queues more, but still calls back that often).
constexpr double HeardClockExtrapolationMs = 100.0;

struct AudioReading {
  double contextTime = 0;      // s: the context time being played out now
  double performanceTime = 0;  // ms: when it was (performance.now() clock)
  double now = 0;              // ms: performance.now() at this reading
};

struct HeardClock {
  double startContextTime = 0;  // s: the context time of the stream's first frame
  std::int32_t lengthMs = 0;    // the stream's length: the clock stops there
  std::int32_t lastAnswer = 0;
};

// The stream position heard at the reading, in whole milliseconds.
std::int32_t HeardPositionMs(HeardClock& clock, const AudioReading& reading);
