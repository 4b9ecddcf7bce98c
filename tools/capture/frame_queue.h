// Frames handed from the render thread to the encoder thread. A fixed number
// of pixel buffers circulates between them, so the queue is bounded: the
// render thread waits for a free buffer when the encoder falls behind.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

struct CapturedFrame {
  std::int64_t number = 0;            // the show's frame number (its clock is FrameClock(number))
  std::vector<std::uint8_t> pixels;   // RGBA, bottom row first (glReadPixels order)
};

struct FrameQueue {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<CapturedFrame> full;                  // waiting for the encoder, oldest first
  std::vector<std::vector<std::uint8_t>> spare;    // buffers free for the renderer
  bool closed = false;                             // no more frames will come
  bool aborted = false;                            // the encoder gave up: stop rendering
};

// Buffers in flight: one being read back, one being encoded, one waiting.
// More only adds memory (33 MB a frame at 4096 x 2048), not speed.
constexpr int FrameQueueBuffers = 3;

inline void FillFrameQueue(FrameQueue& queue, std::size_t frameBytes) {
  for (int i = 0; i < FrameQueueBuffers; ++i) queue.spare.emplace_back(frameBytes);
}

// Render thread: a free buffer, waiting for one; empty when the encoder aborted.
inline std::vector<std::uint8_t> TakeSpareBuffer(FrameQueue& queue) {
  std::unique_lock guard(queue.lock);
  queue.changed.wait(guard, [&] { return queue.aborted || !queue.spare.empty(); });
  if (queue.aborted) return {};
  std::vector<std::uint8_t> buffer = std::move(queue.spare.back());
  queue.spare.pop_back();
  return buffer;
}

inline void PushFrame(FrameQueue& queue, CapturedFrame frame) {
  {
    std::lock_guard guard(queue.lock);
    queue.full.push_back(std::move(frame));
  }
  queue.changed.notify_all();
}

// Render thread: no more frames.
inline void CloseFrameQueue(FrameQueue& queue) {
  {
    std::lock_guard guard(queue.lock);
    queue.closed = true;
  }
  queue.changed.notify_all();
}

// Encoder thread: the next frame; false once the queue is closed and empty.
inline bool PopFrame(FrameQueue& queue, CapturedFrame& frame) {
  std::unique_lock guard(queue.lock);
  queue.changed.wait(guard, [&] { return queue.closed || !queue.full.empty(); });
  if (queue.full.empty()) return false;
  frame = std::move(queue.full.front());
  queue.full.pop_front();
  return true;
}

inline void ReturnBuffer(FrameQueue& queue, std::vector<std::uint8_t> buffer) {
  {
    std::lock_guard guard(queue.lock);
    queue.spare.push_back(std::move(buffer));
  }
  queue.changed.notify_all();
}

// Encoder thread: it failed; wake the renderer so it stops.
inline void AbortFrameQueue(FrameQueue& queue) {
  {
    std::lock_guard guard(queue.lock);
    queue.aborted = true;
  }
  queue.changed.notify_all();
}

inline bool FrameQueueAborted(FrameQueue& queue) {
  std::lock_guard guard(queue.lock);
  return queue.aborted;
}
