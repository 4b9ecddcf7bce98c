// The synthesizer's parts: its arithmetic, the score's timing against the
// show's timeline, and the file writers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "music_decode.h"
#include "synth.h"
#include "timeline.h"

namespace {

TEST(MusicSignal, OwnFunctionsMatchTheLibrary) {
  for (double t = -3.0; t <= 3.0; t += 0.0137) EXPECT_NEAR(synth::SinTurns(t), std::sin(2 * synth::Pi * t), 1e-9) << t;
  EXPECT_EQ(synth::SinTurns(0.0), 0.0);
  for (double x = -20.0; x <= 20.0; x += 0.173) {
    EXPECT_NEAR(synth::Exp2(x) / std::exp2(x), 1.0, 1e-12) << x;
    EXPECT_NEAR(synth::Log2(std::exp2(x)), x, 1e-11) << x;
  }
  EXPECT_EQ(synth::NoteHz(69), 440.0);
  EXPECT_EQ(synth::NoteHz(81), 880.0);
  EXPECT_NEAR(synth::NoteHz(60), 261.6255653, 1e-6);
  // -60 dB after the stated time.
  EXPECT_NEAR(std::pow(synth::DecayPerSample(100), 4410), 0.001, 1e-6);
}

TEST(MusicSignal, FilterPassesAndStops) {
  // A low-pass at 1 kHz passes 100 Hz and removes most of 8 kHz; the
  // resonant band-pass rings at its cutoff.
  auto gain = [](synth::FilterMode mode, double cutoff, double resonance, double hz) {
    synth::Svf f;
    f.Tune(cutoff, resonance);
    double peak = 0;
    for (int i = 0; i < 44100; ++i) {
      const double y = f.Step(synth::SinTurns(hz * i / 44100.0), mode);
      if (i > 22050) peak = std::max(peak, std::fabs(y));
    }
    return peak;
  };
  EXPECT_NEAR(gain(synth::FilterMode::Low, 1000, 0, 100), 1.0, 0.02);
  EXPECT_LT(gain(synth::FilterMode::Low, 1000, 0, 8000), 0.03);
  EXPECT_LT(gain(synth::FilterMode::High, 1000, 0, 100), 0.03);
  EXPECT_GT(gain(synth::FilterMode::Low, 1000, 0.9, 1000), 3.0);
  // Cutoffs beyond the audio band are clamped, not unstable.
  EXPECT_TRUE(std::isfinite(gain(synth::FilterMode::Low, 1e9, 0.98, 15000)));
}

// Phrases start on the frames where the show changes its picture: every
// leaving window, the break, the shake and the closing page.
TEST(MusicScore, SectionsStartWhereTheShowChangesItsPicture) {
  std::vector<std::int32_t> wanted;
  for (const TimelineWindow& w : Timeline) {
    const std::string overlay = w.overlayName;
    const bool leaving = overlay.rfind("LeaveText", 0) == 0;
    const bool dark = w.background == nullptr && w.overlay == nullptr && w.to < ShowEndMs;
    if (leaving || dark || overlay == "ClosingPage" || (overlay == "ShakeText99" && w.backgroundName == std::string("B1")))
      wanted.push_back(w.from);
  }
  ASSERT_EQ(wanted.size(), 12u);  // nine leaving windows, break, shake, closing page
  for (std::int32_t ms : wanted) {
    bool found = false;
    for (const synth::Section& s : synth::Score) found = found || synth::StepFrame(s, 0) == synth::MsFrame(ms);
    EXPECT_TRUE(found) << "no section starts at " << ms << " ms";
  }
  // The build-up covers the whole shake and the final chord comes as it ends.
  bool hitAtShakeEnd = false;
  for (const synth::Section& s : synth::Score) hitAtShakeEnd = hitAtShakeEnd || s.startMs == 57741;
  EXPECT_TRUE(hitAtShakeEnd);
}

TEST(MusicScore, SectionsAreContiguousAndKeepTheTempo) {
  const auto& score = synth::Score;
  ASSERT_FALSE(score.empty());
  EXPECT_EQ(score.front().startMs, 0);
  for (std::size_t i = 0; i < score.size(); ++i) {
    const synth::Section& s = score[i];
    if (i + 1 < score.size()) {
      EXPECT_EQ(s.endMs, score[i + 1].startMs) << s.name;
    }
    EXPECT_GT(s.endMs, s.startMs) << s.name;
    EXPECT_FALSE(s.chords.empty()) << s.name;
    // 166 beats a minute, give or take one; the short break, finale and build
    // stretch a little more to meet their marks.
    const double bpm = synth::SectionBpm(s);
    const double slack = s.steps >= 60 ? 1.0 : 3.0;
    EXPECT_NEAR(bpm, 166.0, slack) << s.name;
  }
  EXPECT_GE(synth::TrackMs, 70000);
  EXPECT_LT(score.back().endMs, synth::TrackMs) << "room for the tail and fade";
}

TEST(MusicScore, EveryNoteIsPlayableAndInsideTheTrack) {
  const std::vector<synth::NoteEvent> events = synth::ScoreEvents();
  ASSERT_GT(events.size(), 1000u);
  for (const synth::NoteEvent& e : events) {
    EXPECT_GE(e.startFrame, 0);
    EXPECT_LT(e.startFrame, synth::TrackFrames);
    EXPECT_GT(e.endFrame, e.startFrame);
    EXPECT_GE(e.note, 24);
    EXPECT_LE(e.note, 100);
    EXPECT_GT(e.velocity, 0.0);
    EXPECT_LE(e.velocity, 1.2);
  }
}

TEST(MusicFiles, ShortSignalSurvivesMp3RoundTripToTheFrame) {
  // An odd length that fills no MP3 frame exactly: the info frame must still
  // let the decoder give back every frame and no more.
  constexpr std::size_t Frames = 12345;
  std::vector<std::int16_t> pcm(Frames * 2);
  for (std::size_t i = 0; i < Frames; ++i) {
    const double v = 0.5 * synth::SinTurns(440.0 * static_cast<double>(i) / 44100.0);
    pcm[2 * i] = static_cast<std::int16_t>(std::lround(v * 32767));
    pcm[2 * i + 1] = static_cast<std::int16_t>(std::lround(-v * 32767));
  }
  std::string error;
  const std::vector<std::uint8_t> mp3 = synth::EncodeMp3(pcm, error);
  ASSERT_FALSE(mp3.empty()) << error;
  const std::string path = ::testing::TempDir() + "music_round_trip.mp3";
  ASSERT_TRUE(synth::WriteFile(path, mp3));
  const DecodedTrack decoded = DecodeMp3File(path);
  std::remove(path.c_str());
  ASSERT_TRUE(decoded.ok) << decoded.error;
  EXPECT_EQ(decoded.rate, 44100);
  EXPECT_EQ(decoded.channels, 2);
  EXPECT_EQ(decoded.Frames(), Frames);
  EXPECT_NEAR(PeakDb(decoded.pcm), -6.0, 0.5);
}

TEST(MusicFiles, WavHeaderDescribesTheSamples) {
  const std::vector<std::int16_t> pcm = {1, -1, 256, -32768, 32767, 0};
  const std::string path = ::testing::TempDir() + "music_header.wav";
  ASSERT_TRUE(synth::WriteWav(path, pcm));
  const std::vector<std::uint8_t> wav = ReadBytes(path);
  std::remove(path.c_str());
  ASSERT_EQ(wav.size(), 44u + 12u);
  auto le = [&](std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | wav[at + static_cast<std::size_t>(i)];
    return v;
  };
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(le(4, 4), 36u + 12u);
  EXPECT_EQ(le(22, 2), 2u);       // channels
  EXPECT_EQ(le(24, 4), 44100u);   // rate
  EXPECT_EQ(le(32, 2), 4u);       // bytes per frame
  EXPECT_EQ(le(40, 4), 12u);      // data bytes
  EXPECT_EQ(le(44 + 6, 2), 0x8000u);
  EXPECT_EQ(le(44 + 8, 2), 0x7FFFu);
}

}  // namespace
