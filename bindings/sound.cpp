// The music module's logic: streams, the device-side fill, the smooth clock and
// the error codes. Platform calls go through sound_platform.h.
#include "sound.h"

#include "sound_platform.h"
#include "thread_priority.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <stop_token>
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

// The stream is decoded while it plays: this much is decoded when it opens
// (a few milliseconds of work; all of a file that short), and a thread of its
// own keeps the decoded part this far ahead of the frames handed to the
// device, waking every DecodeWakeInterval to look.
constexpr std::int64_t DecodeAtOpenFrames = SoundMixRate;
constexpr std::int64_t DecodeAheadFrames = 4 * SoundMixRate;
constexpr auto DecodeWakeInterval = std::chrono::milliseconds(100);
// Decoded PCM lives in blocks of a second that never move, so the device
// thread reads what is there while the decoder appends.
constexpr std::int64_t BlockFrames = SoundMixRate;
constexpr std::int64_t MaxBlocks = (MaxDecodedFrames + BlockFrames - 1) / BlockFrames;

struct SoundStream {
  std::array<std::unique_ptr<std::int16_t[]>, MaxBlocks> blocks;  // interleaved stereo
  // Frames decoded so far: published (release) once their blocks are written.
  std::atomic<std::int64_t> decoded{0};
  std::atomic<bool> complete{false};         // decoded is the stream's length
  std::atomic<std::int64_t> handedOut{0};    // nextFrame, for the decoder's pace
  std::atomic<bool> decodeAll{false};        // someone waits for the length: no pause
  Mp3DecoderHandle decoder;                  // the decoding thread's once it runs
  std::mutex decodeLock;                     // with decodingChanged: the decoder's pauses and end
  std::condition_variable_any decodingChanged;
  std::int64_t nextFrame = 0;     // next frame to hand out (under MusicState::playLock)
  std::atomic<std::uint32_t> sequence{0};  // odd while the record is being written
  std::atomic<std::int64_t> clockStart{0};
  std::atomic<std::int64_t> clockEnd{0};
  std::atomic<std::int64_t> clockTime{0};
  std::int32_t lastAnswer = 0;  // the clock's last reading (show's thread only)
  std::jthread decoding;  // last: stopped and joined before the rest goes
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

// Appends interleaved frames to the stream's blocks and publishes them. Only
// one thread appends at a time (the opener, then the decoding thread).
static bool AppendDecoded(SoundStream& stream, const std::vector<std::int16_t>& pcm) {
  std::int64_t at = stream.decoded.load(std::memory_order_relaxed);
  const std::int64_t frames = std::min<std::int64_t>(static_cast<std::int64_t>(pcm.size()) / SoundChannelsPerFrame,
                                                     MaxDecodedFrames - at);
  for (std::int64_t done = 0; done < frames;) {
    const std::int64_t block = at / BlockFrames, offset = at % BlockFrames;
    if (!stream.blocks[block]) stream.blocks[block].reset(new std::int16_t[BlockFrames * SoundChannelsPerFrame]);
    const std::int64_t count = std::min(frames - done, BlockFrames - offset);
    std::copy_n(pcm.data() + done * SoundChannelsPerFrame, count * SoundChannelsPerFrame,
                stream.blocks[block].get() + offset * SoundChannelsPerFrame);
    done += count;
    at += count;
  }
  stream.decoded.store(at, std::memory_order_release);
  return at < MaxDecodedFrames;
}

static void CompleteDecode(SoundStream& stream) {
  stream.decoder.reset();
  {
    std::lock_guard<std::mutex> lock(stream.decodeLock);
    stream.complete.store(true, std::memory_order_release);
  }
  stream.decodingChanged.notify_all();
}

// One piece; false once the stream is decoded to its end (or as far as a
// damage or the length limit lets it).
static bool DecodeNextPiece(SoundStream& stream, std::vector<std::int16_t>& piece) {
  piece.clear();
  const Mp3Piece result = DecodeMp3Piece(*stream.decoder, piece);
  const bool room = AppendDecoded(stream, piece);
  return result == Mp3Piece::Decoded && room;
}

// The decoding thread: keeps DecodeAheadFrames ahead of the device.
static void DecodeAhead(std::stop_token stop, SoundStream& stream) {
  LowerThreadPriority();  // the frames come first; the decoder is seconds ahead
  std::vector<std::int16_t> piece;
  try {
    while (!stop.stop_requested()) {
      const std::int64_t ahead = stream.decoded.load(std::memory_order_relaxed) -
                                 stream.handedOut.load(std::memory_order_relaxed);
      if (ahead >= DecodeAheadFrames && !stream.decodeAll.load()) {
        std::unique_lock<std::mutex> lock(stream.decodeLock);
        stream.decodingChanged.wait_for(lock, stop, DecodeWakeInterval, [&] { return stream.decodeAll.load(); });
      } else if (!DecodeNextPiece(stream, piece)) {
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    // Out of memory: the stream ends where the decoding stopped.
  }
  CompleteDecode(stream);
}

// The stream's whole length: the decoder goes on to the end without pausing,
// and this waits for it.
static std::int64_t StreamLength(SoundStream& stream) {
  std::unique_lock<std::mutex> lock(stream.decodeLock);
  stream.decodeAll = true;
  stream.decodingChanged.notify_all();
  stream.decodingChanged.wait(lock, [&] { return stream.complete.load(std::memory_order_acquire); });
  return stream.decoded.load(std::memory_order_acquire);
}

// Every decoded frame has been played and there are no more to come.
static bool PlayedToTheEnd(const SoundStream& stream) {
  return stream.complete.load(std::memory_order_acquire) &&
         PlayedFrames(stream) >= stream.decoded.load(std::memory_order_acquire);
}

static void CopyFrames(const SoundStream& stream, std::int64_t start, std::int64_t count, std::int16_t* out) {
  while (count > 0) {
    const std::int64_t block = start / BlockFrames, offset = start % BlockFrames;
    const std::int64_t n = std::min(count, BlockFrames - offset);
    std::copy_n(stream.blocks[block].get() + offset * SoundChannelsPerFrame, n * SoundChannelsPerFrame, out);
    out += n * SoundChannelsPerFrame;
    start += n;
    count -= n;
  }
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
      // What is decoded; if the decoder fell behind, silence and a clock that
      // waits, as for a device that stalls.
      std::int64_t start = stream->nextFrame;
      copied = std::clamp<std::int64_t>(stream->decoded.load(std::memory_order_acquire) - start, 0, frames);
      CopyFrames(*stream, start, copied, out);
      stream->nextFrame = start + copied;
      stream->handedOut.store(stream->nextFrame, std::memory_order_relaxed);
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
    int error = OpenMp3Decoder(path, stream->decoder);
    if (error != SoundErrorNone) {
      Fail(error);
      return nullptr;
    }
    // The first second now, so that a file holding no MPEG audio fails here;
    // the rest as it plays.
    std::vector<std::int16_t> piece;
    bool more = true;
    while (more && stream->decoded.load(std::memory_order_relaxed) < DecodeAtOpenFrames)
      more = DecodeNextPiece(*stream, piece);
    if (stream->decoded.load(std::memory_order_relaxed) == 0) {
      Fail(SoundErrorUnknownFormat);
      return nullptr;
    }
    if (more) {
      stream->decoding = std::jthread(DecodeAhead, std::ref(*stream));
    } else {
      CompleteDecode(*stream);
    }
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
  return PlayedToTheEnd(*stream);
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
    if (playing != nullptr && playing != stream && !PlayedToTheEnd(*playing)) {
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
    while (PlayedFrames(*stream) == 0 && std::chrono::steady_clock::now() < deadline)
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
  return FramesToMilliseconds(StreamLength(*stream));
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
