// The music module's output through a sound server that speaks PulseAudio's
// protocol (PulseAudio itself, or PipeWire's pulse server), with libpulse's
// asynchronous API on a thread of its own.
//
// The server knows when our frames are heard: how far it has read our stream
// and how long its sink takes to play what it read. Every TimingIntervalUs the
// output asks it; each answer gives the frame heard at the moment the server
// answered (frames read minus the sink's latency), which the output publishes
// through a HeardTimeline. Between answers the clock runs on at real-time
// speed for at most StallFrames: a server that stops answering, or reports
// that it is not playing (an underrun), stops the clock.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdint>

#include "sound.h"
#include "sound_heard.h"
#include "sound_linux_output.h"

namespace {

constexpr std::size_t BytesPerFrame = SoundChannelsPerFrame * sizeof(std::int16_t);
// What the server keeps written ahead of what is heard: four periods (93 ms)
// ride out the late wake-ups of a busy machine, and the clock accounts for it.
constexpr std::uint32_t BufferFrames = 4 * SoundPeriodFrames;
// How often the output asks the server where it is.
constexpr pa_usec_t TimingIntervalUs = 10'000;
// How far the clock runs on without news: four timing intervals, so that a
// late answer does not make it wait, while a stall is noticed within 40 ms.
constexpr std::int64_t StallFrames = SoundMixRate * 4 * TimingIntervalUs / 1'000'000;
// An answer older than this is taken as this old (the system clock jumped).
constexpr pa_usec_t MaxAnswerAgeUs = 100'000;
// A server that does not connect or open our stream within this is absent.
constexpr pa_usec_t AnswerTimeoutUs = 3'000'000;

struct ServerOutput {
  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  pa_stream* stream = nullptr;
  pa_time_event* timer = nullptr;       // the timing requests, and the answer timeout while opening
  pa_operation* timingRequest = nullptr;
  bool timedOut = false;
  bool started = false;
  HeardTimeline timeline;
};
ServerOutput Server;

void Signal() { pa_threaded_mainloop_signal(Server.loop, 0); }

// --- On the server thread (or with the loop locked) ---------------------------

// Writes what the server asks for, in periods filled from the playing stream.
void Fill(std::size_t bytes) {
  while (bytes >= BytesPerFrame) {
    std::size_t size = std::min<std::size_t>(bytes, SoundPeriodFrames * BytesPerFrame);
    void* data = nullptr;
    if (pa_stream_begin_write(Server.stream, &data, &size) < 0 || data == nullptr) return;
    const auto frames = static_cast<int>(std::min(size, bytes) / BytesPerFrame);
    if (frames == 0) {
      pa_stream_cancel_write(Server.stream);
      return;
    }
    const SoundQueuedBuffer buffer = SoundFillQueuedOutput(static_cast<std::int16_t*>(data), frames);
    if (pa_stream_write(Server.stream, data, frames * BytesPerFrame, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    HeardTimelineWritten(Server.timeline, buffer, frames);
    bytes -= frames * BytesPerFrame;
  }
}

void WriteRequested(pa_stream*, std::size_t bytes, void*) {
  if (Server.started) Fill(bytes);
}

// New timing from the server: at the moment it answered (timing->timestamp,
// on the system clock), it had read read_index bytes of our stream and its
// sink would play the last of them sink_usec later. So the frame heard then
// was the frames read minus the sink's latency; published with the steady
// time of that moment.
void TimingUpdated(pa_stream* stream, void*) {
  const pa_timing_info* timing = pa_stream_get_timing_info(stream);
  if (!Server.started || timing == nullptr || timing->read_index_corrupt) return;
  const std::int64_t heard = timing->read_index / static_cast<std::int64_t>(BytesPerFrame) -
                             static_cast<std::int64_t>(timing->sink_usec) * SoundMixRate / 1'000'000;
  if (heard < 0) return;  // nothing of ours heard yet
  timeval now{};
  pa_gettimeofday(&now);
  const pa_usec_t age = pa_timeval_cmp(&now, &timing->timestamp) > 0 ? pa_timeval_diff(&now, &timing->timestamp) : 0;
  const std::int64_t at = SoundSteadyNow() - static_cast<std::int64_t>(std::min<pa_usec_t>(age, MaxAnswerAgeUs)) * 1000;
  // Not playing: an underrun, or the stream's start. The clock waits.
  HeardTimelineHeard(Server.timeline, heard, timing->playing ? heard + StallFrames : heard, at);
}

void AskForTiming(pa_mainloop_api*, pa_time_event* timer, const struct timeval*, void*) {
  if (Server.timingRequest != nullptr && pa_operation_get_state(Server.timingRequest) != PA_OPERATION_RUNNING) {
    pa_operation_unref(Server.timingRequest);
    Server.timingRequest = nullptr;
  }
  if (Server.timingRequest == nullptr && Server.started)
    Server.timingRequest = pa_stream_update_timing_info(Server.stream, nullptr, nullptr);
  pa_context_rttime_restart(Server.context, timer, pa_rtclock_now() + TimingIntervalUs);
}

void AnswerTimedOut(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*) {
  Server.timedOut = true;
  Signal();
}

// --- On the caller's thread ---------------------------------------------------

// With the loop locked: waits until ready() or failed(), or the answer timeout.
template <typename Ready, typename Failed>
bool WaitFor(Ready ready, Failed failed) {
  Server.timedOut = false;
  pa_time_event* deadline =
      pa_context_rttime_new(Server.context, pa_rtclock_now() + AnswerTimeoutUs, AnswerTimedOut, nullptr);
  while (!ready() && !failed() && !Server.timedOut) pa_threaded_mainloop_wait(Server.loop);
  if (deadline != nullptr) pa_threaded_mainloop_get_api(Server.loop)->time_free(deadline);
  return ready();
}

// With the loop locked: the context connected, the stream opened, corked.
bool Connect() {
  pa_context_set_state_callback(Server.context, [](pa_context*, void*) { Signal(); }, nullptr);
  if (pa_context_connect(Server.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
  if (!WaitFor([] { return pa_context_get_state(Server.context) == PA_CONTEXT_READY; },
               [] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(Server.context)); }))
    return false;

  const pa_sample_spec format{PA_SAMPLE_S16NE, SoundMixRate, SoundChannelsPerFrame};
  Server.stream = pa_stream_new(Server.context, "music", &format, nullptr);
  if (Server.stream == nullptr) return false;
  pa_stream_set_state_callback(Server.stream, [](pa_stream*, void*) { Signal(); }, nullptr);
  pa_stream_set_write_callback(Server.stream, WriteRequested, nullptr);
  pa_stream_set_latency_update_callback(Server.stream, TimingUpdated, nullptr);
  constexpr auto Default = static_cast<std::uint32_t>(-1);
  const pa_buffer_attr buffering{Default, BufferFrames * BytesPerFrame, Default, SoundPeriodFrames * BytesPerFrame,
                                 Default};
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
  if (pa_stream_connect_playback(Server.stream, nullptr, &buffering, flags, nullptr, nullptr) < 0) return false;
  if (!WaitFor([] { return pa_stream_get_state(Server.stream) == PA_STREAM_READY; },
               [] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(Server.stream)); }))
    return false;
  Server.timer = pa_context_rttime_new(Server.context, pa_rtclock_now() + TimingIntervalUs, AskForTiming, nullptr);
  return Server.timer != nullptr;
}

}  // namespace

int OpenServerOutput() {
  Server = ServerOutput{};
  Server.loop = pa_threaded_mainloop_new();
  if (Server.loop == nullptr) return SoundErrorOutputDevice;
  Server.context = pa_context_new(pa_threaded_mainloop_get_api(Server.loop), "quenrik");
  if (Server.context == nullptr || pa_threaded_mainloop_start(Server.loop) < 0) {
    CloseServerOutput();
    return SoundErrorOutputDevice;
  }
  pa_threaded_mainloop_lock(Server.loop);
  const bool connected = Connect();
  pa_threaded_mainloop_unlock(Server.loop);
  if (!connected) {
    CloseServerOutput();
    return SoundErrorOutputDevice;
  }
  return SoundErrorNone;
}

// Fills the server's buffer and lets it play.
void StartServerOutput() {
  if (Server.stream == nullptr) return;
  pa_threaded_mainloop_lock(Server.loop);
  Server.started = true;
  Fill(pa_stream_writable_size(Server.stream));
  if (pa_operation* uncork = pa_stream_cork(Server.stream, 0, nullptr, nullptr)) pa_operation_unref(uncork);
  pa_threaded_mainloop_unlock(Server.loop);
}

void CloseServerOutput() {
  if (Server.loop != nullptr) {
    pa_threaded_mainloop_lock(Server.loop);
    if (Server.timer != nullptr) pa_threaded_mainloop_get_api(Server.loop)->time_free(Server.timer);
    if (Server.timingRequest != nullptr) {
      pa_operation_cancel(Server.timingRequest);
      pa_operation_unref(Server.timingRequest);
    }
    if (Server.stream != nullptr) {
      pa_stream_set_write_callback(Server.stream, nullptr, nullptr);
      pa_stream_set_latency_update_callback(Server.stream, nullptr, nullptr);
      pa_stream_set_state_callback(Server.stream, nullptr, nullptr);
      pa_stream_disconnect(Server.stream);
    }
    if (Server.context != nullptr) {
      pa_context_set_state_callback(Server.context, nullptr, nullptr);
      pa_context_disconnect(Server.context);
    }
    pa_threaded_mainloop_unlock(Server.loop);
    pa_threaded_mainloop_stop(Server.loop);
  }
  if (Server.stream != nullptr) pa_stream_unref(Server.stream);
  if (Server.context != nullptr) pa_context_unref(Server.context);
  if (Server.loop != nullptr) pa_threaded_mainloop_free(Server.loop);
  Server = ServerOutput{};
}
