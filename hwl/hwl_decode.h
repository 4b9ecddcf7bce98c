// The decoder's stages, exposed for tests and benchmarks. LoadHwlImage and
// DecodeHwlImage (hwl.h) run them in this order for each plane:
//   LocateCoefficientPlanes (once per file: check the tables and locate
//   the streams), ExpandSymbols (into 16-bit integers; the expansion is the
//   check of the plane's streams), the synthesis (hwl_threads.h),
//   which dequantises each value where it reads it and writes the last
//   step's rows as pixel bytes (SampleToByte of each sample). The stages on
//   doubles below (ExpandSymbols into doubles, DequantiseBands,
//   SynthesisePlane) compute the same values a plane at a time.
//
// Arithmetic: every synthesis result is the extended-precision (64-bit
// significand) evaluation rounded to double when stored, so the output is
// the same on every machine. The x87 evaluates it where there is one
// (hwl_precision.h), the software type of hwl_extended.h elsewhere. In
// front of either, row loops (AVX2 with FMA on x86-64, NEON on ARM64, one
// double at a time elsewhere) compute the pairs in double precision with
// error-free sums and products and a check that the double result is the
// one the extended evaluation gives (hwl_lanes.h); lanes that fail the
// check go to the extended arithmetic, behind a second, tighter check where
// that is the software type. Where only the pixel bytes are kept (the
// loader's last horizontal pass) the row loops round plainly and check that
// the result lies far enough from a boundary between two bytes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "hwl_format.h"

// The vector rows run when the processor has them and this is true; tests
// and benchmarks clear it to check the other paths on the same machine.
extern bool HwlUseCpuExtensions;
// The x87 evaluates the extended arithmetic where the build has it and this
// is true; cleared, the codec takes the path of machines without an x87.
// The output is the same in every setting of both.
extern bool HwlUseX87;

// The four settings of the two, named for tests and benchmarks.
struct HwlPath {
  const char* name;
  bool x87, cpuExtensions;
};
constexpr HwlPath HwlPaths[] = {{"x87 + vector rows", true, true},
                                {"x87 alone", true, false},
                                {"software + vector rows", false, true},
                                {"software + double-double pairs", false, false}};

// Reads the band-scale tables of all planes and locates each plane's streams,
// checking the file length (HwlReadPastEnd) and the band scales
// (HwlFormatError), but not the streams themselves. Allocates nothing; the
// header must have passed CheckHwlHeader.
HwlStatus LocateCoefficientPlanes(std::span<const std::uint8_t> file, const HwlHeader& header,
                                  const std::string& name, HwlBody& body);
// It and CheckPlaneStreams (below) for every plane: the whole file checked
// before anything is decoded.
HwlStatus DecodeCoefficientPlanes(std::span<const std::uint8_t> file, const HwlHeader& header,
                                  const std::string& name, HwlBody& body,
                                  const std::atomic<bool>* cancel = nullptr);

// True when the flag exists and is set; cheap enough to test every
// millisecond or so of work.
inline bool HwlCancelRequested(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

// What ExpandSymbols found in one plane's streams.
struct HwlExpansion {
  std::uint64_t coefficients = 0;  // positions described, runs included
  std::uint32_t symbolsUsed = 0;
  std::uint32_t valuesUsed = 0;
  bool valueMissing = false;  // a symbol needed a value and none was left
  bool runOverflow = false;   // a run reached past the last coefficient
  bool cancelled = false;     // stopped early by the cancel flag: the counts are partial
  bool Exact(std::uint64_t count, const HwlPlaneStreams& s) const {
    return coefficients == count && symbolsUsed == s.symbolCount && valuesUsed == s.valueCount &&
           !valueMissing && !runOverflow;
  }
};

// What a walk of plane p's whole streams (located), e, says of them:
// HwlFormatError, with what is wrong, unless they describe exactly width x
// height coefficients with no symbol or value left over; HwlCancelled when
// the walk was cancelled.
HwlStatus PlaneStreamsStatus(const HwlExpansion& e, const HwlBody& body, const HwlHeader& header, int p,
                             const std::string& name);
// The same from a walk that writes nothing.
HwlStatus CheckPlaneStreams(const HwlBody& body, const HwlHeader& header, int p, const std::string& name,
                            const std::atomic<bool>* cancel = nullptr);

// Walks one plane's symbols and values until `coefficientCount` positions
// are described, the symbols run out or a value is missing. When `plane` is
// not empty (it must then hold coefficientCount entries) each coefficient is
// written, as a double or as a 16-bit integer; positions the streams never
// reach are left alone. With an empty plane it only counts (used to check a
// file before allocating). The cancel flag, when given, is tested every
// fraction of a millisecond of work.
HwlExpansion ExpandSymbols(const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount,
                           std::span<double> plane, const std::atomic<bool>* cancel = nullptr);
HwlExpansion ExpandCoefficients(const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount,
                               std::span<std::int16_t> plane, const std::atomic<bool>* cancel = nullptr);

// A place in one plane's streams: symbol index, value index and the
// coefficient position reached there.
struct HwlStreamCursor {
  std::uint32_t symbol = 0;
  std::uint32_t value = 0;
  std::uint64_t position = 0;
};

// Moves a cursor of a plane forward to symbol `symbol` (a multiple of 4, at
// most the symbol count rounded down), counting 32 symbols a step. A set
// cancel flag stops it early, and so do streams that are not well formed
// (a value missing): its position is then HwlNoPosition, past every plane,
// so that an expansion from it writes nothing (no two parts of a plane
// write the same coefficient, whatever the streams) and does not end where
// the next part's cursor begins; a cursor advanced from it stays so.
constexpr std::uint64_t HwlNoPosition = UINT64_MAX;
HwlStreamCursor AdvanceCursor(const HwlPlaneStreams& streams, int valueBits, HwlStreamCursor cursor,
                              std::uint32_t symbol, const std::atomic<bool>* cancel = nullptr);

// ExpandSymbols for the symbols [from.symbol, endSymbol) only, so that
// threads can expand disjoint parts of a plane.
HwlExpansion ExpandSymbols(const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount,
                           std::span<double> plane, HwlStreamCursor from, std::uint32_t endSymbol,
                           const std::atomic<bool>* cancel = nullptr);
HwlExpansion ExpandCoefficients(const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount,
                               std::span<std::int16_t> plane, HwlStreamCursor from, std::uint32_t endSymbol,
                               const std::atomic<bool>* cancel = nullptr);

// Multiplies every coefficient of the plane (width x height, in place) by its
// band's factor HwlBandFactor(scale). Coefficients are integers of at most
// 8 bits, so the product is exact in extended precision and the double
// product here rounds it identically.
void DequantiseBands(std::span<double> plane, int width, int height, int levels,
                     std::span<const double> bandScales);

// Inverse Haar synthesis of a dequantised plane in place, levels + 1 steps
// from the coarsest block to the full plane, with the smoothing of zero
// details. threads >= 1; the result does not depend on it.
void SynthesisePlane(std::span<double> plane, int width, int height, int levels, int threads);

// The pair rule for pair j of a line of half length p, as SynthesisePlane
// computes it: s and d point at the approximation value S(j) and the detail
// value D(j), neighbouring pairs sStep and dStep elements away; even and odd
// receive the two samples. It reads S(j - 2) ... S(j + 2) and D(j - 1) ...
// D(j + 1) only where they lie inside the line. For the encoder, which
// rebuilds what the decoder will make.
void HwlSynthesisePair(const double* s, std::ptrdiff_t sStep, const double* d, std::ptrdiff_t dStep, int j, int p,
                       double& even, double& odd);
// Its plain case, (s + d) x k and (s - d) x k, for any d.
void HwlPlainPair(double s, double d, double& even, double& odd);

// Sample to byte: <= 0 (and NaN) gives 0, >= 255 gives 255, otherwise the
// nearest integer with ties to even.
std::uint8_t SampleToByte(double sample);

// Number of decoding threads: `requested` when above 0, else the machine's
// cores, at most HwlMaxThreads.
constexpr int HwlMaxThreads = 8;
int HwlThreadCount(int requested);
