// HWL wavelet image codec: public interface.
//
// File layout (all numbers little-endian):
//   34-byte header (HwlHeader), then the band-scale tables of all planes
//   ((levels + 2) doubles each, plane 1 first), then per plane its 2-bit
//   symbol stream and its valueBits-wide value stream. See hwl_format.h for
//   the details and limits, hwl_decode.h for the decoder's stages. The library
//   has no platform dependency and never exits: every failure is returned to
//   the caller as an HwlStatus. Decoding is safe from several threads at once
//   (no shared state); each call spreads its work over the machine's cores.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

constexpr std::size_t HwlHeaderSize = 34;

struct HwlHeader {
  std::array<std::uint8_t, 3> magic{};  // "HWL" when written by us; never examined on read
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint8_t bitsPerPixel = 0;  // 8 grey, 24 colour (R, G, B planes); others: nothing to decode
  std::uint8_t levels = 0;        // L: the transform has L + 1 steps
  std::array<std::uint32_t, 3> symbolCount{};
  std::array<std::uint32_t, 3> valueCount{};
  std::uint8_t valueBits = 0;  // 1 ... 8
};

// Error codes, chosen to match the run-time error report of the show.
// A file is checked completely before any pixel is written, in this order:
// header length (100), header fields (201), file length against what the
// header announces (100), band scales and streams (201).
constexpr int HwlOk = 0;
constexpr int HwlFileNotFound = 2;     // the file cannot be opened or read
constexpr int HwlReadPastEnd = 100;    // the file ends before what its header announces
// The file breaks the format's requirements: levels above 16, valueBits 0 or
// above 8, width or height zero or not a multiple of 2^(levels + 1), a value
// count whose stream size (count x valueBits) does not fit 32 bits, a band
// scale that is NaN or so small that its reciprocal is out of range (an
// infinite scale has the reciprocal 0: its band decodes as zeros),
// or streams that describe fewer or more than width x height coefficients or
// leave symbols or values unused.
constexpr int HwlFormatError = 201;
constexpr int HwlOutOfMemory = 203;    // the image's buffers could not be allocated
constexpr int HwlBufferTooSmall = 204; // allocate not set and the caller's buffer is too small

struct HwlStatus {
  int code = HwlOk;
  std::string message;  // names the file and the reason; empty when ok
  explicit operator bool() const { return code == HwlOk; }
};

// Read the first 34 bytes of a file into the header.
HwlStatus ReadHwlHeader(const std::string& fileName, HwlHeader& header);

// Decode a whole file into the caller's buffer. The header is always filled
// from the file's bytes before any pixel is written. With allocate set the
// buffer is resized to width x height bytes (grey) or width x height x 4
// bytes (colour: 32-bit words 0x00RRGGBB, bytes blue, green, red, 0);
// without it the buffer must already be large enough. Any bitsPerPixel
// other than 8 and 24 fills the header and leaves the pixels untouched.
// On failure the pixel buffer is left as it was.
HwlStatus LoadHwlImage(std::vector<std::uint8_t>& pixels, HwlHeader& header, const std::string& fileName,
                       bool allocate);

// The same from bytes already in memory (the name is only used in messages).
HwlStatus DecodeHwlImage(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& pixels,
                         HwlHeader& header, const std::string& name, bool allocate);
// The same with a chosen number of threads (0: the machine's cores). The
// result does not depend on it.
HwlStatus DecodeHwlImage(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& pixels,
                         HwlHeader& header, const std::string& name, bool allocate, int threads);

// Encoder. Input pixels are row-major, channels = 1 (grey) or 3 (R, G, B
// interleaved). Width and height must be non-zero multiples of 2^(levels + 1).
// The defaults keep 512 x 512 pictures of light on black within 4 grey
// levels of the source at the smallest size measured (see README).
struct HwlEncodeOptions {
  int levels = 1;     // transform steps - 1
  int valueBits = 8;  // bits per packed value
};
HwlStatus EncodeHwlImage(std::span<const std::uint8_t> pixels, int width, int height, int channels,
                         const HwlEncodeOptions& options, std::vector<std::uint8_t>& file);
// The encoder's working memory is at most HwlEncodeBytesPerPixel per pixel
// plus one row of doubles (8 bytes per column), the file it returns included
// and the caller's pixels not: one plane of doubles (8), the quantised
// integers (2), the coarser steps' targets (8/3) and the coded streams of
// the planes done so far (1.25 each), or while refining one step the
// dequantised block (8), a mark per pixel (1) and a row.
constexpr double HwlEncodeBytesPerPixel = 16;
// The checks EncodeHwlImage makes on its input's shape, for callers that
// want them before they read or allocate the pixels.
HwlStatus CheckHwlEncodeInput(int width, int height, int channels, const HwlEncodeOptions& options);
