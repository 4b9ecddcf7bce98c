#include "av_sync.h"

#include <pulse/pulseaudio.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>

namespace {

constexpr std::size_t BytesPerFrame = 2 * sizeof(std::int16_t);
constexpr double NsPerFrame = 1e9 / AvSyncRate;
// Pieces that arrive closer together than this came from one rendered block.
constexpr std::int64_t BurstGapNs = 1'000'000;
// The heard line runs through this percentile of the blocks' starts in each
// stretch of LineWindowFrames that has at least MinimumStartsPerWindow.
constexpr std::size_t LinePercentile = 5;
constexpr std::int64_t LineWindowFrames = 2 * AvSyncRate;
constexpr std::size_t MinimumStartsPerWindow = 20;
// The music around an event that is matched against the recording: coarsely
// (1 ms envelopes) over a second each side, then frame by frame over 100 ms
// each side (short, so that a glitch of the output nearby does not spoil it).
constexpr int EnvelopeFrames = 44;
constexpr std::int64_t CoarseWindowFrames = AvSyncRate;
constexpr std::int64_t FineWindowFrames = AvSyncRate / 10;
constexpr std::int64_t FineSearchFrames = 3 * EnvelopeFrames;
constexpr double MinimumMatch = 0.9;
// Log entries this close to an event (in music time) measure it.
constexpr std::int32_t NearEventMs = 300;
constexpr auto ConnectTimeout = std::chrono::seconds(3);
// A null sink that nobody asked for a latency renders two seconds at a time:
// the recorder's latency holds only from the next block on.
constexpr auto FirstBlockTimeout = std::chrono::seconds(5);

std::int64_t ClockNs(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

struct MonitorRecorder {
  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  pa_stream* stream = nullptr;
  MonitorRecording recording;  // under the loop's lock
};

namespace {

void PiecesArrived(pa_stream* stream, std::size_t, void* user) {
  auto& recording = static_cast<MonitorRecorder*>(user)->recording;
  const void* data = nullptr;
  std::size_t bytes = 0;
  while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
    const std::int64_t frame = static_cast<std::int64_t>(recording.pcm.size() / 2);
    recording.arrivals.push_back({frame, ClockNs(CLOCK_MONOTONIC)});
    const std::size_t samples = bytes / BytesPerFrame * 2;
    if (data != nullptr) {
      const auto* first = static_cast<const std::int16_t*>(data);
      recording.pcm.insert(recording.pcm.end(), first, first + samples);
    } else {
      recording.pcm.resize(recording.pcm.size() + samples, 0);  // a hole: silence
    }
    pa_stream_drop(stream);
  }
}

// Polls until ready() or failed() or the timeout; the loop is not locked.
template <typename Ready, typename Failed>
bool Await(MonitorRecorder& recorder, Ready ready, Failed failed,
           std::chrono::steady_clock::duration timeout = ConnectTimeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    pa_threaded_mainloop_lock(recorder.loop);
    const bool isReady = ready(), hasFailed = failed();
    pa_threaded_mainloop_unlock(recorder.loop);
    if (isReady) return true;
    if (hasFailed || std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
  return values[values.size() / 2];
}

// Pearson correlation of a[i] and b[i + lag] over i in [0, n).
template <typename A, typename B>
double Correlation(const A& a, std::int64_t aStart, const B& b, std::int64_t bStart, std::int64_t n) {
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    const double x = a[static_cast<std::size_t>(aStart + i)], y = b[static_cast<std::size_t>(bStart + i)];
    sa += x;
    sb += y;
    saa += x * x;
    sbb += y * y;
    sab += x * y;
  }
  const double cov = sab - sa * sb / static_cast<double>(n);
  const double va = saa - sa * sa / static_cast<double>(n), vb = sbb - sb * sb / static_cast<double>(n);
  return va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0;
}

std::vector<double> Mono(const std::vector<std::int16_t>& stereo) {
  std::vector<double> mono(stereo.size() / 2);
  for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = double(stereo[2 * i]) + double(stereo[2 * i + 1]);
  return mono;
}

std::vector<double> Envelope(const std::vector<double>& mono) {
  std::vector<double> envelope(mono.size() / EnvelopeFrames);
  for (std::size_t i = 0; i < envelope.size(); ++i)
    for (int j = 0; j < EnvelopeFrames; ++j) envelope[i] += std::abs(mono[i * EnvelopeFrames + std::size_t(j)]);
  return envelope;
}

}  // namespace

MonitorRecorder* StartRecording(const char* source, int latencyMs, std::string& error) {
  auto recorder = std::make_unique<MonitorRecorder>();
  MonitorRecorder& r = *recorder;
  r.recording.start = {ClockNs(CLOCK_MONOTONIC), ClockNs(CLOCK_MONOTONIC_RAW)};
  r.loop = pa_threaded_mainloop_new();
  r.context = pa_context_new(pa_threaded_mainloop_get_api(r.loop), "quenrik av_sync");
  if (pa_context_connect(r.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
      pa_threaded_mainloop_start(r.loop) < 0 ||
      !Await(r, [&] { return pa_context_get_state(r.context) == PA_CONTEXT_READY; },
             [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(r.context)); })) {
    error = "cannot connect to the sound server";
    StopRecording(recorder.release());
    return nullptr;
  }
  pa_threaded_mainloop_lock(r.loop);
  const pa_sample_spec format{PA_SAMPLE_S16NE, AvSyncRate, 2};
  r.stream = pa_stream_new(r.context, "monitor", &format, nullptr);
  pa_stream_set_read_callback(r.stream, PiecesArrived, &r);
  constexpr auto Default = static_cast<std::uint32_t>(-1);
  const auto fragment = static_cast<std::uint32_t>(latencyMs * AvSyncRate / 1000 * BytesPerFrame);
  const pa_buffer_attr buffering{Default, Default, Default, Default, fragment};
  const int connected = pa_stream_connect_record(r.stream, source, &buffering, PA_STREAM_ADJUST_LATENCY);
  pa_threaded_mainloop_unlock(r.loop);
  if (connected < 0 || !Await(r, [&] { return pa_stream_get_state(r.stream) == PA_STREAM_READY; },
                              [&] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(r.stream)); })) {
    error = std::string("cannot record ") + source;
    StopRecording(recorder.release());
    return nullptr;
  }
  if (!Await(r, [&] { return !r.recording.arrivals.empty(); }, [] { return false; }, FirstBlockTimeout)) {
    error = std::string("nothing comes from ") + source;
    StopRecording(recorder.release());
    return nullptr;
  }
  return recorder.release();
}

MonitorRecording StopRecording(MonitorRecorder* recorder) {
  std::unique_ptr<MonitorRecorder> owned(recorder);
  MonitorRecording recording;
  if (recorder == nullptr) return recording;
  pa_threaded_mainloop_lock(recorder->loop);
  if (recorder->stream != nullptr) {
    pa_stream_set_read_callback(recorder->stream, nullptr, nullptr);
    pa_stream_disconnect(recorder->stream);
  }
  pa_context_disconnect(recorder->context);
  recording = std::move(recorder->recording);
  recording.end = {ClockNs(CLOCK_MONOTONIC), ClockNs(CLOCK_MONOTONIC_RAW)};
  pa_threaded_mainloop_unlock(recorder->loop);
  pa_threaded_mainloop_stop(recorder->loop);
  if (recorder->stream != nullptr) pa_stream_unref(recorder->stream);
  pa_context_unref(recorder->context);
  pa_threaded_mainloop_free(recorder->loop);
  return recording;
}

bool SaveRecording(const MonitorRecording& recording, const std::string& prefix) {
  std::ofstream raw(prefix + ".raw", std::ios::binary);
  raw.write(reinterpret_cast<const char*>(recording.pcm.data()),
            static_cast<std::streamsize>(recording.pcm.size() * sizeof(std::int16_t)));
  std::ofstream arrivals(prefix + ".arrivals");
  arrivals << "# steady_raw_start_end " << recording.start.steadyNs << ' ' << recording.start.rawNs << ' '
           << recording.end.steadyNs << ' ' << recording.end.rawNs << '\n';
  for (const auto& arrival : recording.arrivals) arrivals << arrival.frame << ' ' << arrival.steadyNs << '\n';
  return bool(raw) && bool(arrivals);
}

bool LoadRecording(const std::string& prefix, MonitorRecording& recording) {
  std::ifstream raw(prefix + ".raw", std::ios::binary);
  std::ifstream arrivals(prefix + ".arrivals");
  if (!raw || !arrivals) return false;
  const std::string bytes{std::istreambuf_iterator<char>(raw), std::istreambuf_iterator<char>()};
  recording.pcm.resize(bytes.size() / sizeof(std::int16_t));
  std::copy_n(bytes.data(), recording.pcm.size() * sizeof(std::int16_t),
              reinterpret_cast<char*>(recording.pcm.data()));
  std::string hash, name;
  arrivals >> hash >> name >> recording.start.steadyNs >> recording.start.rawNs >> recording.end.steadyNs >>
      recording.end.rawNs;
  MonitorRecording::Arrival arrival;
  while (arrivals >> arrival.frame >> arrival.steadyNs) recording.arrivals.push_back(arrival);
  return hash == "#" && !recording.arrivals.empty();
}

std::int64_t RawToSteady(const MonitorRecording& recording, std::int64_t rawNs) {
  const auto& [s0, r0] = recording.start;
  const auto& [s1, r1] = recording.end;
  if (r1 <= r0) return rawNs - (r0 - s0);
  const double rate = double(s1 - s0) / double(r1 - r0);
  return s0 + std::llround(double(rawNs - r0) * rate);
}

HeardLine FindHeardLine(const MonitorRecording& recording) {
  // The first piece of each burst starts a block: it arrived no earlier than
  // its frame was due. Late ones (the recorder woke up late) lie above.
  struct Start {
    std::int64_t frame;
    double late;  // arrival less the frame's time at the nominal rate, ns
  };
  std::vector<Start> starts;
  for (std::size_t i = 0; i < recording.arrivals.size(); ++i) {
    const auto& arrival = recording.arrivals[i];
    if (i == 0 || arrival.steadyNs - recording.arrivals[i - 1].steadyNs >= BurstGapNs)
      starts.push_back({arrival.frame, static_cast<double>(arrival.steadyNs) -
                                           static_cast<double>(arrival.frame) * NsPerFrame});
  }
  // In each stretch of LineWindowFrames, the low percentile of the starts (a
  // piece sent late passes for a block's start and lies below: not the
  // minimum); a straight line through those points.
  std::vector<double> xs, ys, spreads;
  for (std::size_t first = 0; first < starts.size();) {
    std::size_t last = first;
    while (last < starts.size() && starts[last].frame < starts[first].frame + LineWindowFrames) ++last;
    if (last - first >= MinimumStartsPerWindow) {
      std::vector<double> late;
      double frames = 0;
      for (std::size_t i = first; i < last; ++i) {
        late.push_back(starts[i].late);
        frames += static_cast<double>(starts[i].frame);
      }
      std::sort(late.begin(), late.end());
      xs.push_back(frames / static_cast<double>(last - first));
      ys.push_back(late[late.size() * LinePercentile / 100]);
      spreads.push_back(late[late.size() / 2] - ys.back());
    }
    first = last;
  }
  HeardLine line;
  if (xs.empty()) return line;
  line.valid = true;
  line.blocks = static_cast<int>(starts.size());
  line.spreadNs = Median(spreads);
  const auto points = static_cast<double>(xs.size());
  double slope = 0, meanX = 0, meanY = 0, sxy = 0, sxx = 0;
  for (std::size_t i = 0; i < xs.size(); ++i) {
    meanX += xs[i] / points;
    meanY += ys[i] / points;
  }
  for (std::size_t i = 0; i < xs.size(); ++i) {
    sxy += (xs[i] - meanX) * (ys[i] - meanY);
    sxx += (xs[i] - meanX) * (xs[i] - meanX);
  }
  if (sxx > 0) slope = sxy / sxx;
  line.startNs = meanY - slope * meanX;
  line.nsPerFrame = NsPerFrame + slope;
  return line;
}

double HeardNs(const HeardLine& line, double frame) { return line.startNs + frame * line.nsPerFrame; }

namespace {

// The best shift (b index - a index) of a[from, to) within b, trying
// shifts first to last; a stretch that lies partly outside b is compared where
// it overlaps, if that is at least half of it. Sets match to its correlation.
std::int64_t BestShift(const std::vector<double>& a, std::int64_t from, std::int64_t to, const std::vector<double>& b,
                       std::int64_t first, std::int64_t last, double& match) {
  const auto size = static_cast<std::int64_t>(b.size());
  std::int64_t best = first;
  match = -2;
  for (std::int64_t shift = first; shift <= last; ++shift) {
    const std::int64_t start = std::max(from, -shift), end = std::min(to, size - shift);
    if (2 * (end - start) < to - from) continue;
    const double c = Correlation(a, start, b, start + shift, end - start);
    if (c > match) {
      match = c;
      best = shift;
    }
  }
  return best;
}

}  // namespace

std::int64_t LocateInRecording(const std::vector<std::int16_t>& recording, const std::vector<std::int16_t>& music,
                               std::int64_t frame, double& match) {
  const std::vector<double> rec = Mono(recording), mus = Mono(music);
  const auto musFrames = static_cast<std::int64_t>(mus.size());
  if (frame < 0 || frame >= musFrames) {
    match = 0;
    return -1;
  }
  // Coarse: where the envelope around the event fits best.
  const std::vector<double> recEnvelope = Envelope(rec), musEnvelope = Envelope(mus);
  const auto recBlocks = static_cast<std::int64_t>(recEnvelope.size());
  const std::int64_t from = std::max<std::int64_t>(0, frame - CoarseWindowFrames) / EnvelopeFrames;
  const std::int64_t to = std::min(musFrames, frame + CoarseWindowFrames) / EnvelopeFrames;
  const std::int64_t coarse = BestShift(musEnvelope, from, to, recEnvelope, -to, recBlocks - from, match);
  // Fine: frame by frame around it.
  const std::int64_t fineFrom = std::max<std::int64_t>(0, frame - FineWindowFrames);
  const std::int64_t fineTo = std::min(musFrames, frame + FineWindowFrames);
  const std::int64_t fine = BestShift(mus, fineFrom, fineTo, rec, coarse * EnvelopeFrames - FineSearchFrames,
                                      coarse * EnvelopeFrames + FineSearchFrames, match);
  return match >= MinimumMatch ? frame + fine : -1;
}

EventOffset MeasureEvent(const MonitorRecording& recording, const HeardLine& line,
                         const std::vector<std::int16_t>& music, const std::vector<TimedMusic>& log,
                         std::int32_t eventMs) {
  EventOffset result;
  const auto eventFrame = static_cast<std::int64_t>(std::llround(eventMs * (AvSyncRate / 1000.0)));
  const std::int64_t at = LocateInRecording(recording.pcm, music, eventFrame, result.match);
  if (!line.valid || at < 0) {
    result.error = line.valid ? "the event is not in the recording" : "the recording has too few blocks";
    return result;
  }
  const double shift = static_cast<double>(at - eventFrame);  // recording frame - music frame
  std::vector<double> offsets;
  for (const TimedMusic& entry : log) {
    if (std::abs(entry.musicMs - eventMs) > NearEventMs) continue;
    const double heardNs = HeardNs(line, shift + entry.musicMs * (AvSyncRate / 1000.0));
    offsets.push_back((static_cast<double>(entry.steadyNs) - heardNs) / 1e6);
  }
  if (offsets.empty()) {
    result.error = "no log entry near the event";
    return result;
  }
  result.ok = true;
  result.entries = static_cast<int>(offsets.size());
  result.offsetMs = Median(offsets);
  return result;
}

bool LoadTimedMusic(const std::string& path, std::vector<TimedMusic>& log) {
  std::ifstream in(path);
  std::string text;
  while (std::getline(in, text)) {
    if (text.empty() || text[0] == '#') continue;
    std::istringstream line(text);
    TimedMusic entry;
    if (line >> entry.musicMs >> entry.steadyNs) log.push_back(entry);
  }
  return bool(in.eof()) && !log.empty();
}
