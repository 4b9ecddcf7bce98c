// Picture and clock against sound, measured on a PulseAudio null sink (see
// av_sync.h and measure-av-sync.sh):
//   av_sync record SOURCE LATENCY_MS SECONDS PREFIX
//       records SOURCE (a null sink's monitor) for SECONDS or until SIGINT or
//       SIGTERM, into PREFIX.raw (16-bit stereo) and PREFIX.arrivals
//   av_sync analyse MUSIC.mp3 PREFIX LOG [--raw-clock] [--within MS] EVENT_MS...
//       LOG holds "music_ms steady_ns" lines (clock readings or presented
//       frames; --raw-clock: the times are CLOCK_MONOTONIC_RAW, as Wine's
//       performance counter gives them). Prints, per event, how late the log
//       is against the sound (negative: early); exit 1 when an event cannot
//       be measured or (--within) is off by more than MS.
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "av_sync.h"
#include "sound.h"
#include "sound_platform.h"

namespace {

volatile std::sig_atomic_t Stop = 0;

int Record(const char* source, int latencyMs, double seconds, const std::string& prefix) {
  std::signal(SIGINT, [](int) { Stop = 1; });
  std::signal(SIGTERM, [](int) { Stop = 1; });
  std::string error;
  MonitorRecorder* recorder = StartRecording(source, latencyMs, error);
  if (recorder == nullptr) {
    std::fprintf(stderr, "av_sync: %s\n", error.c_str());
    return 1;
  }
  std::printf("recording %s\n", source);
  std::fflush(stdout);
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!Stop && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const MonitorRecording recording = StopRecording(recorder);
  if (!SaveRecording(recording, prefix)) {
    std::fprintf(stderr, "av_sync: cannot write %s.raw or %s.arrivals\n", prefix.c_str(), prefix.c_str());
    return 1;
  }
  std::printf("%zu frames in %zu pieces\n", recording.pcm.size() / 2, recording.arrivals.size());
  return 0;
}

int Analyse(int argc, char** argv) {
  const char* musicPath = argv[2];
  const std::string prefix = argv[3];
  const std::string logPath = argv[4];
  bool rawClock = false;
  double within = -1;
  std::vector<std::int32_t> events;
  for (int i = 5; i < argc; ++i) {
    if (std::strcmp(argv[i], "--raw-clock") == 0) {
      rawClock = true;
    } else if (std::strcmp(argv[i], "--within") == 0 && i + 1 < argc) {
      within = std::atof(argv[++i]);
    } else {
      events.push_back(std::atoi(argv[i]));
    }
  }
  std::vector<std::int16_t> music;
  if (int error = DecodeMp3File(musicPath, music); error != SoundErrorNone) {
    std::fprintf(stderr, "av_sync: %s: %s\n", musicPath, SoundErrorText(error));
    return 1;
  }
  MonitorRecording recording;
  std::vector<TimedMusic> log;
  if (!LoadRecording(prefix, recording) || !LoadTimedMusic(logPath, log)) {
    std::fprintf(stderr, "av_sync: cannot read the recording %s or the log %s\n", prefix.c_str(), logPath.c_str());
    return 1;
  }
  if (rawClock)
    for (TimedMusic& entry : log) entry.steadyNs = RawToSteady(recording, entry.steadyNs);
  const HeardLine line = FindHeardLine(recording);
  std::printf("recording: %.2f s, %d blocks, median block %.2f ms after the earliest, the sink's pace %+.0f ppm\n",
              double(recording.pcm.size() / 2) / AvSyncRate, line.blocks, line.spreadNs / 1e6,
              line.valid ? (1e9 / AvSyncRate / line.nsPerFrame - 1) * 1e6 : 0.0);
  int failures = 0;
  for (std::int32_t event : events) {
    const EventOffset offset = MeasureEvent(recording, line, music, log, event);
    if (!offset.ok) {
      std::printf("event %d ms: %s (best match %.3f)\n", event, offset.error.c_str(), offset.match);
      ++failures;
      continue;
    }
    std::printf("event %d ms: offset %+.1f ms (%d entries, match %.4f)\n", event, offset.offsetMs, offset.entries,
                offset.match);
    if (within >= 0 && std::abs(offset.offsetMs) > within) ++failures;
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "record") == 0)
    return Record(argv[2], std::atoi(argv[3]), std::atof(argv[4]), argv[5]);
  if (argc >= 6 && std::strcmp(argv[1], "analyse") == 0) return Analyse(argc, argv);
  std::fprintf(stderr,
               "usage: av_sync record SOURCE LATENCY_MS SECONDS PREFIX\n"
               "       av_sync analyse MUSIC.mp3 PREFIX LOG [--raw-clock] [--within MS] EVENT_MS...\n");
  return 64;
}
