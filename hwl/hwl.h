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
#include <atomic>
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
// header length (100), header fields (201), the caller's pixel limit (201),
// file length against what the header announces (100), band scales and
// streams (201). A decode walks each plane's streams as it expands them,
// after allocating its working memory (203) unless they are too short to
// describe the image.
constexpr int HwlOk = 0;
constexpr int HwlFileNotFound = 2;     // the file cannot be opened or read (the message gives the system's reason)
constexpr int HwlReadPastEnd = 100;    // the file ends before what its header announces
// The file breaks the format's requirements: levels above 16, valueBits 0 or
// above 8, width or height zero or not a multiple of 2^(levels + 1), a value
// count whose stream size (count x valueBits) does not fit 32 bits, a band
// scale that is NaN or so small that its reciprocal is out of range (an
// infinite scale has the reciprocal 0: its band decodes as zeros),
// or streams that describe fewer or more than width x height coefficients or
// leave symbols or values unused.
constexpr int HwlFormatError = 201;
// The image has more pixels than the caller's limit (HwlDecodeOptions). It
// shares the range-check code with HwlFormatError: either way the file holds
// no picture the caller can use. The message says which.
constexpr int HwlTooLarge = 201;
constexpr int HwlOutOfMemory = 203;    // the image's buffers could not be allocated
constexpr int HwlBufferTooSmall = 204; // allocate not set and the caller's buffer is too small
constexpr int HwlCancelled = 217;      // the caller's cancel flag was set (a control break)

struct HwlStatus {
  int code = HwlOk;
  std::string message;  // names the file and the reason; empty when ok
  explicit operator bool() const { return code == HwlOk; }
};

// The largest image a decode accepts unless the caller chooses otherwise:
// 2^28 pixels, 16384 x 16384, the largest texture that common GL
// implementations take. A square picture that large needs about 2.5 GB of
// working memory (grey) or 3.4 GB (colour), and no file can make a decode
// ask for more than 20 bytes per pixel of it (below). The format itself
// allows 65535 x 65535 (about 2^32 pixels).
constexpr std::uint64_t HwlDefaultMaxPixels = std::uint64_t{1} << 28;
constexpr std::uint64_t HwlFormatMaxPixels = std::uint64_t{65535} * 65535;

// Working memory of one decode, the output buffer included: the file's bytes
// (LoadHwlImage holds them; a file is read only as far as its header
// announces) plus at most HwlMaxBytesPerPixel per pixel: the 16-bit
// coefficients (2), the coarser steps' results in doubles (2.5), the bytes of
// the first two colour planes (2), the output (1 grey, 4 colour) and the
// synthesis's rows (at most 8, reached only by images a few rows high): 18.5
// at most. A decoding thread keeps this memory for its next decode, up to
// 32 MiB (hwl_load.cpp). A well-formed
// file describes at most HwlMaxPixelsPerFileByte pixels per byte (a ZeroRun
// of 256 zeros costs 2 + 8 bits, one such run per plane), so a grey file
// costs at most about 3,500 times its size and a colour file 1,400 times,
// and the pixel limit bounds every decode whatever its file.
constexpr int HwlMaxBytesPerPixel = 20;
constexpr double HwlMaxPixelsPerFileByte = 256 * 8 / 10.0;

struct HwlDecodeOptions {
  // Images of more pixels fail with HwlTooLarge before anything of their
  // size is allocated or read.
  std::uint64_t maxPixels = HwlDefaultMaxPixels;
  // When set (from any thread, or a signal handler: the flag is lock-free),
  // the decode stops within milliseconds and returns HwlCancelled; the pixel
  // buffer may then hold part of the picture.
  const std::atomic<bool>* cancel = nullptr;
};
static_assert(std::atomic<bool>::is_always_lock_free, "the cancel flag must be safe to set from a signal handler");

// HwlTooLarge, with the sizes in the message, when a width x height picture
// has more than maxPixels pixels; callers that read a size elsewhere (a PNG
// header) apply the same limit with it.
HwlStatus CheckHwlPixelLimit(std::uint64_t width, std::uint64_t height, std::uint64_t maxPixels,
                             const std::string& name);

// Read the first 34 bytes of a file into the header.
HwlStatus ReadHwlHeader(const std::string& fileName, HwlHeader& header);

// Decode a whole file into the caller's buffer. The header is always filled
// from the file's bytes before any pixel is written. With allocate set the
// buffer is resized to width x height bytes (grey) or width x height x 4
// bytes (colour: 32-bit words 0x00RRGGBB, bytes blue, green, red, 0);
// without it the buffer must already be large enough. Any bitsPerPixel
// other than 8 and 24 fills the header and leaves the pixels untouched.
// On failure (other than HwlCancelled) the pixel buffer is left as it was.
HwlStatus LoadHwlImage(std::vector<std::uint8_t>& pixels, HwlHeader& header, const std::string& fileName,
                       bool allocate, const HwlDecodeOptions& options = {});

// The same from bytes already in memory (the name is only used in messages).
HwlStatus DecodeHwlImage(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& pixels,
                         HwlHeader& header, const std::string& name, bool allocate,
                         const HwlDecodeOptions& options = {});
// The same with a chosen number of threads (0: the machine's cores). The
// result does not depend on it.
HwlStatus DecodeHwlImage(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& pixels,
                         HwlHeader& header, const std::string& name, bool allocate, int threads,
                         const HwlDecodeOptions& options = {});

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
