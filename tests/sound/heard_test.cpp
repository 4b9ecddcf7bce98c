// The clock of outputs that know what is heard (a sound server, ALSA): the
// blocks written, the frame reported heard, the limit of the extrapolation,
// on the manual device with a fake steady clock.
#include "sound_fixture.h"
#include "sound_heard.h"

using HeardClockTest = ManualDevice;

namespace {

constexpr int Block = SoundPeriodFrames;  // 1024 frames, 23.2 ms

// Writes one block as an output would: filled from the playing stream.
void WriteBlock(HeardTimeline& timeline, int frames = Block) {
  std::vector<std::int16_t> out(static_cast<std::size_t>(frames) * SoundChannelsPerFrame);
  HeardTimelineWritten(timeline, SoundFillQueuedOutput(out.data(), frames), frames);
}

}  // namespace

TEST_F(HeardClockTest, TheClockIsTheFrameHeardNotTheFrameWritten) {
  SoundStream* stream = OpenPcm(SilenceThenTone(0, SoundMixRate), "heard.mp3");
  ASSERT_NE(stream, nullptr);
  HeardTimeline timeline;
  // A block of silence written before the play: hearing it is not music.
  WriteBlock(timeline);
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  for (int i = 0; i < 4; ++i) WriteBlock(timeline);  // stream frames 0 .. 4095 at output 1024 .. 5119
  FakeNow += Milliseconds(50);
  EXPECT_EQ(SoundStreamGetTime(stream), 0) << "written, not heard";
  HeardTimelineHeard(timeline, 1000, 1000 + 441, FakeNow);
  FakeNow += Milliseconds(5);
  EXPECT_EQ(SoundStreamGetTime(stream), 0) << "still the silence before the play";

  // Output frame 1024 + 441 is stream frame 441: 10 ms of music heard.
  HeardTimelineHeard(timeline, Block + 441, Block + 441 + 2 * 441, FakeNow);
  EXPECT_EQ(SoundStreamGetTime(stream), 10);
  FakeNow += Milliseconds(15);
  EXPECT_EQ(SoundStreamGetTime(stream), 25) << "runs on at real-time speed";
  FakeNow += Milliseconds(100);
  EXPECT_EQ(SoundStreamGetTime(stream), 30) << "but no further than the limit: the output may have stalled";

  // Heard at a time in the past (the server's answer took 5 ms to arrive).
  HeardTimelineHeard(timeline, Block + 2205, 5 * Block, FakeNow - Milliseconds(5));
  EXPECT_EQ(SoundStreamGetTime(stream), 55);
  // The limit never passes what was written, even when the output says so.
  HeardTimelineHeard(timeline, 5 * Block - 100, 50 * Block, FakeNow);
  FakeNow += Milliseconds(500);
  EXPECT_EQ(SoundStreamGetTime(stream), 92) << "4096 frames written";
  // A report behind the last answer does not take the clock back.
  HeardTimelineHeard(timeline, Block, 2 * Block, FakeNow);
  EXPECT_EQ(SoundStreamGetTime(stream), 92);
  FakeNow += Milliseconds(10);
  EXPECT_EQ(SoundStreamGetTime(stream), 92);
}

TEST_F(HeardClockTest, StreamsPlayedAgainClosedOrFinished) {
  const int frames = 2 * Block + 500;
  SoundStream* stream = OpenPcm(SilenceThenTone(0, frames), "again.mp3");
  ASSERT_NE(stream, nullptr);
  HeardTimeline timeline;
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  WriteBlock(timeline);  // output 0 .. 1023: the first play
  WriteBlock(timeline);
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  WriteBlock(timeline);  // output 2048 ..: the second play from frame 0
  WriteBlock(timeline);
  WriteBlock(timeline);  // 500 frames of music, then silence
  WriteBlock(timeline);  // silence after the end

  // Blocks of the first play are still being heard: they move nothing.
  HeardTimelineHeard(timeline, Block + 10, 2 * Block, FakeNow);
  FakeNow += Milliseconds(5);
  EXPECT_EQ(SoundStreamGetTime(stream), 0);
  // The limit stops at the end of the stream, however far it is asked.
  HeardTimelineHeard(timeline, 2 * Block + 441, 6 * Block, FakeNow);
  EXPECT_EQ(SoundStreamGetTime(stream), 10);
  FakeNow += Milliseconds(1000);
  EXPECT_EQ(SoundStreamGetTime(stream), SoundStreamGetLength(stream));
  EXPECT_TRUE(SoundStreamFinished(stream));
  // Heard in the silence after the end: the clock stays at the length.
  HeardTimelineHeard(timeline, 5 * Block + 100, 6 * Block, FakeNow);
  EXPECT_EQ(SoundStreamGetTime(stream), SoundStreamGetLength(stream));

  // A closed stream's blocks publish nothing (and touch no freed stream).
  SoundStream* other = OpenPcm(SilenceThenTone(0, frames), "other.mp3");
  ASSERT_NE(other, nullptr);
  HeardTimeline later;
  ASSERT_EQ(SoundStreamPlay(-1, other), 0);
  WriteBlock(later);
  ASSERT_TRUE(SoundStreamClose(other));
  HeardTimelineHeard(later, 100, Block, FakeNow);
  HeardTimeline none;  // nothing written yet
  HeardTimelineHeard(none, 0, Block, FakeNow);
}
