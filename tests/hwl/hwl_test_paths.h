// Tests on each of the decoder's arithmetic paths.
#pragma once

#include <algorithm>
#include <vector>

#include "hwl_decode.h"
#include "hwl_precision.h"
#include "hwl_threads.h"

// The paths this build has (without the x87 only the software ones); the
// first is the default.
inline std::vector<HwlPath> TestPaths() {
  std::vector<HwlPath> paths;
  for (const HwlPath& path : HwlPaths)
    if (HWL_X87 || !path.x87) paths.push_back(path);
  return paths;
}

// Selects a path while it lives.
struct UsePath {
  explicit UsePath(const HwlPath& path) {
    HwlUseX87 = path.x87;
    HwlUseCpuExtensions = path.cpuExtensions;
  }
  ~UsePath() {
    HwlUseX87 = true;
    HwlUseCpuExtensions = true;
  }
  UsePath(const UsePath&) = delete;
  UsePath& operator=(const UsePath&) = delete;
};

// The sample planes of a file as the loader makes them: 16-bit coefficients
// dequantised where the synthesis reads them, its rows handed to a sink
// (here copied into the planes). Empty when the file does not decode.
inline std::vector<std::vector<double>> LoaderSamplePlanes(const std::vector<std::uint8_t>& file, int threads) {
  const HwlHeader h = ParseHwlHeader(file);
  HwlBody body;
  if (!CheckHwlHeader(h, "f") || !DecodeCoefficientPlanes(file, h, "f", body)) return {};
  const std::size_t count = std::size_t(h.width) * h.height;
  HwlTeam team(PartsFor(count, threads));
  HwlSynthesisMemory memory = AllocateSynthesis(h.width, h.height, h.levels, team.Size());
  std::vector<std::int16_t> coefficients(count);
  std::vector<std::vector<double>> planes;
  for (int p = 0; p < body.planeCount; ++p) {
    ExpandCoefficients(body.streams[p], h.valueBits, count, coefficients);
    HwlPlaneValues values;
    values.coefficients = coefficients.data();
    for (int i = 0; i <= h.levels + 1; ++i) values.factors[i] = HwlBandFactor(body.bandScales[p][i]);
    std::vector<double>& plane = planes.emplace_back(count);
    const auto copy = [&](int row, int first, int n, const double* samples) {
      std::copy_n(samples, n, plane.data() + std::size_t(row) * h.width + first);
    };
    SynthesisePlane(values, h.width, h.height, h.levels, memory, team,
                    {[](const void* c, int row, int first, int n, const double* samples) {
                       (*static_cast<const decltype(copy)*>(c))(row, first, n, samples);
                     },
                     &copy});
  }
  return planes;
}
