// The position clock on the manual device with a fake steady clock.
#include "sound_fixture.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

using MusicClockTest = ManualDevice;

constexpr int HalfSecond = SoundMixRate / 2;  // 22050 frames: 21 full periods and 546 frames

TEST_F(MusicClockTest, ZeroUntilTheFirstBufferThenFollowsTheDevice) {
  SoundStream* stream = OpenPcm(SilenceThenTone(0, HalfSecond), "clock.mp3");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(SoundStreamGetTime(stream), 0);
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  FakeNow += Milliseconds(100);  // the device has not asked for data yet
  EXPECT_EQ(SoundStreamGetTime(stream), 0);

  Fill();  // hands out frames 0..1023 now
  EXPECT_EQ(SoundStreamGetTime(stream), 0);
  FakeNow += Milliseconds(10);
  EXPECT_EQ(SoundStreamGetTime(stream), 10);
  FakeNow += Milliseconds(10);
  EXPECT_EQ(SoundStreamGetTime(stream), 20);
  // Never further than the buffer handed out (1024 frames = 23.2 ms), however
  // long the next callback takes.
  FakeNow += Milliseconds(10);
  EXPECT_EQ(SoundStreamGetTime(stream), 23);
  FakeNow += Milliseconds(500);
  EXPECT_EQ(SoundStreamGetTime(stream), 23);
  EXPECT_FALSE(SoundStreamFinished(stream));

  Fill();  // the stalled device resumes: frames 1024..2047
  EXPECT_EQ(SoundStreamGetTime(stream), 23);
  FakeNow += Milliseconds(5);
  EXPECT_EQ(SoundStreamGetTime(stream), 28);
}

// A device that queues three buffers ahead (waveOut): filling them does not
// move the clock; each counts from the moment it starts playing.
TEST_F(MusicClockTest, QueuedBuffersCountFromWhenTheyPlay) {
  SoundStream* stream = OpenPcm(SilenceThenTone(0, HalfSecond), "queued.mp3");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  std::vector<std::int16_t> out(SoundPeriodFrames * SoundChannelsPerFrame);
  std::array<SoundQueuedBuffer, 3> queued{};
  for (SoundQueuedBuffer& buffer : queued) buffer = SoundFillQueuedOutput(out.data(), SoundPeriodFrames);
  EXPECT_EQ(queued[2].start, 2 * SoundPeriodFrames);
  EXPECT_EQ(queued[2].end, 3 * SoundPeriodFrames);
  FakeNow += Milliseconds(5);
  EXPECT_EQ(SoundStreamGetTime(stream), 0) << "three buffers filled, none heard yet";

  SoundQueuedBufferStarted(queued[0]);
  FakeNow += Milliseconds(10);
  EXPECT_EQ(SoundStreamGetTime(stream), 10);
  FakeNow += Milliseconds(30);  // the hand-back is reported late: the clock waits at 23
  EXPECT_EQ(SoundStreamGetTime(stream), 23);
  SoundQueuedBufferStarted(queued[1]);
  FakeNow += Milliseconds(2);
  EXPECT_EQ(SoundStreamGetTime(stream), 25);

  // Playing the stream again makes the buffers still queued stale.
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  SoundQueuedBufferStarted(queued[2]);
  FakeNow += Milliseconds(10);
  EXPECT_EQ(SoundStreamGetTime(stream), 0);
  SoundQueuedBuffer fresh = SoundFillQueuedOutput(out.data(), SoundPeriodFrames);
  EXPECT_EQ(fresh.start, 0);
  SoundQueuedBufferStarted(fresh);
  FakeNow += Milliseconds(10);
  EXPECT_EQ(SoundStreamGetTime(stream), 10);

  // So does closing it; a buffer of silence (no stream frames) moves nothing.
  ASSERT_TRUE(SoundStreamClose(stream));
  SoundQueuedBuffer silence = SoundFillQueuedOutput(out.data(), SoundPeriodFrames);
  EXPECT_EQ(silence.stream, nullptr);
  EXPECT_EQ(silence.end, silence.start);
  SoundQueuedBufferStarted(silence);
  SoundQueuedBufferStarted(fresh);
}

TEST_F(MusicClockTest, SmoothAndCloseToTheDeviceUnderJitter) {
  SoundStream* stream = OpenPcm(SilenceThenTone(0, HalfSecond), "jitter.mp3");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  // Callbacks at their nominal times +-3 ms; reads every 0.25 ms in between.
  std::mt19937 random(7);
  std::uniform_int_distribution<std::int64_t> jitter(-Milliseconds(3), Milliseconds(3));
  const std::int64_t start = FakeNow;
  const int periods = HalfSecond / SoundPeriodFrames;
  std::int32_t last = 0;
  std::int32_t largestStep = 0;
  std::int64_t largestDeviation = 0;
  for (int period = 0; period < periods; ++period) {
    std::int64_t due = start + FramesToNanoseconds(std::int64_t{period} * SoundPeriodFrames) +
                       (period == 0 ? 0 : jitter(random));
    while (FakeNow + Milliseconds(1) / 4 < due) {
      FakeNow += Milliseconds(1) / 4;
      std::int32_t now = SoundStreamGetTime(stream);
      ASSERT_GE(now, last);
      largestStep = std::max(largestStep, now - last);
      largestDeviation = std::max(largestDeviation, std::abs(Milliseconds(now) - (FakeNow - start)));
      last = now;
    }
    FakeNow = std::max(FakeNow, due);
    Fill();
  }
  EXPECT_LE(largestStep, 5);  // an early callback's 3 ms, a read interval, ms truncation
  EXPECT_LE(largestDeviation, Milliseconds(4));  // the jitter plus ms truncation
}

TEST_F(MusicClockTest, StopsAtTheEndOfTheStream) {
  SoundStream* stream = OpenPcm(SilenceThenTone(0, HalfSecond), "end.mp3");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(SoundStreamGetLength(stream), 500);
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  const int fullPeriods = HalfSecond / SoundPeriodFrames;
  for (int period = 0; period < fullPeriods; ++period) {
    Fill();
    FakeNow += FramesToNanoseconds(SoundPeriodFrames);
  }
  // The last buffer holds only the remaining 546 frames, then silence.
  std::vector<std::int16_t> last = Fill();
  const int remaining = HalfSecond - fullPeriods * SoundPeriodFrames;
  EXPECT_EQ(last[static_cast<std::size_t>(remaining) * 2], 0);
  EXPECT_EQ(last.back(), 0);
  EXPECT_FALSE(SoundStreamFinished(stream));
  FakeNow += FramesToNanoseconds(remaining) - Milliseconds(1);
  EXPECT_EQ(SoundStreamGetTime(stream), 499);
  EXPECT_FALSE(SoundStreamFinished(stream));
  FakeNow += Milliseconds(1);
  EXPECT_EQ(SoundStreamGetTime(stream), 500);
  EXPECT_TRUE(SoundStreamFinished(stream));
  // The device keeps asking; the clock stays at the length.
  for (int i = 0; i < 5; ++i) {
    std::vector<std::int16_t> silence = Fill();
    EXPECT_EQ(std::count(silence.begin(), silence.end(), 0), static_cast<long>(silence.size()));
    FakeNow += Milliseconds(100);
  }
  EXPECT_EQ(SoundStreamGetTime(stream), 500);
  EXPECT_TRUE(SoundStreamFinished(stream));
}

TEST_F(MusicClockTest, OneStreamAtATime) {
  SoundStream* first = OpenPcm(SilenceThenTone(0, 4 * SoundPeriodFrames), "first.mp3");
  SoundStream* second = OpenPcm(SilenceThenTone(0, 4 * SoundPeriodFrames), "second.mp3");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(SoundStreamPlay(3, first), 3);
  Fill();
  EXPECT_EQ(SoundStreamPlay(-1, second), -1);
  EXPECT_EQ(SoundGetError(), SoundErrorNoChannel);
  for (int i = 0; i < 4; ++i) {
    FakeNow += Milliseconds(30);
    Fill();
  }
  FakeNow += Milliseconds(30);
  ASSERT_TRUE(SoundStreamFinished(first));
  ASSERT_EQ(SoundStreamPlay(-1, second), 0);
  // Playing the first again restarts its clock at 0.
  ASSERT_TRUE(SoundStreamClose(second));
  ASSERT_EQ(SoundStreamPlay(-1, first), 0);
  EXPECT_EQ(SoundStreamGetTime(first), 0);
  EXPECT_FALSE(SoundStreamFinished(first));
  // Closing the playing stream silences the device.
  Fill();
  ASSERT_TRUE(SoundStreamClose(first));
  std::vector<std::int16_t> after = Fill();
  EXPECT_EQ(std::count(after.begin(), after.end(), 0), static_cast<long>(after.size()));
}

// A device thread hands out small buffers at about real time while the test
// polls the clock as the show's pacing loop does.
TEST_F(MusicClockTest, MonotonicWithConcurrentCallbacks) {
  SoundStream* stream = OpenPcm(SilenceThenTone(0, HalfSecond), "threads.mp3");
  ASSERT_NE(stream, nullptr);
  SoundSetClock(nullptr);
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  std::atomic<bool> stop{false};
  std::thread device([&] {
    constexpr int Frames = 88;  // 2 ms
    std::vector<std::int16_t> out(Frames * SoundChannelsPerFrame);
    while (!stop.load()) {
      SoundFillOutput(out.data(), Frames);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::int32_t last = 0;
  long reads = 0;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (std::chrono::steady_clock::now() < until) {
    std::int32_t now = SoundStreamGetTime(stream);
    ASSERT_GE(now, last) << "after " << reads << " reads";
    last = now;
    ++reads;
  }
  stop = true;
  device.join();
  EXPECT_GT(last, 0);  // it played; how far depends on the load of the machine
  EXPECT_LE(last, 500);
}

TEST(SoundOperations, OrderAndArguments) {
  SoundClose();
  char byte = 0;
  auto* bogus = reinterpret_cast<SoundStream*>(&byte);
  // Nothing works before SoundInit.
  EXPECT_EQ(SoundStreamOpenFile("data/run_away.mp3", 0x2B, 0), nullptr);
  EXPECT_EQ(SoundGetError(), SoundErrorNotInitialised);
  EXPECT_EQ(SoundStreamPlay(-1, bogus), -1);
  EXPECT_EQ(SoundGetError(), SoundErrorNotInitialised);
  EXPECT_EQ(SoundStreamGetTime(bogus), 0);
  EXPECT_FALSE(SoundStreamClose(bogus));

  EXPECT_FALSE(SoundSetOutput(0));
  EXPECT_EQ(SoundGetError(), SoundErrorInvalidParameter);
  EXPECT_FALSE(SoundSetDriver(1));
  EXPECT_TRUE(SoundSetOutput(SoundOutputManual));
  EXPECT_FALSE(SoundInit(48000, 16, 0));
  EXPECT_EQ(SoundGetError(), SoundErrorInvalidParameter);
  EXPECT_FALSE(SoundInit(SoundMixRate, 0, 0));
  ASSERT_TRUE(SoundInit(SoundMixRate, 16, 0));
  EXPECT_EQ(SoundGetError(), SoundErrorNone);

  // After SoundInit: no second init, no output or driver change.
  EXPECT_FALSE(SoundInit(SoundMixRate, 16, 0));
  EXPECT_EQ(SoundGetError(), SoundErrorAlreadyInitialised);
  EXPECT_FALSE(SoundSetOutput(SoundOutputPlatform));
  EXPECT_EQ(SoundGetError(), SoundErrorAlreadyInitialised);
  EXPECT_FALSE(SoundSetDriver(0));

  // Handles the module did not give out, and bad arguments.
  EXPECT_EQ(SoundStreamPlay(-1, bogus), -1);
  EXPECT_EQ(SoundGetError(), SoundErrorInvalidParameter);
  EXPECT_EQ(SoundStreamPlay(-1, nullptr), -1);
  EXPECT_EQ(SoundStreamGetTime(nullptr), 0);
  EXPECT_FALSE(SoundStreamFinished(bogus));
  EXPECT_FALSE(SoundStreamClose(bogus));
  EXPECT_EQ(SoundStreamOpenFile(nullptr, 0x2B, 0), nullptr);
  EXPECT_EQ(SoundGetError(), SoundErrorInvalidParameter);

  TempFile file("args.mp3");
  file.Write(EncodeMp3(SilenceThenTone(0, 4096), 2));
  EXPECT_EQ(SoundStreamOpenFile(file.path.c_str(), 0x2B, 16), nullptr);
  EXPECT_EQ(SoundGetError(), SoundErrorInvalidParameter);
  SoundStream* stream = SoundStreamOpenFile(file.path.c_str(), 0x2B, 0);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(SoundStreamPlay(16, stream), -1);
  EXPECT_EQ(SoundStreamPlay(-2, stream), -1);
  EXPECT_EQ(SoundGetError(), SoundErrorInvalidParameter);
  EXPECT_EQ(SoundStreamPlay(15, stream), 15);

  // SoundClose frees the streams: the old handle is no longer known.
  SoundClose();
  EXPECT_EQ(SoundGetError(), SoundErrorNone);
  EXPECT_FALSE(SoundStreamClose(stream));
  EXPECT_EQ(SoundGetError(), SoundErrorNotInitialised);
  SoundClose();
}
