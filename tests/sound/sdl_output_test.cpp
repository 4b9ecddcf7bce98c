// Real playback through SDL: the dummy driver (set in the test's environment)
// plays silently at about real time; a driver that does not exist stands for a
// machine without a sound device.
#include "sound_fixture.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

TEST(SdlOutput, NoSoundDeviceFailsWithCode3) {
  SoundClose();
  ScopedEnvironment driver("SDL_AUDIODRIVER", "quenrik-no-such-driver");
  EXPECT_TRUE(SoundSetOutput(SoundOutputPlatform));
  EXPECT_FALSE(SoundInit(SoundMixRate, 16, 0));
  EXPECT_EQ(SoundGetError(), SoundErrorOutputDevice);
  EXPECT_STREQ(SoundErrorText(SoundGetError()), "Error initializing output device.");
  // Still not initialised: a later attempt may succeed, and SoundClose is safe.
  EXPECT_EQ(SoundStreamOpenFile("x.mp3", 0x2B, 0), nullptr);
  EXPECT_EQ(SoundGetError(), SoundErrorNotInitialised);
  SoundClose();
}

// Plays two seconds of music for one second of wall time, polling the clock
// every 0.2 ms, and fits a straight line through (wall time, clock).
TEST(SdlOutput, DummyDriverClockRunsAtRealTime) {
  ScopedEnvironment driver("SDL_AUDIODRIVER", "dummy");  // also when run by hand
  SoundClose();
  TempFile file("dummy.mp3");
  file.Write(EncodeMp3(SilenceThenTone(0, 2 * SoundMixRate), 2));
  ASSERT_TRUE(SoundSetOutput(SoundOutputPlatform));
  ASSERT_TRUE(SoundSetDriver(0));
  ASSERT_TRUE(SoundInit(SoundMixRate, 16, 0)) << SoundErrorText(SoundGetError());
  SoundStream* stream = SoundStreamOpenFile(file.path.c_str(), 0x2B, 0);
  ASSERT_NE(stream, nullptr) << SoundErrorText(SoundGetError());
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);

  struct Sample {
    double wall;  // ms since the first non-zero clock reading
    double clock; // ms
  };
  std::vector<Sample> samples;
  std::int64_t wallStart = 0;
  std::int64_t lastWall = 0;
  std::int32_t last = 0;
  // A step is how far the clock moved between two reads beyond the wall time
  // between them: a reader that the scheduler delays sees a large but honest
  // change, a clock that jumps shows a large step.
  double largestStep = 0;
  std::int32_t largestChange = 0;
  // A read that took longer than this was interrupted by the scheduler (a
  // busy machine): when the clock was read within it is not known, so it
  // counts only for the clock's order, not for the fit.
  constexpr std::int64_t ReadWindow = Milliseconds(1) / 2;
  int interrupted = 0;
  const std::int64_t deadline = SteadyNanoseconds() + Milliseconds(3000);
  while (SteadyNanoseconds() < deadline) {
    const std::int64_t before = SteadyNanoseconds();
    std::int32_t now = SoundStreamGetTime(stream);
    std::int64_t wall = SteadyNanoseconds();
    const bool timed = wall - before <= ReadWindow;
    ASSERT_GE(now, last);
    if (now > 0 && wallStart == 0) {
      wallStart = wall;
    }
    if (wallStart != 0 && !timed) {
      ++interrupted;
    } else if (wallStart != 0) {
      if (lastWall != 0) {
        largestChange = std::max(largestChange, now - last);
        largestStep = std::max(largestStep, (now - last) - (wall - lastWall) / 1e6);
      }
      samples.push_back({(wall - wallStart) / 1e6, static_cast<double>(now)});
      if (wall - wallStart >= Milliseconds(1000)) {
        break;
      }
    }
    if (timed) {
      last = now;
      lastWall = wallStart != 0 ? wall : 0;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ASSERT_FALSE(SoundStreamFinished(stream));
  ASSERT_GT(samples.size(), 100u);
  ASSERT_GE(samples.back().wall, 1000.0) << "the clock did not start within 3 s";

  // Least-squares line clock = a + b * wall.
  double n = static_cast<double>(samples.size()), sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (const Sample& s : samples) {
    sx += s.wall;
    sy += s.clock;
    sxx += s.wall * s.wall;
    sxy += s.wall * s.clock;
  }
  double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  double intercept = (sy - slope * sx) / n;
  double deviation = 0;
  for (const Sample& s : samples) {
    deviation = std::max(deviation, std::abs(s.clock - (intercept + slope * s.wall)));
  }
  std::printf("dummy driver: %zu reads (%d more interrupted), clock %d ms after %.1f ms wall, speed %.4f, "
              "largest step %.2f ms (largest change between reads %d ms), largest deviation from the line %.2f ms\n",
              samples.size(), interrupted, last, samples.back().wall, slope, largestStep, largestChange, deviation);
  EXPECT_NEAR(slope, 1.0, 0.05);
  EXPECT_LE(largestStep, 5.0);
  EXPECT_LE(deviation, 10.0);

  EXPECT_TRUE(SoundStreamClose(stream));
  SoundClose();
}
