// A small HWL writer for tests and benchmarks: builds files from given
// symbols and values, from integer coefficient planes, or from pictures
// through a forward Haar analysis. Independent of the library's encoder.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "hwl.h"

namespace testhwl {

// Offsets of the header fields.
constexpr std::size_t WidthOffset = 3, HeightOffset = 5, BppOffset = 7, LevelsOffset = 8;
constexpr std::size_t SymbolCountOffset = 9, ValueCountOffset = 21, ValueBitsOffset = 33;

struct Plane {
  std::vector<double> scales;         // levels + 2 entries
  std::vector<std::uint8_t> symbols;  // one symbol 0..3 each
  std::vector<std::uint8_t> values;   // one value each
};

struct File {
  int width = 0, height = 0, bitsPerPixel = 8, levels = 0, valueBits = 8;
  std::vector<Plane> planes;  // 1 or 3
};

std::vector<std::uint8_t> PackSymbols(const std::vector<std::uint8_t>& symbols);
std::vector<std::uint8_t> PackValues(const std::vector<std::uint8_t>& values, int bits);

// The file's bytes; the counts in the header are those of the planes.
std::vector<std::uint8_t> Write(const File& file);

// Codes integer coefficients (|c| < 2^bits) as symbols and values. With a
// generator, zeros are coded in varied ways (Zero, Positive 0, Negative 0,
// runs of random length); without, runs as long as possible.
void CodeCoefficients(const std::vector<int>& coefficients, int bits, Plane& plane, std::mt19937* rng = nullptr);

// Region boundaries of a written file: end of header, of the tables, then
// the end of each plane's symbol stream and value stream.
std::vector<std::size_t> RegionEnds(const File& file);

// Forward Haar analysis of sample planes (width x height each), band scales
// (2^bits - 1) / largest magnitude, rounding to integers.
File Analyse(const std::vector<std::vector<double>>& planes, int width, int height, int levels, int bits);

// The file that describes the most pixels per byte, the worst case for the
// decoder's memory: every plane all zero, coded as ZeroRuns of 256 with
// 8-bit values (10 bits per 256 pixels).
File AllZeroRuns(int width, int height, int bitsPerPixel, int levels);

// A natural-looking colour picture (R, G, B planes, 0..255): sky gradient,
// hills, a sun, textured ground and some sharp edges.
std::vector<std::vector<double>> Picture(int width, int height);

// A random well-formed file for comparisons: random levels, valueBits, sizes
// (each side at most maxSide, rounded to the transform's block), grey or
// colour, band values drawn so that zero details, equal neighbours and both
// signs are common, zero scales now and then, and varied symbol choices.
File RandomFile(std::mt19937& rng, int maxSide);

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v);
void PutDouble(std::vector<std::uint8_t>& bytes, std::size_t at, double v);

}  // namespace testhwl
