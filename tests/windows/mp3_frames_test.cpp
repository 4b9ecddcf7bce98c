// The MP3 frame scan that lets the Windows decoder trim like a gapless one:
// frame headers, the LAME tag's delay and padding, and files that are not
// quite what an encoder writes.
#include "mp3_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "mp3_maker.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int OneSecond = 44100;

Bytes Encode(int channels, int rate, int frames) {
  const std::vector<unsigned char> mp3 = EncodeMp3(SilenceThenTone(frames / 10, frames, channels), channels, rate);
  return Bytes(mp3.begin(), mp3.end());
}

Mp3Layout Layout(const Bytes& file) {
  Mp3Layout layout;
  EXPECT_EQ(FindMp3Layout(file, layout), Mp3LayoutStatus::Ok);
  return layout;
}

// Byte offset of the LAME extension's name in a LAME-made first frame
// (MPEG-1 stereo: header 4, side information 32, "Info", flags, frames,
// bytes, table of contents, quality).
constexpr std::size_t LameNameOffset = 4 + 32 + 8 + 4 + 4 + 100 + 4;

}  // namespace

TEST(Mp3FrameHeader, ReadsLayerThreeHeaders) {
  Mp3FrameHeader header;
  // MPEG-1 layer III, no CRC, 128 kbit/s, 44.1 kHz, joint stereo.
  ASSERT_TRUE(ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x90, 0x44}, header));
  EXPECT_EQ(header.sampleRate, 44100);
  EXPECT_EQ(header.channels, 2);
  EXPECT_EQ(header.samplesPerFrame, 1152);
  EXPECT_EQ(header.bitrateKbps, 128);
  EXPECT_EQ(header.length, 417u);
  EXPECT_FALSE(header.crc);
  // The padding bit adds one byte; mono has the short side information.
  ASSERT_TRUE(ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x92, 0xC4}, header));
  EXPECT_EQ(header.length, 418u);
  EXPECT_EQ(header.channels, 1);
  EXPECT_EQ(header.sideInfoBytes, 17);
  // MPEG-2 at 22.05 kHz, 64 kbit/s, with CRC: 576 samples, 72 * 64000 / 22050 bytes.
  ASSERT_TRUE(ReadMp3FrameHeader(Bytes{0xFF, 0xF2, 0x80, 0x00}, header));
  EXPECT_EQ(header.sampleRate, 22050);
  EXPECT_EQ(header.samplesPerFrame, 576);
  EXPECT_EQ(header.length, 208u);
  EXPECT_TRUE(header.crc);
  // MPEG-2.5 at 8 kHz.
  ASSERT_TRUE(ReadMp3FrameHeader(Bytes{0xFF, 0xE3, 0x18, 0x00}, header));
  EXPECT_EQ(header.sampleRate, 8000);
}

TEST(Mp3FrameHeader, RejectsWhatNoLayerThreeFrameHas) {
  Mp3FrameHeader header;
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x90}, header));        // cut short
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFE, 0xFB, 0x90, 0x44}, header));  // no sync
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFD, 0x90, 0x44}, header));  // layer II
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xEB, 0x90, 0x44}, header));  // reserved version
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x00, 0x44}, header));  // free format
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0xF0, 0x44}, header));  // bitrate 15
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x9C, 0x44}, header));  // reserved rate
}

// LAME's own numbers: the kept length is exactly what was encoded, and the
// cut starts after the encoder's and the decoder's delay.
TEST(Mp3Layout, LameTagGivesTheGaplessCut) {
  struct Case {
    int channels, rate, frames, samplesPerFrame;
  };
  for (const Case& c : {Case{2, 44100, OneSecond, 1152}, Case{1, 44100, OneSecond / 3, 1152},
                        Case{2, 22050, OneSecond / 2, 576}}) {
    SCOPED_TRACE(std::to_string(c.channels) + " channels at " + std::to_string(c.rate));
    const Bytes file = Encode(c.channels, c.rate, c.frames);
    const Mp3Layout layout = Layout(file);
    EXPECT_EQ(layout.sampleRate, c.rate);
    EXPECT_EQ(layout.channels, c.channels);
    EXPECT_EQ(layout.samplesPerFrame, c.samplesPerFrame);
    ASSERT_TRUE(layout.hasGaplessInfo);
    EXPECT_GT(layout.encoderDelay, 0);
    EXPECT_EQ(layout.GaplessSkip(), layout.encoderDelay + MpegDecoderDelay);
    EXPECT_EQ(layout.GaplessLength(), c.frames);
    // The tag frame is not audio: the first audio frame follows it.
    ASSERT_FALSE(layout.frames.empty());
    Mp3FrameHeader first;
    ASSERT_TRUE(ReadMp3FrameHeader(file, first));
    EXPECT_EQ(layout.frames.front().offset, first.length);
    EXPECT_EQ(layout.frames.back().offset + layout.frames.back().length, file.size());
  }
}

TEST(Mp3Layout, SkipsTagsAndDamage) {
  const Bytes plain = Encode(2, 44100, OneSecond);
  const Mp3Layout expected = Layout(plain);

  // An ID3v2 tag whose contents look like a frame header.
  Bytes tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
  for (int i = 0; i < 5; ++i) tagged.insert(tagged.end(), {0xFF, 0xFB, 0x90, 0x44});
  tagged.insert(tagged.end(), plain.begin(), plain.end());
  // An ID3v1 tag at the end.
  Bytes trailer(128, ' ');
  std::copy_n("TAG", 3, trailer.begin());
  tagged.insert(tagged.end(), trailer.begin(), trailer.end());
  Mp3Layout layout = Layout(tagged);
  EXPECT_EQ(layout.frames.size(), expected.frames.size());
  EXPECT_EQ(layout.frames.front().offset, expected.frames.front().offset + 30);
  EXPECT_EQ(layout.GaplessLength(), OneSecond);

  // Garbage between two frames is stepped over; every frame is still found.
  Bytes damaged = plain;
  const std::size_t middle = expected.frames[expected.frames.size() / 2].offset;
  damaged.insert(damaged.begin() + static_cast<std::ptrdiff_t>(middle), 77, 0xAB);
  layout = Layout(damaged);
  EXPECT_EQ(layout.frames.size(), expected.frames.size());

  // A last frame cut short is not audio.
  Bytes cut(plain.begin(), plain.end() - 10);
  layout = Layout(cut);
  EXPECT_EQ(layout.frames.size(), expected.frames.size() - 1);
  EXPECT_EQ(layout.GaplessLength(), OneSecond - 1152);
}

// A Xing tag without the LAME extension: the tag frame is still skipped, but
// nothing says where the music starts, so nothing is cut (as libmpg123 does).
TEST(Mp3Layout, XingTagWithoutLameExtensionCutsNothing) {
  Bytes file = Encode(2, 44100, OneSecond);
  ASSERT_EQ(std::string(file.begin() + LameNameOffset, file.begin() + LameNameOffset + 4), "LAME");
  std::fill_n(file.begin() + LameNameOffset, 36, 0);
  const Mp3Layout layout = Layout(file);
  EXPECT_FALSE(layout.hasGaplessInfo);
  EXPECT_EQ(layout.GaplessSkip(), 0);
  EXPECT_GT(layout.GaplessLength(), std::int64_t{1} << 40);
  Mp3FrameHeader first;
  ASSERT_TRUE(ReadMp3FrameHeader(file, first));
  EXPECT_EQ(layout.frames.front().offset, first.length);
}

TEST(Mp3Layout, NoAudioInOtherFiles) {
  Mp3Layout layout;
  EXPECT_EQ(FindMp3Layout(Bytes{}, layout), Mp3LayoutStatus::NoAudio);
  std::string words;
  for (int i = 0; i < 200; ++i) words += "this is not an mp3 file. ";
  EXPECT_EQ(FindMp3Layout(Bytes(words.begin(), words.end()), layout), Mp3LayoutStatus::NoAudio);
  // A lone valid-looking header followed by something else is a stray pattern.
  Bytes stray(2000, 0x11);
  std::copy_n(Bytes{0xFF, 0xFB, 0x90, 0x44}.begin(), 4, stray.begin() + 100);
  EXPECT_EQ(FindMp3Layout(stray, layout), Mp3LayoutStatus::NoAudio);
  // A header whose frame runs past the end of the file.
  EXPECT_EQ(FindMp3Layout(Bytes{0xFF, 0xFB, 0x90, 0x44, 0, 0, 0, 0}, layout), Mp3LayoutStatus::NoAudio);
  // An ID3v2 tag that claims more bytes than the file has.
  EXPECT_EQ(FindMp3Layout(Bytes{'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F, 0xFF, 0xFB, 0x90, 0x44}, layout),
            Mp3LayoutStatus::NoAudio);
}
