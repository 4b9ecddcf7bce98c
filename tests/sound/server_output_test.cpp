// The outputs that know what is heard, against a real sound server: a private
// PulseAudio with a null sink "ci" (with_pulse.sh starts it). Each case plays
// a short MP3 while recording the sink's monitor and logging the clock, then
// measures the clock against the recording at a few moments (av_sync.h).
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "av_sync.h"
#include "sound_fixture.h"
#include "sound_platform.h"

namespace {

constexpr int LengthMs = 2500;
constexpr std::int32_t EventsMs[] = {700, 1400, 2100};
// The sink's latency, pinned by the recorder: blocks of 10 ms.
constexpr int SinkLatencyMs = 10;
// The clock against what the sink plays: the target of the latency-true outputs.
constexpr double ToleranceMs = 5;
// ALSA through the server's plugin: the plugin smooths the server's timing
// itself, and its delay wanders after a start, by up to 14 ms on a machine
// loaded 11 on 2 cores. Still far from the 93 ms that ignoring the delay
// would lead by.
constexpr double AlsaToleranceMs = 25;

// Noise whose loudness changes at random every 10 ms: any stretch of it is
// found in the recording at exactly one place.
std::vector<std::int16_t> Bursts() {
  std::vector<std::int16_t> pcm(static_cast<std::size_t>(LengthMs) * 441 / 10 * 2);
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  int level = 0;
  for (std::size_t i = 0; i < pcm.size(); i += 2) {
    if (i % 882 == 0) level = static_cast<int>(next() >> 20) % 8000;
    const auto sample = static_cast<std::int16_t>(static_cast<int>(next() >> 16) % (2 * level + 1) - level);
    pcm[i] = pcm[i + 1] = sample;
  }
  return pcm;
}

struct Measured {
  std::string output;             // SoundOutputName
  std::vector<double> offsetsMs;  // per event: the clock's time less the time it was heard
  // How far the clock moved between two readings beyond the wall time between
  // them: a reader the scheduler delays sees a large but honest change, a
  // clock that jumps shows a large step. The 99th percentile, since a starved
  // output thread (past the 40 ms the clock runs on alone) makes an honest
  // jump too now and then on a loaded machine.
  std::vector<double> stepsMs;
  double StepPercentile99() const {
    std::vector<double> sorted = stepsMs;
    std::sort(sorted.begin(), sorted.end());
    return sorted.empty() ? 0 : sorted[sorted.size() * 99 / 100];
  }
};

class ServerOutput : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    file = new TempFile("server-bursts.mp3");
    file->Write(EncodeMp3(Bursts(), 2));
  }
  static void TearDownTestSuite() {
    delete file;
    file = nullptr;
  }
  void SetUp() override {
    if (std::getenv("PULSE_SERVER") == nullptr) GTEST_SKIP() << "no sound server (run by with_pulse.sh)";
    SoundClose();
  }
  void TearDown() override { SoundClose(); }

  // The show's calls on output: initialise, open the file, play. Sets stream.
  void StartPlaying(int output, SoundStream*& stream) {
    ASSERT_TRUE(SoundSetOutput(output));
    ASSERT_TRUE(SoundInit(SoundMixRate, 16, 0)) << SoundErrorText(SoundGetError());
    stream = SoundStreamOpenFile(file->path.c_str(), 0x2B, 0);
    ASSERT_NE(stream, nullptr) << SoundErrorText(SoundGetError());
    ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  }

  // Plays the file through output, logging every change of the clock, and
  // measures the log against the recorded sink. Fails the test on the way
  // (the clock must start, never go back and reach the length).
  void PlayAndMeasure(int output, Measured& run) {
    std::string error;
    MonitorRecorder* recorder = StartRecording("ci.monitor", SinkLatencyMs, error);
    ASSERT_NE(recorder, nullptr) << error;
    SoundStream* stream = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartPlaying(output, stream));
    run.output = SoundOutputName();
    std::vector<TimedMusic> log;
    std::int32_t last = 0;
    // The null sink may first finish a block rendered before the recorder pinned its latency.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LengthMs + 5000);
    while (!SoundStreamFinished(stream) && std::chrono::steady_clock::now() < deadline) {
      const std::int32_t now = SoundStreamGetTime(stream);
      ASSERT_GE(now, last) << run.output << ": the clock went back";
      if (now != last) {
        const std::int64_t wall = SteadyNanoseconds();
        if (!log.empty()) run.stepsMs.push_back((now - log.back().musicMs) - (wall - log.back().steadyNs) / 1e6);
        log.push_back({now, wall});
      }
      last = now;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_TRUE(SoundStreamFinished(stream)) << run.output << ": at " << last << " ms after the deadline";
    SoundStreamClose(stream);
    SoundClose();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const MonitorRecording recording = StopRecording(recorder);
    const HeardLine line = FindHeardLine(recording);
    ASSERT_TRUE(line.valid);
    std::vector<std::int16_t> music;
    ASSERT_EQ(DecodeMp3File(file->path.c_str(), music), SoundErrorNone);
    // An output that underran near an event (a loaded machine) left a gap in
    // the recording there: that event cannot be measured, the others can.
    for (std::int32_t event : EventsMs) {
      const EventOffset offset = MeasureEvent(recording, line, music, log, event);
      if (!offset.ok) {
        std::printf("%s at %d ms: %s (best match %.3f)\n", run.output.c_str(), event, offset.error.c_str(),
                    offset.match);
        continue;
      }
      run.offsetsMs.push_back(offset.offsetMs);
      std::printf("%s: the clock at %d ms is %+.1f ms off what the sink plays (%d readings, steps p99 %.1f ms)\n",
                  run.output.c_str(), event, offset.offsetMs, offset.entries, run.StepPercentile99());
    }
    ASSERT_FALSE(run.offsetsMs.empty()) << run.output << ": no moment of the file found in the recording";
  }

  static TempFile* file;
};
TempFile* ServerOutput::file = nullptr;

void ExpectWithin(const Measured& run, double tolerance) {
  for (double offset : run.offsetsMs) EXPECT_LE(std::abs(offset), tolerance) << run.output;
}

}  // namespace

// Play returns once the music is heard, so that the clock moves from the
// caller's first reading on, even on a null sink that nobody has asked for a
// latency (it renders two seconds of silence at a time, and a new stream
// waits for the rest of the current block).
TEST_F(ServerOutput, PlayReturnsOnceTheMusicIsHeard) {
  SoundStream* stream = nullptr;
  ASSERT_NO_FATAL_FAILURE(StartPlaying(SoundOutputServer, stream));
  const auto played = std::chrono::steady_clock::now();
  while (SoundStreamGetTime(stream) == 0 && std::chrono::steady_clock::now() - played < std::chrono::seconds(3))
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  EXPECT_LT(std::chrono::steady_clock::now() - played, std::chrono::milliseconds(20));
}

TEST_F(ServerOutput, TheClockIsWhatTheSinkPlays) {
  Measured run;
  ASSERT_NO_FATAL_FAILURE(PlayAndMeasure(SoundOutputServer, run));
  EXPECT_EQ(run.output, "pulse");
  ExpectWithin(run, ToleranceMs);
  // Answers every 10 ms, and the clock runs on smoothly in between.
  EXPECT_LE(run.StepPercentile99(), 2.0);
}

// ALSA's default device goes to the server through its pulse plugin here:
// snd_pcm_delay then comes from the server's timing.
TEST_F(ServerOutput, AlsaTooWhereItReachesTheServer) {
  if (!SoundSetOutput(SoundOutputAlsa) || !SoundInit(SoundMixRate, 16, 0))
    GTEST_SKIP() << "ALSA's default device does not open here (no pulse plugin)";
  SoundClose();
  Measured run;
  ASSERT_NO_FATAL_FAILURE(PlayAndMeasure(SoundOutputAlsa, run));
  EXPECT_EQ(run.output, "alsa");
  ExpectWithin(run, AlsaToleranceMs);
}

// The platform output takes the server; SDL only when SDL_AUDIODRIVER asks for
// it. SDL's clock counts a buffer from its callback: it runs ahead of the
// sound by SDL's and the server's buffering, which the measurement must see.
TEST_F(ServerOutput, PlatformChoosesTheServerUnlessSdlIsAskedFor) {
  {
    ScopedEnvironment driver("SDL_AUDIODRIVER", nullptr);
    ASSERT_TRUE(SoundInit(SoundMixRate, 16, 0));
    EXPECT_STREQ(SoundOutputName(), "pulse");
    SoundClose();
  }
  {
    ScopedEnvironment driver("SDL_AUDIODRIVER", "dummy");
    ASSERT_TRUE(SoundInit(SoundMixRate, 16, 0));
    EXPECT_STREQ(SoundOutputName(), "sdl dummy");
    SoundClose();
  }
  ScopedEnvironment driver("SDL_AUDIODRIVER", "pulseaudio");
  Measured run;
  ASSERT_NO_FATAL_FAILURE(PlayAndMeasure(SoundOutputPlatform, run));
  EXPECT_EQ(run.output, "sdl pulseaudio");
  for (double offset : run.offsetsMs) EXPECT_LT(offset, -ToleranceMs) << "SDL's clock should lead the sound";
}

// The server frozen (SIGSTOP) mid-play: its sink stops, and the clock stops
// within its stall bound instead of running on; it resumes with the server.
// A frozen server never answers a new connection: SoundInit gives up.
TEST_F(ServerOutput, AFrozenServerStopsTheClockAndIsNotWaitedForEver) {
  const char* pid = std::getenv("QUENRIK_TEST_PULSE_PID");
  if (pid == nullptr) GTEST_SKIP() << "the server's process is not known";
  const pid_t server = static_cast<pid_t>(std::atol(pid));
  std::string error;
  MonitorRecorder* recorder = StartRecording("ci.monitor", SinkLatencyMs, error);  // pins the sink's latency
  ASSERT_NE(recorder, nullptr) << error;
  SoundStream* stream = nullptr;
  ASSERT_NO_FATAL_FAILURE(StartPlaying(SoundOutputServer, stream));
  const auto started = std::chrono::steady_clock::now();
  while (SoundStreamGetTime(stream) < 300 && std::chrono::steady_clock::now() - started < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GE(SoundStreamGetTime(stream), 300);

  ASSERT_EQ(kill(server, SIGSTOP), 0);
  const std::int32_t atStop = SoundStreamGetTime(stream);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const std::int32_t frozen = SoundStreamGetTime(stream);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::int32_t stillFrozen = SoundStreamGetTime(stream);
  ASSERT_EQ(kill(server, SIGCONT), 0);
  // 40 ms of extrapolation past the last answer, which may be 10 ms old.
  EXPECT_LE(frozen - atStop, 60) << "the clock ran on while the server was stopped";
  EXPECT_EQ(stillFrozen, frozen);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_GE(SoundStreamGetTime(stream), frozen + 100) << "the clock did not resume";
  SoundStreamClose(stream);
  SoundClose();
  StopRecording(recorder);

  ASSERT_EQ(kill(server, SIGSTOP), 0);
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(SoundSetOutput(SoundOutputServer));
  const bool opened = SoundInit(SoundMixRate, 16, 0);
  const auto waited = std::chrono::steady_clock::now() - before;
  kill(server, SIGCONT);
  EXPECT_FALSE(opened);
  EXPECT_EQ(SoundGetError(), SoundErrorOutputDevice);
  EXPECT_LT(waited, std::chrono::seconds(5));
}
