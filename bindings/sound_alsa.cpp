// The music module's output through ALSA's default device, for systems without
// a sound server. A thread of ours writes periods as the device makes room and
// asks it how many written frames are not yet heard (snd_pcm_delay: the
// buffer, the hardware's FIFO and whatever the driver knows of its codec);
// the frame heard is the frames written minus that delay, published through a
// HeardTimeline whenever it moves. Between publications the clock runs on at
// real-time speed for at most StallFrames.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <thread>

#include "sound.h"
#include "sound_heard.h"
#include "sound_linux_output.h"

namespace {

// The device's buffer: four periods (93 ms), as for the sound server.
constexpr unsigned BufferUs = 4 * SoundPeriodFrames * 1'000'000ull / SoundMixRate;
// The feeding thread wakes at least this often to look for a stop request and
// for a move of the device's position.
constexpr int WakeUpMs = 10;
// How far the clock runs on without news: two periods, since many devices
// move their position only once a period.
constexpr std::int64_t StallFrames = 2 * SoundPeriodFrames;

struct AlsaOutput {
  snd_pcm_t* pcm = nullptr;
  std::thread feeder;
  std::atomic<bool> stopping{false};
  // Feeder thread only.
  HeardTimeline timeline;
  std::array<std::int16_t, SoundPeriodFrames * SoundChannelsPerFrame> period{};
  snd_pcm_sframes_t pending = 0;  // frames of period not yet written
  snd_pcm_sframes_t offset = 0;   // frames of period already written
  std::int64_t written = 0;       // frames the device has taken
  std::int64_t lastHeard = -1;
};
AlsaOutput Alsa;

// ALSA reports a missing device or server on stderr by itself; the module
// reports its own error instead.
void Quiet(const char*, int, const char*, int, const char*, ...) {}

// Writes what the device takes of the current period, filling a new one first
// when the last is done. False when the device takes nothing now.
bool WriteSome() {
  if (Alsa.pending == 0) {
    const SoundQueuedBuffer buffer = SoundFillQueuedOutput(Alsa.period.data(), SoundPeriodFrames);
    HeardTimelineWritten(Alsa.timeline, buffer, SoundPeriodFrames);
    Alsa.pending = SoundPeriodFrames;
    Alsa.offset = 0;
  }
  const snd_pcm_sframes_t taken =
      snd_pcm_writei(Alsa.pcm, Alsa.period.data() + Alsa.offset * SoundChannelsPerFrame,
                     static_cast<snd_pcm_uframes_t>(Alsa.pending));
  if (taken == -EAGAIN) return false;
  if (taken < 0) {
    // An underrun (all written frames were heard) or a suspend: start again.
    snd_pcm_recover(Alsa.pcm, static_cast<int>(taken), 1);
    return false;
  }
  Alsa.pending -= taken;
  Alsa.offset += taken;
  Alsa.written += taken;
  return taken > 0;
}

void PublishHeard() {
  snd_pcm_sframes_t delay = 0;
  if (snd_pcm_delay(Alsa.pcm, &delay) < 0) return;
  const std::int64_t heard = Alsa.written - std::max<snd_pcm_sframes_t>(delay, 0);
  if (heard == Alsa.lastHeard) return;  // no news: the clock runs on from the last
  Alsa.lastHeard = heard;
  const bool running = snd_pcm_state(Alsa.pcm) == SND_PCM_STATE_RUNNING;
  HeardTimelineHeard(Alsa.timeline, heard, running ? heard + StallFrames : heard, SoundSteadyNow());
}

void Feed() {
  while (!Alsa.stopping.load()) {
    const int ready = snd_pcm_wait(Alsa.pcm, WakeUpMs);
    if (ready < 0) snd_pcm_recover(Alsa.pcm, ready, 1);
    while (!Alsa.stopping.load() && WriteSome()) {
    }
    PublishHeard();
  }
}

}  // namespace

int OpenAlsaOutput() {
  snd_lib_error_set_handler(Quiet);
  int error = snd_pcm_open(&Alsa.pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (error == 0)
    error = snd_pcm_set_params(Alsa.pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, SoundChannelsPerFrame,
                               SoundMixRate, 1, BufferUs);
  snd_lib_error_set_handler(nullptr);
  if (error < 0) {
    CloseAlsaOutput();
    return SoundErrorOutputDevice;
  }
  return SoundErrorNone;
}

void StartAlsaOutput() {
  if (Alsa.pcm != nullptr && !Alsa.feeder.joinable()) {
    Alsa.stopping = false;
    Alsa.feeder = std::thread(Feed);
  }
}

void CloseAlsaOutput() {
  if (Alsa.feeder.joinable()) {
    Alsa.stopping = true;
    Alsa.feeder.join();
  }
  if (Alsa.pcm != nullptr) {
    snd_pcm_drop(Alsa.pcm);
    snd_pcm_close(Alsa.pcm);
  }
  Alsa.pcm = nullptr;
  Alsa.timeline = HeardTimeline{};
  Alsa.pending = Alsa.offset = 0;
  Alsa.written = 0;
  Alsa.lastHeard = -1;
}
