// Shared set-up for the music module's tests: a fake steady clock and the
// manual output, where the test plays the device by calling SoundFillOutput.
#pragma once

#include "mp3_maker.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

inline std::int64_t FakeNow = 0;  // ns
inline std::int64_t FakeClock() { return FakeNow; }

inline constexpr std::int64_t FramesToNanoseconds(std::int64_t frames) {
  return frames * 1'000'000'000 / SoundMixRate;
}
inline constexpr std::int64_t Milliseconds(std::int64_t ms) { return ms * 1'000'000; }

// The real steady clock (CLOCK_MONOTONIC on Linux) in nanoseconds.
inline std::int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Sets (or, for a null value, removes) an environment variable for one scope.
struct ScopedEnvironment {
  ScopedEnvironment(const char* name, const char* value) : name(name) {
    if (const char* old = std::getenv(name)) {
      saved = old;
      hadValue = true;
    }
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (hadValue) {
      setenv(name, saved.c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  const char* name;
  std::string saved;
  bool hadValue = false;
};

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
