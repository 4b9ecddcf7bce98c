// Measuring picture and clock against sound: what a sound server's sink
// plays is recorded from its monitor, with the steady time at which each piece
// arrives; the music's events are found in the recording; a log of (music
// time, steady time) pairs, from the music clock or from presented frames, is
// then compared with the moments those music times were heard.
//
// The sink is a PulseAudio null sink. It plays by a timer: each time its
// timeline has run out it renders the next block of its latency's length at
// once and hands it to its monitor, so a block reaches a recorder right when
// its first frame is due to be heard, never before (only the recorder's own
// wake-up can make it later). The recording's frame k is heard at the line
// through the earliest of the blocks' arrival times (a low percentile of them:
// see FindHeardLine). The line's slope is measured, not assumed: the null
// sink counts its time in whole microseconds per block, rounded down, so it
// plays some tens to hundreds of parts per million fast.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int AvSyncRate = 44100;

struct MonitorRecording {
  struct Arrival {
    std::int64_t frame = 0;     // first frame of the piece in the recording
    std::int64_t steadyNs = 0;  // steady clock (CLOCK_MONOTONIC) when the recorder got it
  };
  std::vector<std::int16_t> pcm;  // interleaved stereo at AvSyncRate
  std::vector<Arrival> arrivals;
  // Both clocks at the start and at the end, for logs taken on
  // CLOCK_MONOTONIC_RAW (Wine's performance counter): the system may slew
  // CLOCK_MONOTONIC against it by some hundred parts per million.
  struct ClockPair {
    std::int64_t steadyNs = 0, rawNs = 0;
  };
  ClockPair start, end;
};

// A CLOCK_MONOTONIC_RAW time as CLOCK_MONOTONIC, by the recording's two pairs.
std::int64_t RawToSteady(const MonitorRecording& recording, std::int64_t rawNs);

struct MonitorRecorder;

// Starts recording source (for example "ci.monitor") from the server of the
// environment (PULSE_SERVER). latencyMs is the latency the recorder asks of
// the source, which also bounds its sink's: the null sink then renders blocks
// of about that length. Returns once the first block has come (a null sink
// first finishes what it rendered before); null with a reason in error when
// it cannot.
MonitorRecorder* StartRecording(const char* source, int latencyMs, std::string& error);
// Stops and returns what was recorded.
MonitorRecording StopRecording(MonitorRecorder* recorder);

bool SaveRecording(const MonitorRecording& recording, const std::string& prefix);
bool LoadRecording(const std::string& prefix, MonitorRecording& recording);

struct HeardLine {
  bool valid = false;
  double startNs = 0;          // steady time at which recording frame 0 was heard
  double nsPerFrame = 0;       // the sink's pace (1e9 / 44100 for an exact sink)
  double spreadNs = 0;         // how much later the median block arrived (the recorder's wake-ups)
  int blocks = 0;              // blocks seen
};
HeardLine FindHeardLine(const MonitorRecording& recording);
// When recording frame `frame` (fractional) was heard, on the steady clock.
double HeardNs(const HeardLine& line, double frame);

// The recording frame that holds music frame `frame` (stereo PCM of the music
// as decoded), found by matching the music within WindowMs around it; -1 when
// nothing matches well (match, the correlation, below 0.9).
std::int64_t LocateInRecording(const std::vector<std::int16_t>& recording, const std::vector<std::int16_t>& music,
                               std::int64_t frame, double& match);

struct TimedMusic {
  std::int32_t musicMs = 0;   // what the log says: a clock reading, a frame's music time
  std::int64_t steadyNs = 0;  // when
};

// Offset of the log against the sound at music time eventMs: the median, over
// the log's entries within 300 ms of it, of the entry's time less the time its
// music time was heard. Positive: the log is late. Sets ok false when the
// event cannot be found or no entry is near it.
struct EventOffset {
  bool ok = false;
  double offsetMs = 0;
  double match = 0;
  int entries = 0;
  std::string error;
};
EventOffset MeasureEvent(const MonitorRecording& recording, const HeardLine& line,
                         const std::vector<std::int16_t>& music, const std::vector<TimedMusic>& log,
                         std::int32_t eventMs);

// Reads a log of "music_ms steady_ns" lines.
bool LoadTimedMusic(const std::string& path, std::vector<TimedMusic>& log);
