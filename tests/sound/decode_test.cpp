// MP3 decoding: gapless length, where the first sample lands, failing files.
#include "sound_fixture.h"
#include "sound_platform.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <filesystem>

namespace {

constexpr int OneSecond = SoundMixRate;
constexpr int ToneStart = 4410;  // 100 ms

// First frame whose left sample reaches half the tone's amplitude. The tone is
// a 1 kHz sine starting at phase 0, so its first half-amplitude sample comes
// 4 frames after its start.
int FirstLoudFrame(const std::vector<std::int16_t>& pcm) {
  for (std::size_t i = 0; i < pcm.size(); i += 2) {
    if (std::abs(pcm[i]) >= ToneAmplitude / 2) {
      return static_cast<int>(i / 2);
    }
  }
  return -1;
}

}  // namespace

TEST(Mp3Decoding, GaplessStereoKeepsEveryFrameInPlace) {
  TempFile file("gapless.mp3");
  file.Write(EncodeMp3(SilenceThenTone(ToneStart, OneSecond), 2));
  std::vector<std::int16_t> pcm;
  ASSERT_EQ(DecodeMp3File(file.path.c_str(), pcm), SoundErrorNone);
  EXPECT_EQ(pcm.size(), std::size_t{OneSecond} * 2);
  // Without gapless trimming the tone would come about 1100 frames late.
  int loud = FirstLoudFrame(pcm);
  EXPECT_GE(loud, ToneStart);
  EXPECT_LE(loud, ToneStart + 8);
}

TEST(Mp3Decoding, MonoBecomesStereo) {
  TempFile file("mono.mp3");
  file.Write(EncodeMp3(SilenceThenTone(ToneStart, OneSecond, 1), 1));
  std::vector<std::int16_t> pcm;
  ASSERT_EQ(DecodeMp3File(file.path.c_str(), pcm), SoundErrorNone);
  ASSERT_EQ(pcm.size(), std::size_t{OneSecond} * 2);
  for (std::size_t i = 0; i < pcm.size(); i += 2) {
    ASSERT_EQ(pcm[i], pcm[i + 1]) << "frame " << i / 2;
  }
  EXPECT_NEAR(FirstLoudFrame(pcm), ToneStart + 4, 4);
}

TEST(Mp3Decoding, FailingFiles) {
  std::vector<std::int16_t> pcm;
  TempFile missing("missing.mp3");
  EXPECT_EQ(DecodeMp3File(missing.path.c_str(), pcm), SoundErrorFileNotFound);

  TempFile directory("directory.mp3");
  std::filesystem::create_directory(directory.path);
  EXPECT_EQ(DecodeMp3File(directory.path.c_str(), pcm), SoundErrorLoadingFile);

  TempFile empty("empty.mp3");
  empty.Write({});
  EXPECT_EQ(DecodeMp3File(empty.path.c_str(), pcm), SoundErrorUnknownFormat);

  TempFile text("text.mp3");
  std::string words;
  for (int i = 0; i < 2000; ++i) {
    words += "this is not an mp3 file. ";
  }
  text.Write(std::vector<unsigned char>(words.begin(), words.end()));
  EXPECT_EQ(DecodeMp3File(text.path.c_str(), pcm), SoundErrorUnknownFormat);
  EXPECT_TRUE(pcm.empty());
}

using Mp3Stream = ManualDevice;

// The device gets the decoded samples from the first one on, and the clock
// reads 0 ms when that first sample is handed out: the tone at frame 4410
// plays at 100 ms.
TEST_F(Mp3Stream, FirstDecodedSampleIsClockZero) {
  TempFile file("zero.mp3");
  file.Write(EncodeMp3(SilenceThenTone(ToneStart, OneSecond), 2));
  std::vector<std::int16_t> decoded;
  ASSERT_EQ(DecodeMp3File(file.path.c_str(), decoded), SoundErrorNone);

  SoundStream* stream = SoundStreamOpenFile(file.path.c_str(), 0x2B, 0);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(SoundStreamGetLength(stream), 1000);
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  const std::int64_t start = FakeNow;
  std::vector<std::int16_t> played;
  for (int period = 0; period < 5; ++period) {
    FakeNow = start + FramesToNanoseconds(std::int64_t{period} * SoundPeriodFrames);
    std::vector<std::int16_t> out = Fill();
    played.insert(played.end(), out.begin(), out.end());
  }
  ASSERT_TRUE(std::equal(played.begin(), played.end(), decoded.begin()));
  int loud = FirstLoudFrame(played);
  ASSERT_GT(loud, 0);
  FakeNow = start + FramesToNanoseconds(ToneStart) + 1;
  EXPECT_EQ(SoundStreamGetTime(stream), 100);
}

TEST_F(Mp3Stream, OpenReportsTheFileError) {
  TempFile missing("run_away.mp3");
  EXPECT_EQ(SoundStreamOpenFile(missing.path.c_str(), 0x2B, 0), nullptr);
  EXPECT_EQ(SoundGetError(), SoundErrorFileNotFound);
  EXPECT_STREQ(SoundErrorText(SoundGetError()), "File not found");
  EXPECT_EQ(SoundStreamOpenFile("", 0x2B, 0), nullptr);
  EXPECT_EQ(SoundGetError(), SoundErrorFileNotFound);
}

// A stream plays while it decodes: opening a 20 s file decodes about a
// second of it (less than a quarter of the processor time of decoding it
// all), and what the device gets, across the stream's one-second blocks in
// periods of any size, is the whole decode, sample for sample, to its end.
TEST_F(Mp3Stream, DecodesWhileItPlaysAndPlaysEverySampleOfTheWholeDecode) {
  constexpr int Frames = 20 * OneSecond + 777;
  TempFile file("long.mp3");
  file.Write(EncodeMp3(SilenceThenTone(ToneStart, Frames), 2));
  auto threadCpu = [] {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec * 1e-9;
  };
  double before = threadCpu();
  std::vector<std::int16_t> decoded;
  ASSERT_EQ(DecodeMp3File(file.path.c_str(), decoded), SoundErrorNone);
  const double whole = threadCpu() - before;
  ASSERT_EQ(decoded.size(), std::size_t{Frames} * SoundChannelsPerFrame);

  before = threadCpu();
  SoundStream* stream = SoundStreamOpenFile(file.path.c_str(), 0x2B, 0);
  const double open = threadCpu() - before;
  ASSERT_NE(stream, nullptr);
  EXPECT_LT(open, whole / 4) << "opening took " << open << " s of processor time, decoding it all " << whole;

  EXPECT_EQ(SoundStreamGetLength(stream), Frames * 1000 / SoundMixRate);  // waits for the decoder's end
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  std::vector<std::int16_t> played;
  const std::int64_t start = FakeNow;
  for (int period = 0; played.size() < decoded.size(); ++period) {
    FakeNow = start + FramesToNanoseconds(std::int64_t{period} * 1000);
    const std::vector<std::int16_t> out = Fill(1000);
    played.insert(played.end(), out.begin(), out.end());
  }
  ASSERT_TRUE(std::equal(decoded.begin(), decoded.end(), played.begin()));
  EXPECT_TRUE(std::all_of(played.begin() + std::ptrdiff_t(decoded.size()), played.end(),
                          [](std::int16_t sample) { return sample == 0; }));
  EXPECT_FALSE(SoundStreamFinished(stream));
  FakeNow += Milliseconds(1000);
  EXPECT_TRUE(SoundStreamFinished(stream));
  EXPECT_EQ(SoundStreamGetTime(stream), SoundStreamGetLength(stream));
}

// A file damaged in the middle (64 KiB of junk the decoder cannot get past)
// plays up to the damage and then ends, as its whole decode ends there.
TEST_F(Mp3Stream, DamagedFilePlaysUpToTheDamageAndEnds) {
  TempFile whole("whole.mp3");
  const std::vector<unsigned char> encoded = EncodeMp3(SilenceThenTone(ToneStart, 12 * OneSecond), 2);
  std::vector<unsigned char> damaged(encoded.begin(), encoded.begin() + std::ptrdiff_t(encoded.size() / 2));
  damaged.insert(damaged.end(), 64 * 1024, 0xA5);
  damaged.insert(damaged.end(), encoded.begin() + std::ptrdiff_t(encoded.size() / 2), encoded.end());
  TempFile file("damaged.mp3");
  file.Write(damaged);

  Mp3DecoderHandle decoder;
  ASSERT_EQ(OpenMp3Decoder(file.path.c_str(), decoder), SoundErrorNone);
  std::vector<std::int16_t> decoded;
  Mp3Piece piece = Mp3Piece::Decoded;
  while (piece == Mp3Piece::Decoded) piece = DecodeMp3Piece(*decoder, decoded);
  EXPECT_EQ(piece, Mp3Piece::Damaged);
  const std::int64_t frames = std::int64_t(decoded.size()) / SoundChannelsPerFrame;
  EXPECT_GT(frames, 5 * OneSecond);  // the damage is at 6 s
  EXPECT_LT(frames, 7 * OneSecond);

  SoundStream* stream = SoundStreamOpenFile(file.path.c_str(), 0x2B, 0);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(SoundStreamGetLength(stream), frames * 1000 / SoundMixRate);
  ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
  std::vector<std::int16_t> played;
  const std::int64_t start = FakeNow;
  for (int period = 0; std::int64_t(played.size()) < (frames + OneSecond) * SoundChannelsPerFrame; ++period) {
    FakeNow = start + FramesToNanoseconds(std::int64_t{period} * SoundPeriodFrames);
    const std::vector<std::int16_t> out = Fill();
    played.insert(played.end(), out.begin(), out.end());
  }
  ASSERT_TRUE(std::equal(decoded.begin(), decoded.end(), played.begin()));
  EXPECT_TRUE(std::all_of(played.begin() + std::ptrdiff_t(decoded.size()), played.end(),
                          [](std::int16_t sample) { return sample == 0; }));
  FakeNow += Milliseconds(1000);
  EXPECT_TRUE(SoundStreamFinished(stream));
}

// Closing a stream (or shutting the module down) while its thread decodes
// stops that thread at its next piece: closing waits for no more decoding.
TEST_F(Mp3Stream, ClosingWhileTheDecoderRunsStopsItAtItsNextPiece) {
  TempFile file("minute.mp3");
  file.Write(EncodeMp3(SilenceThenTone(ToneStart, 60 * OneSecond), 2));
  auto wholeStart = std::chrono::steady_clock::now();
  std::vector<std::int16_t> decoded;
  ASSERT_EQ(DecodeMp3File(file.path.c_str(), decoded), SoundErrorNone);
  const auto whole = std::chrono::steady_clock::now() - wholeStart;
  // A piece is a 160th of the minute; decoding the rest would take most of
  // `whole`. The decoder runs a few nice levels down, so on a loaded machine
  // it may wait a while for a core before it sees the stop: the best of
  // three tries must stay under half the decode.
  for (int round = 0; round < 2; ++round) {
    std::chrono::steady_clock::duration best = std::chrono::hours(1);
    for (int attempt = 0; attempt < 3 && best >= whole / 2; ++attempt) {
      if (attempt > 0 && round == 1) SetUp();  // the last try shut the module down
      SoundStream* stream = SoundStreamOpenFile(file.path.c_str(), 0x2B, 0);
      ASSERT_NE(stream, nullptr);
      ASSERT_EQ(SoundStreamPlay(-1, stream), 0);
      Fill();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the decoder is under way
      const auto start = std::chrono::steady_clock::now();
      if (round == 0) {
        EXPECT_TRUE(SoundStreamClose(stream));
        EXPECT_EQ(Fill(), std::vector<std::int16_t>(SoundPeriodFrames * SoundChannelsPerFrame, 0));
      } else {
        SoundClose();
      }
      best = std::min(best, std::chrono::steady_clock::now() - start);
    }
    EXPECT_LT(best, whole / 2) << "round " << round;
  }
}
