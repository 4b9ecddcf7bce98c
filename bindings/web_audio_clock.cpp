#include "web_audio_clock.h"

#include <algorithm>
#include <cmath>

std::int32_t HeardPositionMs(HeardClock& clock, const AudioReading& reading) {
  // Before the device has played anything its timestamp is all zeros.
  if (reading.performanceTime > 0) {
    const double elapsed = std::clamp(reading.now - reading.performanceTime, 0.0, HeardClockExtrapolationMs);
    const double heardMs = (reading.contextTime - clock.startContextTime) * 1000.0 + elapsed;
    if (std::isfinite(heardMs)) {
      const double position = std::clamp(std::floor(heardMs), 0.0, double(clock.lengthMs));
      clock.lastAnswer = std::max(clock.lastAnswer, static_cast<std::int32_t>(position));
    }
  }
  return clock.lastAnswer;
}
