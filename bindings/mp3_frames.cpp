#include "mp3_frames.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <string_view>

namespace {

// Layer III bitrates in kbit/s by index (0 is "free format", which no encoder
// we read writes, 15 is invalid).
constexpr std::array<int, 15> Mpeg1Bitrates{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr std::array<int, 15> Mpeg2Bitrates{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr std::array<int, 3> Mpeg1Rates{44100, 48000, 32000};
constexpr std::array<int, 3> Mpeg2Rates{22050, 24000, 16000};
constexpr std::array<int, 3> Mpeg25Rates{11025, 12000, 8000};

constexpr std::size_t HeaderBytes = 4;
constexpr std::size_t CrcBytes = 2;
constexpr std::size_t Id3v2HeaderBytes = 10;
constexpr std::size_t Id3v2FooterBytes = 10;

// The Xing/Info tag: "Xing" or "Info", 4 flag bytes, then the fields the
// flags announce.
constexpr std::uint32_t XingHasFrames = 1, XingHasBytes = 2, XingHasToc = 4, XingHasQuality = 8;
constexpr std::size_t XingTocBytes = 100;
// The LAME extension after the Xing fields: a 9-byte encoder name, then at
// byte 21 the encoder delay and padding as two 12-bit numbers in 3 bytes.
constexpr std::size_t LameDelayOffset = 21;
constexpr std::size_t LameTagBytes = 24;  // as far as delay and padding

std::uint32_t BigEndian32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// Bytes taken by an ID3v2 tag at the start of the file (0 when there is none).
std::size_t Id3v2Size(std::span<const std::uint8_t> file) {
  if (file.size() < Id3v2HeaderBytes || file[0] != 'I' || file[1] != 'D' || file[2] != '3') return 0;
  // The size is four 7-bit bytes ("synchsafe"); a set top bit means no tag.
  std::size_t size = 0;
  for (std::size_t i = 6; i < 10; ++i) {
    if (file[i] & 0x80) return 0;
    size = size << 7 | file[i];
  }
  const bool footer = (file[5] & 0x10) != 0;
  return std::min(file.size(), Id3v2HeaderBytes + size + (footer ? Id3v2FooterBytes : 0));
}

bool SameStream(const Mp3FrameHeader& a, const Mp3FrameHeader& b) {
  return a.sampleRate == b.sampleRate && a.channels == b.channels;
}

// A frame at offset whose header is valid and which is followed by a frame
// of the same stream or by the end of the file: a real frame, not a stray
// sync pattern inside other data.
bool ConfirmedFrameAt(std::span<const std::uint8_t> file, std::size_t offset, Mp3FrameHeader& header) {
  if (!ReadMp3FrameHeader(file.subspan(offset), header)) return false;
  const std::size_t next = offset + header.length;
  if (next > file.size()) return false;  // cut short
  if (next == file.size()) return true;
  Mp3FrameHeader following;
  return ReadMp3FrameHeader(file.subspan(next), following) && SameStream(header, following);
}

// Reads the Xing/Info tag of the first frame, if it is one. Returns whether
// the frame is a tag frame (holding no audio); fills the gapless fields of
// layout when the tag carries the LAME extension.
bool ReadInfoTag(std::span<const std::uint8_t> frame, const Mp3FrameHeader& header, Mp3Layout& layout) {
  std::size_t at = HeaderBytes + (header.crc ? CrcBytes : 0) + static_cast<std::size_t>(header.sideInfoBytes);
  if (at + 8 > frame.size()) return false;
  const std::string_view id(reinterpret_cast<const char*>(frame.data() + at), 4);
  if (id != "Xing" && id != "Info") return false;
  const std::uint32_t flags = BigEndian32(frame.data() + at + 4);
  at += 8;
  if (flags & XingHasFrames) at += 4;
  if (flags & XingHasBytes) at += 4;
  if (flags & XingHasToc) at += XingTocBytes;
  if (flags & XingHasQuality) at += 4;
  // The extension's name is an encoder's ("LAME3.100", "Lavc59.37"); a tag
  // without it has other data or zeros there.
  if (at + LameTagBytes <= frame.size() && std::isalpha(frame[at]) != 0) {
    const std::uint8_t* p = frame.data() + at + LameDelayOffset;
    layout.hasGaplessInfo = true;
    layout.encoderDelay = p[0] << 4 | p[1] >> 4;
    layout.padding = (p[1] & 0x0F) << 8 | p[2];
  }
  return true;
}

}  // namespace

bool ReadMp3FrameHeader(std::span<const std::uint8_t> data, Mp3FrameHeader& header) {
  if (data.size() < HeaderBytes) return false;
  const std::uint8_t b1 = data[1], b2 = data[2], b3 = data[3];
  if (data[0] != 0xFF || (b1 & 0xE0) != 0xE0) return false;
  const int version = (b1 >> 3) & 3;  // 0: MPEG-2.5, 1: reserved, 2: MPEG-2, 3: MPEG-1
  const int layer = (b1 >> 1) & 3;    // 1: layer III
  const int bitrateIndex = b2 >> 4;
  const int rateIndex = (b2 >> 2) & 3;
  if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return false;
  const bool mpeg1 = version == 3;
  const std::array<int, 3>& rates = mpeg1 ? Mpeg1Rates : version == 2 ? Mpeg2Rates : Mpeg25Rates;
  header.sampleRate = rates[static_cast<std::size_t>(rateIndex)];
  header.bitrateKbps = (mpeg1 ? Mpeg1Bitrates : Mpeg2Bitrates)[static_cast<std::size_t>(bitrateIndex)];
  header.channels = (b3 >> 6) == 3 ? 1 : 2;
  header.samplesPerFrame = mpeg1 ? 1152 : 576;
  header.sideInfoBytes = mpeg1 ? (header.channels == 1 ? 17 : 32) : (header.channels == 1 ? 9 : 17);
  header.crc = (b1 & 1) == 0;
  const int padding = (b2 >> 1) & 1;
  // Bytes per frame: samples per frame / 8 bits * bitrate / rate.
  header.length = static_cast<std::size_t>((mpeg1 ? 144000 : 72000) * header.bitrateKbps / header.sampleRate + padding);
  return header.length > HeaderBytes;
}

std::int64_t Mp3Layout::GaplessLength() const {
  if (!hasGaplessInfo) return std::numeric_limits<std::int64_t>::max();
  const std::int64_t total = static_cast<std::int64_t>(frames.size()) * samplesPerFrame - encoderDelay - padding;
  return std::max<std::int64_t>(total, 0);
}

Mp3LayoutStatus FindMp3Layout(std::span<const std::uint8_t> file, Mp3Layout& layout) {
  layout = Mp3Layout{};
  std::size_t offset = Id3v2Size(file);
  Mp3FrameHeader first;
  while (offset < file.size() && !ConfirmedFrameAt(file, offset, first)) ++offset;
  if (offset >= file.size()) return Mp3LayoutStatus::NoAudio;

  layout.sampleRate = first.sampleRate;
  layout.channels = first.channels;
  layout.samplesPerFrame = first.samplesPerFrame;
  if (ReadInfoTag(file.subspan(offset, std::min(first.length, file.size() - offset)), first, layout)) {
    offset += first.length;
  }

  Mp3FrameHeader header;
  while (offset < file.size()) {
    if (ReadMp3FrameHeader(file.subspan(offset), header) && SameStream(header, first)) {
      if (header.length > file.size() - offset) break;  // cut short: not a whole frame
      if (layout.frames.empty()) layout.bitrateKbps = header.bitrateKbps;
      layout.frames.push_back({offset, header.length});
      offset += header.length;
      continue;
    }
    // Not a frame here: look for the next confirmed one of this stream.
    ++offset;
    while (offset < file.size() && !(ConfirmedFrameAt(file, offset, header) && SameStream(header, first))) ++offset;
  }
  if (layout.frames.empty()) return Mp3LayoutStatus::NoAudio;
  return Mp3LayoutStatus::Ok;
}
