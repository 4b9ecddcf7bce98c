#include "sound_heard.h"

#include <algorithm>

namespace {

// Blocks kept at most. An output holds well under a second of written but
// unheard frames (a few dozen blocks); the bound only keeps an output that
// never reports what is heard from growing the list for ever.
constexpr std::size_t MaxBlocks = 1024;

bool SamePlay(const SoundQueuedBuffer& a, const SoundQueuedBuffer& b) {
  return a.stream == b.stream && a.play == b.play;
}

// The stream frame at output frame `at` of block, which must not lie before it:
// its stream frames play first, then silence at the last of them.
std::int64_t StreamFrameAt(const HeardTimeline::Block& block, std::int64_t at) {
  return block.buffer.start + std::min(at - block.outputStart, block.buffer.end - block.buffer.start);
}

}  // namespace

void HeardTimelineWritten(HeardTimeline& timeline, const SoundQueuedBuffer& buffer, std::int64_t frames) {
  if (frames <= 0) return;
  if (timeline.blocks.size() >= MaxBlocks) timeline.blocks.pop_front();
  timeline.blocks.push_back({timeline.written, frames, buffer});
  timeline.written += frames;
}

void HeardTimelineHeard(HeardTimeline& timeline, std::int64_t heard, std::int64_t limit, std::int64_t now) {
  auto& blocks = timeline.blocks;
  if (blocks.empty()) return;
  // Nothing is heard beyond what was written: past the end, the last frame.
  heard = std::min(heard, timeline.written - 1);
  limit = std::clamp(limit, heard, timeline.written);
  while (blocks.size() > 1 && blocks.front().outputStart + blocks.front().frames <= heard) blocks.pop_front();
  const HeardTimeline::Block& current = blocks.front();
  if (heard < current.outputStart || current.buffer.stream == nullptr) return;  // silence of no stream

  const std::int64_t heardFrame = StreamFrameAt(current, heard);
  std::int64_t limitFrame = heardFrame;
  for (const HeardTimeline::Block& block : blocks) {
    if (block.outputStart >= limit || !SamePlay(block.buffer, current.buffer)) break;
    limitFrame = StreamFrameAt(block, std::min(limit, block.outputStart + block.frames));
  }
  SoundQueuedBufferHeard(current.buffer, heardFrame, limitFrame, now);
}
