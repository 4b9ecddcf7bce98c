// The music module's logic: streams, the device-side fill, the smooth clock and
// the error codes. Platform calls go through sound_platform.h.
#include "sound.h"

#include "sound_platform.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

// Upper bound on SoundInit's channel count, only to reject nonsense.
constexpr int MaxChannels = 64;
// How long SoundStreamPlay waits for the first frame to be heard. A sound
// server's sink may first play out what it rendered before the stream came (a
// null sink renders up to two seconds ahead when nobody asks for less); the
// caller's clock should move from its first reading on, not sit at 0 for
// longer than its stall limit.
constexpr auto FirstFrameWait = std::chrono::seconds(3);
constexpr std::int64_t NanosecondsPerSecond = 1'000'000'000;

// Where the device was when it last handed out a buffer of a stream. Written by
// the device thread, read by the show's thread; published as a seqlock so that
// a reader never sees start and time from different callbacks.
struct ClockRecord {
  std::int64_t start = 0;  // first stream frame of the buffer
  std::int64_t end = 0;    // one past its last stream frame (0: none handed out)
  std::int64_t time = 0;   // steady-clock time of the hand-out, ns
};

struct SoundStream {
  std::vector<std::int16_t> pcm;  // interleaved stereo, the whole stream
  std::int64_t frames = 0;        // pcm.size() / SoundChannelsPerFrame
  std::int64_t nextFrame = 0;     // next frame to hand out (under MusicState::playLock)
  std::atomic<std::uint32_t> sequence{0};  // odd while the record is being written
  std::atomic<std::int64_t> clockStart{0};
  std::atomic<std::int64_t> clockEnd{0};
  std::atomic<std::int64_t> clockTime{0};
  std::int32_t lastAnswer = 0;  // the clock's last reading (show's thread only)
};

struct MusicState {
  bool initialised = false;
  int output = SoundOutputPlatform;
  int driver = 0;
  int maxChannels = 0;
  int lastError = SoundErrorNone;
  bool deviceStarted = false;
  std::vector<std::unique_ptr<SoundStream>> streams;
  std::mutex playLock;              // guards playing and its nextFrame against the device thread
  SoundStream* playing = nullptr;
  std::uint64_t plays = 0;          // SoundStreamPlay calls so far (under playLock)
  std::atomic<SoundNowFunction> now{nullptr};  // null: std::chrono::steady_clock
};

static MusicState Music;

// --- Helpers ----------------------------------------------------------------

static bool Fail(int code) {
  Music.lastError = code;
  return false;
}

std::int64_t SoundSteadyNow() {
  SoundNowFunction now = Music.now.load(std::memory_order_relaxed);
  if (now != nullptr) {
    return now();
  }
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

static bool Known(const SoundStream* stream) {
  return stream != nullptr &&
         std::any_of(Music.streams.begin(), Music.streams.end(),
                     [stream](const auto& s) { return s.get() == stream; });
}

// Checks a stream argument: code 2 before SoundInit, 14 for an unknown handle.
static bool CheckStream(const SoundStream* stream) {
  if (!Music.initialised) {
    return Fail(SoundErrorNotInitialised);
  }
  if (!Known(stream)) {
    return Fail(SoundErrorInvalidParameter);
  }
  return true;
}

static void PublishClock(SoundStream& stream, std::int64_t start, std::int64_t end, std::int64_t time) {
  std::uint32_t sequence = stream.sequence.load(std::memory_order_relaxed);
  stream.sequence.store(sequence + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  stream.clockStart.store(start, std::memory_order_relaxed);
  stream.clockEnd.store(end, std::memory_order_relaxed);
  stream.clockTime.store(time, std::memory_order_relaxed);
  stream.sequence.store(sequence + 2, std::memory_order_release);
}

static ClockRecord ReadClock(const SoundStream& stream) {
  for (;;) {
    std::uint32_t before = stream.sequence.load(std::memory_order_acquire);
    if (before & 1u) {
      continue;  // the device thread is writing; it takes a few instructions
    }
    ClockRecord record;
    record.start = stream.clockStart.load(std::memory_order_relaxed);
    record.end = stream.clockEnd.load(std::memory_order_relaxed);
    record.time = stream.clockTime.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (stream.sequence.load(std::memory_order_relaxed) == before) {
      return record;
    }
  }
}

// Frames of the stream played by now: the start of the last buffer handed out
// plus the time since, never past that buffer's end. Between callbacks this
// moves smoothly; when the callbacks stop (end of stream, stalled device) it
// stops at the end of the last buffer.
static std::int64_t PlayedFrames(const SoundStream& stream) {
  ClockRecord record = ReadClock(stream);
  if (record.end == 0) {
    return 0;
  }
  // Elapsed time is capped at one second (longer than any period) so that the
  // product below cannot overflow; rounded to the nearest frame.
  std::int64_t elapsed = std::clamp<std::int64_t>(SoundSteadyNow() - record.time, 0, NanosecondsPerSecond);
  std::int64_t ahead = (elapsed * SoundMixRate + NanosecondsPerSecond / 2) / NanosecondsPerSecond;
  return std::min(record.start + ahead, record.end);
}

static std::int32_t FramesToMilliseconds(std::int64_t frames) {
  return static_cast<std::int32_t>(frames * 1000 / SoundMixRate);
}

// --- Device side ------------------------------------------------------------

SoundQueuedBuffer SoundFillQueuedOutput(std::int16_t* out, int frames) {
  SoundQueuedBuffer buffer;
  if (out == nullptr || frames <= 0) {
    return buffer;
  }
  std::int64_t copied = 0;
  {
    std::lock_guard<std::mutex> lock(Music.playLock);
    if (SoundStream* stream = Music.playing) {
      std::int64_t start = stream->nextFrame;
      copied = std::clamp<std::int64_t>(stream->frames - start, 0, frames);
      std::copy_n(stream->pcm.data() + start * SoundChannelsPerFrame, copied * SoundChannelsPerFrame, out);
      stream->nextFrame = start + copied;
      buffer = {stream, Music.plays, start, start + copied};
    }
  }
  std::fill(out + copied * SoundChannelsPerFrame, out + std::int64_t{frames} * SoundChannelsPerFrame,
            std::int16_t{0});
  return buffer;
}

void SoundQueuedBufferStarted(const SoundQueuedBuffer& buffer) {
  std::lock_guard<std::mutex> lock(Music.playLock);
  // A buffer filled before the stream was closed or played again is stale.
  if (buffer.end > buffer.start && buffer.stream == Music.playing && buffer.play == Music.plays) {
    PublishClock(*buffer.stream, buffer.start, buffer.end, SoundSteadyNow());
  }
}

void SoundQueuedBufferHeard(const SoundQueuedBuffer& buffer, std::int64_t heard, std::int64_t limit,
                            std::int64_t time) {
  std::lock_guard<std::mutex> lock(Music.playLock);
  if (buffer.stream != nullptr && buffer.stream == Music.playing && buffer.play == Music.plays) {
    PublishClock(*buffer.stream, heard, std::max(heard, limit), time);
  }
}

void SoundFillOutput(std::int16_t* out, int frames) {
  SoundQueuedBufferStarted(SoundFillQueuedOutput(out, frames));
}

void SoundSetClock(SoundNowFunction now) { Music.now.store(now, std::memory_order_relaxed); }

// --- Operations ---------------------------------------------------------------

bool SoundSetOutput(int output) {
  if (Music.initialised) {
    return Fail(SoundErrorAlreadyInitialised);
  }
  if (output < SoundOutputPlatform || output > SoundOutputSdl) {
    return Fail(SoundErrorInvalidParameter);
  }
  Music.output = output;
  return true;
}

bool SoundSetDriver(int driver) {
  if (Music.initialised) {
    return Fail(SoundErrorAlreadyInitialised);
  }
  if (driver != 0) {
    return Fail(SoundErrorInvalidParameter);
  }
  Music.driver = driver;
  return true;
}

bool SoundInit(int mixRate, int maxChannels, unsigned flags) {
  (void)flags;
  if (Music.initialised) {
    return Fail(SoundErrorAlreadyInitialised);
  }
  if (mixRate != SoundMixRate || maxChannels < 1 || maxChannels > MaxChannels) {
    return Fail(SoundErrorInvalidParameter);
  }
  if (Music.output != SoundOutputManual) {
    int error = OpenOutputDevice(Music.output, Music.driver);
    if (error != SoundErrorNone) {
      return Fail(error);
    }
  }
  Music.initialised = true;
  Music.maxChannels = maxChannels;
  Music.deviceStarted = false;
  Music.lastError = SoundErrorNone;
  return true;
}

int SoundGetError() { return Music.lastError; }

const char* SoundOutputName() {
  if (!Music.initialised) return "";
  return Music.output == SoundOutputManual ? "manual" : OutputDeviceName();
}

SoundStream* SoundStreamOpenFile(const char* path, unsigned mode, int offset) {
  (void)mode;
  if (!Music.initialised) {
    Fail(SoundErrorNotInitialised);
    return nullptr;
  }
  if (path == nullptr || offset != 0) {
    Fail(SoundErrorInvalidParameter);
    return nullptr;
  }
  try {
    auto stream = std::make_unique<SoundStream>();
    int error = DecodeMp3File(path, stream->pcm);
    if (error != SoundErrorNone) {
      Fail(error);
      return nullptr;
    }
    stream->frames = static_cast<std::int64_t>(stream->pcm.size()) / SoundChannelsPerFrame;
    Music.streams.push_back(std::move(stream));
  } catch (const std::bad_alloc&) {
    Fail(SoundErrorOutOfMemory);
    return nullptr;
  }
  return Music.streams.back().get();
}

bool SoundStreamFinished(SoundStream* stream) {
  if (!CheckStream(stream)) {
    return false;
  }
  return PlayedFrames(*stream) >= stream->frames;
}

int SoundStreamPlay(int channel, SoundStream* stream) {
  if (!CheckStream(stream)) {
    return -1;
  }
  if (channel < -1 || channel >= Music.maxChannels) {
    Fail(SoundErrorInvalidParameter);
    return -1;
  }
  {
    std::lock_guard<std::mutex> lock(Music.playLock);
    SoundStream* playing = Music.playing;
    if (playing != nullptr && playing != stream && PlayedFrames(*playing) < playing->frames) {
      Fail(SoundErrorNoChannel);
      return -1;
    }
    stream->nextFrame = 0;
    PublishClock(*stream, 0, 0, 0);
    stream->lastAnswer = 0;
    Music.playing = stream;
    ++Music.plays;
  }
  if (Music.output != SoundOutputManual) {
    if (!Music.deviceStarted) {
      StartOutputDevice();
      Music.deviceStarted = true;
    }
    const auto deadline = std::chrono::steady_clock::now() + FirstFrameWait;
    while (PlayedFrames(*stream) == 0 && stream->frames > 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return channel < 0 ? 0 : channel;
}

std::int32_t SoundStreamGetTime(SoundStream* stream) {
  if (!CheckStream(stream)) {
    return 0;
  }
  stream->lastAnswer = std::max(stream->lastAnswer, FramesToMilliseconds(PlayedFrames(*stream)));
  return stream->lastAnswer;
}

std::int32_t SoundStreamGetLength(SoundStream* stream) {
  if (!CheckStream(stream)) {
    return 0;
  }
  return FramesToMilliseconds(stream->frames);
}

bool SoundStreamClose(SoundStream* stream) {
  if (!CheckStream(stream)) {
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(Music.playLock);
    if (Music.playing == stream) {
      Music.playing = nullptr;
    }
  }
  std::erase_if(Music.streams, [stream](const auto& s) { return s.get() == stream; });
  return true;
}

void SoundClose() {
  if (Music.initialised && Music.output != SoundOutputManual) {
    CloseOutputDevice();
  }
  {
    std::lock_guard<std::mutex> lock(Music.playLock);
    Music.playing = nullptr;
  }
  Music.streams.clear();
  Music.initialised = false;
  Music.output = SoundOutputPlatform;
  Music.driver = 0;
  Music.maxChannels = 0;
  Music.deviceStarted = false;
  Music.lastError = SoundErrorNone;
}
