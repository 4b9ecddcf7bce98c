// quenrik-capture's command line, virtual clock and audio cut, without
// running anything.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <vector>

#include "audio_cut.h"
#include "capture_options.h"

namespace {

std::string Parse(std::initializer_list<const char*> args, CaptureOptions& options) {
  const std::vector<const char*> list(args);
  return ParseCaptureOptions(list, options);
}

std::string Error(std::initializer_list<const char*> args) {
  CaptureOptions options;
  return Parse(args, options);
}

TEST(CaptureOptions, DefaultsAreTheWholeShowAt720pAnd60Fps) {
  CaptureOptions o;
  ASSERT_EQ(Parse({"show.mp4"}, o), "");
  EXPECT_EQ(o.kind, OutputKind::Video);
  EXPECT_EQ(o.width, 1280);
  EXPECT_EQ(o.height, 720);
  EXPECT_EQ(o.rate.num, 60);
  EXPECT_EQ(o.rate.den, 1);
  EXPECT_FALSE(o.seed.has_value());
  EXPECT_EQ(o.fromMs, 0);
  EXPECT_EQ(o.toMs, 67000);
  EXPECT_TRUE(o.framesLog.empty());
}

TEST(CaptureOptions, ReadsEveryOptionInBothSpellings) {
  CaptureOptions o;
  ASSERT_EQ(Parse({"--size", "640x480", "out.MKV", "--fps=25", "--seed", "4294967295", "--frames-log=f.txt",
                   "--from", "1000", "--to=2000"},
                  o),
            "");
  EXPECT_EQ(o.output, "out.MKV");
  EXPECT_EQ(o.kind, OutputKind::Video);
  EXPECT_EQ(o.width, 640);
  EXPECT_EQ(o.height, 480);
  EXPECT_EQ(o.rate.num, 25);
  EXPECT_EQ(*o.seed, 4294967295u);
  EXPECT_EQ(o.framesLog, "f.txt");
  EXPECT_EQ(o.fromMs, 1000);
  EXPECT_EQ(o.toMs, 2000);
}

TEST(CaptureOptions, FolderOutputIsAnExistingFolderOrATrailingSlash) {
  CaptureOptions o;
  ASSERT_EQ(Parse({"frames/", "--size", "641x481"}, o), "");  // odd sizes are fine for PNG
  EXPECT_EQ(o.kind, OutputKind::PngFolder);
  const std::string existing = std::filesystem::temp_directory_path().string();
  ASSERT_EQ(Parse({existing.c_str()}, o), "");
  EXPECT_EQ(o.kind, OutputKind::PngFolder);
  ASSERT_EQ(Parse({"--render-only", "--to", "100"}, o), "");
  EXPECT_EQ(o.kind, OutputKind::None);
}

// A device or a pipe takes Matroska, the container that can be written as
// it goes; MP4 goes back to write its index, so it needs a file.
TEST(CaptureOptions, DevicesAndPipesTakeMatroska) {
  CaptureOptions o;
  ASSERT_EQ(Parse({"a.mp4"}, o), "");
  EXPECT_EQ(o.format, VideoFormat::Mp4);
  ASSERT_EQ(Parse({"a.mkv"}, o), "");
  EXPECT_EQ(o.format, VideoFormat::Matroska);
  ASSERT_EQ(Parse({"/dev/null"}, o), "");
  EXPECT_EQ(o.kind, OutputKind::Video);
  EXPECT_EQ(o.format, VideoFormat::Matroska);
  char folder[] = "/tmp/quenrik-capture-options-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string pipe = std::string(folder) + "/pipe", mp4Pipe = std::string(folder) + "/pipe.mp4";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(mp4Pipe.c_str(), 0600), 0);
  ASSERT_EQ(Parse({pipe.c_str()}, o), "");
  EXPECT_EQ(o.format, VideoFormat::Matroska);
  const std::string refused = Error({mp4Pipe.c_str()});
  EXPECT_NE(refused.find("MP4 needs a file"), std::string::npos) << refused;
  EXPECT_NE(Error({(std::string(folder) + "/not-yet-there").c_str()}), "");  // a new file needs its extension
  std::filesystem::remove_all(folder);
}

TEST(CaptureOptions, FrameRateStaysWithinTheShowsPacing) {
  CaptureOptions o;
  ASSERT_EQ(Parse({"a.mp4", "--fps", "66"}, o), "");
  ASSERT_EQ(Parse({"a.mp4", "--fps", "200/3"}, o), "");  // exactly 15 ms apart
  EXPECT_EQ(o.rate.num, 200);
  EXPECT_EQ(o.rate.den, 3);
  ASSERT_EQ(Parse({"a.mp4", "--fps", "1"}, o), "");
  for (const char* bad : {"67", "201/3", "0", "1/2", "-5", "60.0", "60/0", "x", "", "30/"})
    EXPECT_NE(Error({"a.mp4", "--fps", bad}), "") << bad;
}

TEST(CaptureOptions, RejectsBadCommandLines) {
  EXPECT_NE(Error({}), "");                                  // no OUT
  EXPECT_NE(Error({"a.mp4", "b.mp4"}), "");                  // two
  EXPECT_NE(Error({"a.avi"}), "");                           // unknown container
  EXPECT_NE(Error({"a.mp4", "--size"}), "");                 // value missing
  EXPECT_NE(Error({"a.mp4", "--size", "640"}), "");
  EXPECT_NE(Error({"a.mp4", "--size", "0x480"}), "");
  EXPECT_NE(Error({"a.mp4", "--size", "4097x480"}), "");
  EXPECT_NE(Error({"a.mp4", "--size", "641x480"}), "");      // 4:2:0 needs even sides
  EXPECT_NE(Error({"a.mp4", "--seed", "4294967296"}), "");
  EXPECT_NE(Error({"a.mp4", "--seed", "-1"}), "");
  EXPECT_NE(Error({"a.mp4", "--from", "2000", "--to", "2000"}), "");
  EXPECT_NE(Error({"a.mp4", "--to", "67001"}), "");
  EXPECT_NE(Error({"a.mp4", "--from", "-1"}), "");
  EXPECT_NE(Error({"a.mp4", "--from", "10", "--to", "12"}), "");  // no 60 fps frame in 10 ... 11 ms
  EXPECT_NE(Error({"a.mp4", "--fps", "30", "--fps", "30"}), "");
  EXPECT_NE(Error({"a.mp4", "--speed", "2"}), "");
  EXPECT_NE(Error({"a.mp4", "--render-only"}), "");          // writes nothing: no OUT
  EXPECT_NE(Error({"--render-only", "--frames-log", "f"}), "");
}

TEST(CaptureClock, FrameTimeComesFromTheFrameNumber) {
  const FrameRate sixty{60, 1};
  EXPECT_EQ(FrameClock(0, sixty), 0);
  EXPECT_EQ(FrameClock(1, sixty), 16);
  EXPECT_EQ(FrameClock(2, sixty), 33);
  EXPECT_EQ(FrameClock(3, sixty), 50);  // not 16 + 16 + 16
  EXPECT_EQ(FrameClock(4019, sixty), 66983);
  EXPECT_EQ(FrameClock(4020, sixty), 67000);
  EXPECT_EQ(FrameClock(199, FrameRate{200, 3}), 2985);
  EXPECT_EQ(FrameClock(4400, FrameRate{200, 3}), 66000);
}

TEST(CaptureClock, FramesAreAtLeastFifteenMillisecondsApart) {
  for (const FrameRate rate : {FrameRate{66, 1}, FrameRate{200, 3}, FrameRate{60, 1}, FrameRate{60000, 1001}}) {
    for (std::int64_t n = 0; FrameClock(n, rate) < ShowEndMs; ++n)
      ASSERT_GE(FrameClock(n + 1, rate) - FrameClock(n, rate), FrameSpacingMs) << FormatRate(rate) << " frame " << n;
  }
}

TEST(CaptureClock, FirstFrameAtOrAfterIsTheInverse) {
  for (const FrameRate rate : {FrameRate{60, 1}, FrameRate{25, 1}, FrameRate{200, 3}, FrameRate{30000, 1001}}) {
    for (std::int32_t ms : {0, 1, 15, 16, 17, 5760, 5761, 56841, 66999, 67000}) {
      const std::int64_t n = FirstFrameAtOrAfter(ms, rate);
      EXPECT_GE(FrameClock(n, rate), ms);
      if (n > 0) {
        EXPECT_LT(FrameClock(n - 1, rate), ms);
      }
    }
  }
}

TEST(CaptureClock, TheWholeShowIsEveryFrameBeforeItsEnd) {
  auto count = [](FrameRate rate) {
    CaptureOptions o;
    o.rate = rate;
    return WrittenFrames(o);
  };
  EXPECT_EQ(count({60, 1}).first, 0);
  EXPECT_EQ(count({60, 1}).Count(), 4020);   // 67 s x 60; the loop's frame at 67000 ms draws nothing
  EXPECT_EQ(count({25, 1}).Count(), 1675);
  EXPECT_EQ(count({1, 1}).Count(), 67);
  EXPECT_EQ(count({200, 3}).Count(), 4467);  // ceil(67000 / 15)
  CaptureOptions range;
  range.fromMs = 56841;
  range.toMs = 57741;
  EXPECT_EQ(WrittenFrames(range).first, 3411);  // 3411 * 1000 / 60 = 56850
  EXPECT_EQ(WrittenFrames(range).end, 3465);    // 3464 -> 57733, 3465 -> 57750
}

// Packets of 1152 samples from 0; LAME's delay 576 + the decoder's 529.
struct Mp3Packets {
  std::vector<std::int64_t> starts;
  std::int64_t end;
  explicit Mp3Packets(std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) starts.push_back(std::int64_t(k) * 1152);
    end = std::int64_t(count) * 1152;
  }
};
constexpr std::int64_t Delay = 1105;

TEST(CaptureAudio, WholeShowStartsAtTheFirstPacketAndDropsTheDelay) {
  const Mp3Packets mp3(2758);  // 72 s
  const AudioCut cut = CutAudio(mp3.starts, mp3.end, Delay, 0, 67 * 44100);
  EXPECT_EQ(cut.firstPacket, 0u);
  EXPECT_EQ(cut.skipSamples, Delay);
  // The audio's end lies within half a packet of the video's.
  const std::int64_t audioEnd = std::int64_t(cut.endPacket) * 1152 - Delay;
  EXPECT_LE(std::llabs(audioEnd - 67 * 44100), 576);
  EXPECT_EQ(cut.endPacket, 2566u);  // 2566 * 1152 - 1105 = 2954927, 227 samples past 67 s
}

TEST(CaptureAudio, LaterStartKeepsPrerollPacketsAndDropsThem) {
  const Mp3Packets mp3(2758);
  const std::int64_t start = 30 * 44100;  // music sample under the first frame
  const AudioCut cut = CutAudio(mp3.starts, mp3.end, Delay, start, 2 * 44100);
  const std::size_t holding = std::size_t((start + Delay) / 1152);
  EXPECT_EQ(cut.firstPacket, holding - AudioPrerollPackets);
  EXPECT_EQ(std::int64_t(cut.firstPacket) * 1152 + cut.skipSamples, start + Delay);
  EXPECT_GE(cut.skipSamples, AudioPrerollPackets * 1152);
}

TEST(CaptureAudio, ShortFilesAndEarlyStartsStayInsideThePackets) {
  const Mp3Packets mp3(10);
  AudioCut cut = CutAudio(mp3.starts, mp3.end, Delay, 100, 1000000);  // the video outlasts the music
  EXPECT_EQ(cut.firstPacket, 0u);  // fewer packets before it than the preroll
  EXPECT_EQ(cut.skipSamples, Delay + 100);
  EXPECT_EQ(cut.endPacket, 10u);
  cut = CutAudio({}, 0, Delay, 0, 100);
  EXPECT_EQ(cut.endPacket, 0u);
}

// The music against the show's 67 s (2954700 samples at 44.1 kHz) and
// against the video's range.
TEST(CaptureAudio, ShortOrCutMusicIsToldWithItsLengthAndWhatTheVideoLoses) {
  constexpr int Rate = 44100;
  constexpr std::int64_t Show = 67 * Rate, Tolerance = 576;
  // The show's own music, 72 s with a header, and music of exactly 67 s (or
  // within the audio's own half-packet cut of it): nothing to say.
  EXPECT_EQ(MusicWarning("m.mp3", {72 * Rate, 72 * Rate}, Rate, 0, Show, Tolerance), "");
  EXPECT_EQ(MusicWarning("m.mp3", {Show, 0}, Rate, 0, Show, Tolerance), "");
  EXPECT_EQ(MusicWarning("m.mp3", {Show - Tolerance, Show - Tolerance}, Rate, 0, Show, Tolerance), "");
  // Short: how long, and from when the video is silent.
  EXPECT_EQ(MusicWarning("m.mp3", {3 * Rate, 3 * Rate}, Rate, 0, 5 * Rate, Tolerance),
            "the music m.mp3 lasts only 3 s, less than the show's 67 s; this video is silent from music time 3 s "
            "on (its last 2 s)");
  EXPECT_EQ(MusicWarning("m.mp3", {Show - Tolerance - 1, 0}, Rate, 0, Show, Tolerance),
            "the music m.mp3 lasts only 66.987 s, less than the show's 67 s; this video is silent from music time "
            "66.987 s on (its last 0.013 s)");
  // A range the short music still covers, and one after its end.
  EXPECT_NE(MusicWarning("m.mp3", {3 * Rate, 0}, Rate, 0, 2 * Rate, Tolerance).find("up to music time 2 s, has all"),
            std::string::npos);
  EXPECT_NE(MusicWarning("m.mp3", {3 * Rate, 0}, Rate, 4 * Rate, 5 * Rate, Tolerance).find("this video has no sound"),
            std::string::npos);
  // Cut short: fewer samples than the header announces, even when the rest
  // would still outlast the show.
  EXPECT_EQ(MusicWarning("m.mp3", {12 * Rate + Rate / 2, 72 * Rate}, Rate, 0, Show, Tolerance),
            "the music m.mp3 ends early, after 12.5 s, though its header announces about 72.0 s (a file cut "
            "short?); this video is silent from music time 12.5 s on (its last 54.5 s)");
  EXPECT_NE(MusicWarning("m.mp3", {70 * Rate, 72 * Rate}, Rate, 0, Show, Tolerance).find("ends early, after 70 s"),
            std::string::npos);
}

}  // namespace
