// The music clock for outputs that know when their sound is heard: a sound
// server (PulseAudio, or PipeWire's pulse server) or ALSA report how far the
// listener is behind the data written to them. Such an output writes blocks of
// frames, each filled by SoundFillQueuedOutput, and from time to time learns
// that output frame H (counted from its first write) is being heard now. This
// record remembers which stream frames went into which output frames, so that
// H becomes the stream frame the listener hears, and publishes it to the clock.
//
// Used from the output's own thread only.
#pragma once

#include <cstdint>
#include <deque>

#include "sound.h"

struct HeardTimeline {
  struct Block {
    std::int64_t outputStart = 0;  // first output frame of the block
    std::int64_t frames = 0;       // output frames in the block (stream frames, then silence)
    SoundQueuedBuffer buffer;      // the stream frames in it
  };
  std::deque<Block> blocks;        // oldest first; those long heard are dropped
  std::int64_t written = 0;        // output frames written so far
};

// A block of frames output frames has been written, holding buffer's frames.
void HeardTimelineWritten(HeardTimeline& timeline, const SoundQueuedBuffer& buffer, std::int64_t frames);

// Output frame heard is being heard at steady time now (ns, SoundSteadyNow's
// clock), and the listener may go on at real-time speed up to output frame
// limit without further news (never past what was written). Publishes the
// stream frame being heard to the clock, unless it is silence before the
// stream started (the clock stays 0) or belongs to a stream no longer playing.
void HeardTimelineHeard(HeardTimeline& timeline, std::int64_t heard, std::int64_t limit, std::int64_t now);
