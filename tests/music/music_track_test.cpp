// The committed soundtrack, data/run_away.mp3: decodes as the show needs it,
// is exactly what the synthesizer makes, and follows the show's timeline.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "music_decode.h"
#include "synth.h"

namespace {

constexpr double KnownLeavingMs[] = {5761, 11531, 17301, 23921, 29701, 35481, 41251, 47011, 52801};

const DecodedTrack& Committed() {
  static const DecodedTrack track = DecodeMp3File(QUENRIK_TRACK);
  return track;
}

std::size_t SampleAt(double ms) { return static_cast<std::size_t>(synth::MsFrame(ms)) * synth::Channels; }

double RmsBetween(double fromMs, double toMs) { return RmsDb(Committed().pcm, SampleAt(fromMs), SampleAt(toMs)); }

// RMS of the sample-to-sample difference: a crude high-pass that follows
// cymbals, hats and snares and barely sees pads and bass.
double BrightnessBetween(double fromMs, double toMs) {
  const auto& pcm = Committed().pcm;
  double sum = 0;
  std::size_t n = 0;
  for (std::size_t i = SampleAt(fromMs) + 2; i < SampleAt(toMs) && i < pcm.size(); ++i, ++n) {
    const double d = static_cast<double>(pcm[i]) - pcm[i - 2];
    sum += d * d;
  }
  return 10.0 * std::log10(std::max(sum / std::max<std::size_t>(n, 1), 1e-3) / (32768.0 * 32768.0));
}

TEST(MusicTrack, DecodesAsStereo44100WithTheExactRenderedLength) {
  const DecodedTrack& track = Committed();
  ASSERT_TRUE(track.ok) << track.error;
  EXPECT_EQ(track.rate, 44100);
  EXPECT_EQ(track.channels, 2);
  // Gapless: the info frame's delay and padding trim the stream to exactly the
  // frames the synthesizer rendered, so music time 0 is the first rendered sample.
  EXPECT_EQ(track.Frames(), static_cast<std::size_t>(synth::TrackFrames));
  EXPECT_GE(track.Frames(), 70u * 44100u) << "the show needs 67 s of music and a fade";
}

TEST(MusicTrack, StartsWithALameInfoFrameThatAccountsForEveryFrame) {
  const std::vector<std::uint8_t> file = ReadBytes(QUENRIK_TRACK);
  ASSERT_GT(file.size(), 400u);
  // MPEG-1 Layer III, 44.1 kHz, no ID3 tag in front.
  ASSERT_EQ(file[0], 0xFF);
  ASSERT_EQ(file[1] & 0xFE, 0xFA);
  EXPECT_EQ((file[2] >> 2) & 3, 0) << "44.1 kHz";
  const bool mono = (file[3] >> 6) == 3;
  ASSERT_FALSE(mono);
  // The Xing/Info header sits after the 4-byte frame header and 32 bytes of side information.
  constexpr std::size_t Xing = 4 + 32;
  const std::string id(reinterpret_cast<const char*>(&file[Xing]), 4);
  ASSERT_TRUE(id == "Info" || id == "Xing") << id;
  auto be32 = [&](std::size_t at) {
    return std::uint32_t{file[at]} << 24 | std::uint32_t{file[at + 1]} << 16 | std::uint32_t{file[at + 2]} << 8 |
           file[at + 3];
  };
  const std::uint32_t flags = be32(Xing + 4);
  ASSERT_EQ(flags & 0xF, 0xFu) << "frames, bytes, seek table and quality present";
  const std::uint32_t frames = be32(Xing + 8);
  EXPECT_EQ(be32(Xing + 12), file.size());
  // The LAME extension follows: encoder name, then delay and padding in 12 bits each.
  constexpr std::size_t Lame = Xing + 120;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[Lame]), 4), "LAME");
  const unsigned delay = (unsigned{file[Lame + 21]} << 4) | (file[Lame + 22] >> 4);
  const unsigned padding = ((file[Lame + 22] & 0xFu) << 8) | file[Lame + 23];
  EXPECT_GT(delay, 0u);
  EXPECT_EQ(std::int64_t{frames} * 1152 - delay - padding, synth::TrackFrames);
}

TEST(MusicTrack, LevelsLeaveHeadroomAndNoOffset) {
  const DecodedTrack& track = Committed();
  ASSERT_TRUE(track.ok) << track.error;
  const double peak = PeakDb(track.pcm);
  const double rms = RmsDb(track.pcm);
  EXPECT_LT(peak, -1.0) << "decoded peak must stay clear of full scale";
  EXPECT_GT(rms, -18.0);
  EXPECT_LT(rms, -12.0);
  for (int channel = 0; channel < 2; ++channel) {
    double sum = 0;
    for (std::size_t i = static_cast<std::size_t>(channel); i < track.pcm.size(); i += 2) sum += track.pcm[i];
    EXPECT_LT(std::fabs(sum / track.Frames()) / 32768.0, 0.002) << "DC on channel " << channel;
  }
}

// The show's structure is audible: the break drops out, phrases open with an
// accent, the shake builds up, the closing page is calm and the end fades out.
TEST(MusicTrack, FollowsTheShowsTimeline) {
  ASSERT_TRUE(Committed().ok) << Committed().error;
  const double climb = RmsBetween(18001, 22730);
  // The stop at 22731 rings for a moment, then the music drops out until the
  // pickup into the next chorus.
  EXPECT_LT(RmsBetween(23100, 23350), climb - 10) << "break";
  for (double ms : KnownLeavingMs) {
    // A crash opens each leaving window: brighter than the groove a bar earlier.
    EXPECT_GT(BrightnessBetween(ms, ms + 250), BrightnessBetween(ms - 2500, ms - 2250) + 2) << "accent at " << ms;
  }
  EXPECT_GT(RmsBetween(57290, 57740), RmsBetween(56841, 57290)) << "build-up rises through the shake";
  const double chorus = RmsBetween(23921, 52800);
  const double closing = RmsBetween(59001, 65500);
  EXPECT_LT(closing, chorus - 1.0) << "closing page quieter";
  EXPECT_LT(BrightnessBetween(59001, 65500), BrightnessBetween(23921, 52800) - 10) << "closing page without drums";
  EXPECT_GT(closing, -30.0) << "but still playing";
  EXPECT_LT(RmsBetween(71500, 72000), -50.0) << "faded out";
}

TEST(MusicSynth, RemakesTheCommittedFileByteForByte) {
  // The renderer uses only basic IEEE arithmetic with contraction off, so its
  // samples do not depend on the machine, the compiler's optimisation or the
  // C library; LAME 3.100 has no randomness and picks the same SSE code on
  // every x86-64. A mismatch here means the score or synthesizer changed
  // without `tools/make-assets.sh` being run (or a different LAME build).
  const std::vector<std::int16_t> pcm = synth::RenderTrack();
  ASSERT_EQ(pcm.size(), static_cast<std::size_t>(synth::TrackFrames) * synth::Channels);
  std::string error;
  const std::vector<std::uint8_t> mp3 = synth::EncodeMp3(pcm, error);
  ASSERT_FALSE(mp3.empty()) << error;
  const std::vector<std::uint8_t> committed = ReadBytes(QUENRIK_TRACK);
  ASSERT_EQ(mp3.size(), committed.size());
  const auto mismatch = std::mismatch(mp3.begin(), mp3.end(), committed.begin());
  EXPECT_TRUE(mismatch.first == mp3.end()) << "first difference at byte " << (mismatch.first - mp3.begin());

  // The decoded file lines up with the render at offset 0, sample for sample:
  // the show's music clock starts at the first rendered sample.
  const DecodedTrack& track = Committed();
  ASSERT_TRUE(track.ok) << track.error;
  ASSERT_EQ(track.pcm.size(), pcm.size());
  auto errorDb = [&](int lag) {
    double signal = 0, noise = 0;
    for (std::size_t i = 44100 * 2 * 6; i < 44100 * 2 * 50; ++i) {
      const double reference = pcm[static_cast<std::size_t>(static_cast<std::ptrdiff_t>(i) + lag * 2)];
      const double d = track.pcm[i] - reference;
      signal += reference * reference;
      noise += d * d;
    }
    return 10.0 * std::log10(noise / signal);
  };
  const double aligned = errorDb(0);
  EXPECT_LT(aligned, -15.0) << "coding noise at offset 0";
  for (int lag : {-2, -1, 1, 2}) EXPECT_GT(errorDb(lag), aligned + 3.0) << "lag " << lag;
}

}  // namespace
