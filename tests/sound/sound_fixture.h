// Shared set-up for the music module's tests: a fake steady clock and the
// manual output, where the test plays the device by calling SoundFillOutput.
#pragma once

#include "mp3_maker.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

inline std::int64_t FakeNow = 0;  // ns
inline std::int64_t FakeClock() { return FakeNow; }

inline constexpr std::int64_t FramesToNanoseconds(std::int64_t frames) {
  return frames * 1'000'000'000 / SoundMixRate;
}
inline constexpr std::int64_t Milliseconds(std::int64_t ms) { return ms * 1'000'000; }

class ManualDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    SoundClose();
    FakeNow = Milliseconds(5000);
    SoundSetClock(FakeClock);
    ASSERT_TRUE(SoundSetOutput(SoundOutputManual));
    ASSERT_TRUE(SoundSetDriver(0));
    ASSERT_TRUE(SoundInit(SoundMixRate, 16, 0));
  }
  void TearDown() override {
    SoundClose();
    SoundSetClock(nullptr);
  }

  // Encodes pcm (stereo) into a temporary MP3 and opens it as a stream.
  SoundStream* OpenPcm(const std::vector<std::int16_t>& pcm, const char* name) {
    files_.emplace_back(std::make_unique<TempFile>(name));
    files_.back()->Write(EncodeMp3(pcm, 2));
    SoundStream* stream = SoundStreamOpenFile(files_.back()->path.c_str(), 0x2B, 0);
    EXPECT_NE(stream, nullptr) << SoundErrorText(SoundGetError());
    return stream;
  }

  // One device period, as the callback would ask for it.
  std::vector<std::int16_t> Fill(int frames = SoundPeriodFrames) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(frames) * SoundChannelsPerFrame, 1);
    SoundFillOutput(out.data(), frames);
    return out;
  }

 private:
  std::vector<std::unique_ptr<TempFile>> files_;
};
