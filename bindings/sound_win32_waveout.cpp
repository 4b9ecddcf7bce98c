// The music module's output device on Windows: waveOut, 44.1 kHz 16-bit
// stereo, fed by a thread of ours in SoundPeriodFrames-frame buffers.
//
// OutputBuffers buffers are queued on the device and each is refilled as soon
// as the system hands it back as played. The clock follows the buffer being
// heard, not the one being filled: a buffer's frames are published when the
// one before it comes back (the first at once), so the clock starts at 0 with
// the first sound and never runs ahead of it; it follows the device's real
// pace, whatever it is (under Wine the first seconds play slower than the wall
// clock), and lags what is heard at most by how late the system reports a
// hand-back.
#include "sound.h"
#include "sound_platform.h"

#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <array>
#include <atomic>
#include <thread>

namespace {

// Buffers queued on the device: enough to ride out a late wake-up of the
// feeding thread (each is 23 ms), few enough to keep the clock's lead small.
constexpr int OutputBuffers = 3;
// The feeding thread also wakes this often to look for a stop request.
constexpr DWORD WakeUpMs = 50;

struct WaveOutDevice {
  HWAVEOUT handle = nullptr;
  HANDLE bufferDone = nullptr;  // set by the system whenever it hands a buffer back
  std::array<WAVEHDR, OutputBuffers> headers{};
  std::array<std::array<std::int16_t, SoundPeriodFrames * SoundChannelsPerFrame>, OutputBuffers> buffers{};
  std::array<SoundQueuedBuffer, OutputBuffers> contents{};  // the stream frames in each buffer
  std::thread feeder;
  std::atomic<bool> stopping{false};
};
WaveOutDevice Device;

// Fills buffer index with the next period of the stream and queues it.
void Queue(int index) {
  const auto i = static_cast<std::size_t>(index);
  WAVEHDR& header = Device.headers[i];
  Device.contents[i] = SoundFillQueuedOutput(Device.buffers[i].data(), SoundPeriodFrames);
  header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
  waveOutWrite(Device.handle, &header, sizeof header);
}

// Buffers play and come back in the order they were queued. When buffer next
// comes back, the one after it is playing from now on: its frames go to the
// clock, and next is refilled at once behind the others.
void Feed() {
  Queue(0);  // plays at once
  SoundQueuedBufferStarted(Device.contents[0]);
  for (int i = 1; i < OutputBuffers; ++i) Queue(i);
  int next = 0;
  while (!Device.stopping.load()) {
    WaitForSingleObject(Device.bufferDone, WakeUpMs);
    while (!Device.stopping.load() && (Device.headers[static_cast<std::size_t>(next)].dwFlags & WHDR_DONE) != 0) {
      const int playing = (next + 1) % OutputBuffers;
      SoundQueuedBufferStarted(Device.contents[static_cast<std::size_t>(playing)]);
      Queue(next);
      next = playing;
    }
  }
}

}  // namespace

int OpenOutputDevice(int output, int driver) {
  // Only the default device (the wave mapper); the other outputs are Linux's.
  if (output != SoundOutputPlatform || driver != 0) return SoundErrorOutputDevice;
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = SoundChannelsPerFrame;
  format.nSamplesPerSec = SoundMixRate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = static_cast<WORD>(SoundChannelsPerFrame * sizeof(std::int16_t));
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;

  Device.bufferDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (Device.bufferDone == nullptr) return SoundErrorOutputDevice;
  if (waveOutOpen(&Device.handle, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(Device.bufferDone), 0,
                  CALLBACK_EVENT) != MMSYSERR_NOERROR) {
    Device.handle = nullptr;
    CloseHandle(Device.bufferDone);
    Device.bufferDone = nullptr;
    return SoundErrorOutputDevice;
  }
  for (std::size_t i = 0; i < Device.headers.size(); ++i) {
    WAVEHDR& header = Device.headers[i];
    header = WAVEHDR{};
    header.lpData = reinterpret_cast<LPSTR>(Device.buffers[i].data());
    header.dwBufferLength = static_cast<DWORD>(sizeof Device.buffers[i]);
    if (waveOutPrepareHeader(Device.handle, &header, sizeof header) != MMSYSERR_NOERROR) {
      CloseOutputDevice();
      return SoundErrorOutputDevice;
    }
  }
  Device.stopping = false;
  return SoundErrorNone;
}

// Nothing is queued before this, so the device is silent and the clock at 0.
void StartOutputDevice() {
  if (Device.handle != nullptr && !Device.feeder.joinable()) Device.feeder = std::thread(Feed);
}

void CloseOutputDevice() {
  if (Device.feeder.joinable()) {
    Device.stopping = true;
    SetEvent(Device.bufferDone);
    Device.feeder.join();
  }
  if (Device.handle != nullptr) {
    waveOutReset(Device.handle);  // hands every queued buffer back
    for (WAVEHDR& header : Device.headers) {
      if (header.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(Device.handle, &header, sizeof header);
    }
    waveOutClose(Device.handle);
    Device.handle = nullptr;
  }
  if (Device.bufferDone != nullptr) {
    CloseHandle(Device.bufferDone);
    Device.bufferDone = nullptr;
  }
}

const char* OutputDeviceName() { return "waveout"; }
