// HWL file layout, limits and the checks every reader applies before it
// allocates anything.
//
// Header, 34 bytes, packed, little-endian:
//   0 magic[3]   "HWL" (never examined)     9 symbolCount[3]  u32 each
//   3 width      u16                        21 valueCount[3]   u32 each
//   5 height     u16                        33 valueBits       u8, 1 ... 8
//   7 bitsPerPixel u8: 8 grey, 24 colour (planes red, green, blue); any
//     other value means "nothing to decode" and is not an error
//   8 levels     u8: L, the transform has L + 1 steps
// Then, P = 1 (grey) or 3 (colour):
//   band-scale tables of all planes: P x (L + 2) IEEE doubles; entry i <= L is
//     detail level i (0 = finest), entry L + 1 the approximation band; a
//     band's coefficients were multiplied by its entry before rounding, 0
//     means "all zero"
//   per plane: symbol stream, ceil(symbolCount / 4) bytes of 2-bit symbols,
//     first symbol in bits 0-1; value stream, ceil(valueCount x valueBits / 8)
//     bytes of values packed least significant bit first.
// Symbols: 0 Zero (one 0), 1 ZeroRun (v + 1 zeros), 2 Positive (+v),
// 3 Negative (-v); every symbol but Zero consumes the next value v.
// Coefficient planes are row-major W x H in the band layout of a Haar
// transform: detail level i occupies x < W >> i, y < H >> i minus the
// quarter x < W >> (i + 1), y < H >> (i + 1); the approximation band is
// x < W >> (L + 1), y < H >> (L + 1).
//
// A file must satisfy (and this reader rejects with HwlFormatError otherwise):
//   levels <= 16, 1 <= valueBits <= 8, width and height non-zero multiples of
//   2^(levels + 1); valueCount x valueBits below 2^32 (the format stores the
//   stream size as a 32-bit product: a wrapped product would understate the
//   stream, so such counts are refused); every band scale a number (not NaN)
//   with a reciprocal of at most HwlMaxBandFactor; each plane's symbols describe
//   exactly W x H coefficients and consume exactly valueCount values.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "hwl.h"

// One band-scale entry per detail level plus the approximation band.
constexpr int HwlMaxLevels = 16;
constexpr int HwlMaxBands = HwlMaxLevels + 2;
constexpr int HwlMaxPlanes = 3;
// A value is stored in one byte, so it has at most 8 bits.
constexpr int HwlMaxValueBits = 8;
// A coefficient's magnitude is one value.
constexpr int HwlMaxCoefficient = (1 << HwlMaxValueBits) - 1;

// Largest accepted band factor (reciprocal of a band scale). A coefficient is
// at most HwlMaxCoefficient times its factor, and the synthesis can grow a
// magnitude by at most a factor 2 per step (17 steps), so every
// intermediate stays below 2^(8 + 960 + 17), far from the double range: no
// overflow, hence no infinity and no NaN, can arise in the arithmetic. Real
// files have factors near 2^(levels + 1). For a double scale, "its
// reciprocal rounded to 64 bits is above 2^960" is exactly "|scale| <
// 2^-960": the double just below 2^-960 has a reciprocal of at least 2^960
// (1 + 2^-53).
constexpr double HwlMaxBandFactor = 0x1p960;
constexpr double HwlMinBandScale = 1 / HwlMaxBandFactor;  // for a non-zero scale

// Width and height are 16-bit header fields.
constexpr int HwlMaxSide = 0xFFFF;

enum class HwlSymbol : std::uint8_t { Zero = 0, ZeroRun = 1, Positive = 2, Negative = 3 };

// The two packed streams of one plane, as spans into the file.
struct HwlPlaneStreams {
  std::span<const std::uint8_t> symbols;
  std::uint32_t symbolCount = 0;
  std::span<const std::uint8_t> values;
  std::uint32_t valueCount = 0;
};

// Everything a decoder needs from a checked file besides the header.
struct HwlBody {
  int planeCount = 0;
  std::array<std::array<double, HwlMaxBands>, HwlMaxPlanes> bandScales{};
  std::array<HwlPlaneStreams, HwlMaxPlanes> streams{};
};

// Header fields from the first 34 bytes (bytes.size() >= HwlHeaderSize).
HwlHeader ParseHwlHeader(std::span<const std::uint8_t> bytes);

// 1 for grey, 3 for colour, 0 for a bitsPerPixel the reader does not decode.
int HwlPlaneCount(const HwlHeader& header);

// Checks the header fields of a grey or colour file (limits above).
HwlStatus CheckHwlHeader(const HwlHeader& header, const std::string& name);

// The number of bytes a checked header announces: header, tables, streams.
std::uint64_t HwlAnnouncedSize(const HwlHeader& header);

// The factor a band's integers are multiplied by: 1 / scale computed in
// extended precision and rounded to double, or 0 for a zero scale (an
// infinite scale gives a zero of its sign).
double HwlBandFactor(double scale);

HwlStatus HwlError(int code, const std::string& name, const std::string& reason);
// The same for a failed open or read: `what` followed by the system's reason
// (errno's text) in parentheses, when errno holds one.
HwlStatus HwlSystemError(int code, const std::string& name, const std::string& what);
