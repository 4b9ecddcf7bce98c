// A deliberately plain HWL decoder used as the reference for the fast one:
// sequential reads, unpacked symbol and value bytes, 32-bit coefficient
// planes, recursive synthesis with two full-size temporaries per step and
// column-by-column vertical passes, all in extended precision. It trusts its
// input: feed it only well-formed files.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "hwl.h"
#include "hwl_precision.h"

namespace oracle {

// Its extended precision: the x87's long double where the build has it,
// else the software type (a build without the x87 has no other).
#if HWL_X87
using Real = long double;
constexpr Real Heavy = 0.8L, Light = 0.2L;
#else
using Real = HwlExtended;
constexpr Real Heavy = HwlHeavyWeight, Light = HwlLightWeight;
#endif
constexpr double K = 0.7071067811865476;

// Decodes a well-formed file. Returns false for a bitsPerPixel other than
// 8 and 24 (pixels untouched).
bool Decode(std::span<const std::uint8_t> file, HwlHeader& header, std::vector<std::uint8_t>& pixels);

// The synthesised sample planes of a well-formed grey or colour file.
std::vector<std::vector<double>> SamplePlanes(std::span<const std::uint8_t> file);

// The pair rule on one line (approximation values then details, length 2p),
// for tests of the rule itself.
std::vector<double> SynthesiseLine(const std::vector<double>& line);

}  // namespace oracle
