// Dequantisation and the inverse Haar synthesis.
//
// A step rebuilds the w x h upper-left block of the plane from its
// approximation block (the coarser step's result, or the approximation band
// for the coarsest step) and the three detail bands of its level. It runs
// row by row: the vertical pass makes rows 2j and 2j + 1 of the block from
// approximation rows j - 2 ... j + 2 and detail rows j - 1 ... j + 1, and the
// horizontal pass turns each of the two into a finished row while it is in
// the cache. Nothing is written where the step reads: its results go to a
// buffer of their own (a coarser step's) or, for the last step, row by row
// to the caller. Detail values are read as coefficients and multiplied by
// their band's factor where they are used.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "hwl_decode.h"
#include "hwl_lanes.h"
#include "hwl_precision.h"
#include "hwl_threads.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Vector row loops, where the build has them for this processor family.
#if HWL_AVX2_ROWS
extern const HwlLaneRows HwlAvx2Rows;  // hwl_lanes_avx2.cpp
#endif
#if HWL_NEON_ROWS
extern const HwlLaneRows HwlNeonRows;  // hwl_lanes_neon.cpp
#endif

bool HwlUseCpuExtensions = true;
bool HwlUseX87 = true;

namespace {

// The results of a pair whose case the rule has decided, by the extended
// arithmetic A (the x87, or the software type).
template <class A>
struct ExactResults {
  static void Plain(double s, double d, double& even, double& odd) {
    even = A::SumTimesK(s, d);
    odd = A::DifferenceTimesK(s, d);
  }
  static void Flat(double s, double left, double right, bool smoothEven, bool smoothOdd, double& even,
                   double& odd) {
    even = smoothEven ? A::SmoothTimesK(s, left) : A::TimesK(s);
    odd = smoothOdd ? A::SmoothTimesK(s, right) : A::TimesK(s);
  }
};

// The same with the pair check in front; A takes only what that cannot
// settle. A flat pair needs s x k once for both of its samples.
template <class A>
struct FastResults {
  using Lane = HwlScalarLaneHere;
  static void Plain(double s, double d, double& even, double& odd) {
    if (HwlPairLanes<Lane>(s, d, 0.0, 0.0, true, false, false, even, odd)) ExactResults<A>::Plain(s, d, even, odd);
  }
  static void Flat(double s, double left, double right, bool smoothEven, bool smoothOdd, double& even,
                   double& odd) {
    bool bad = false;
    const double flat = smoothEven && smoothOdd ? 0.0 : LaneTimesK<Lane>(s, 0.0, 0.0, bad);
    even = smoothEven ? Smooth(s, left, bad) : flat;
    odd = smoothOdd ? Smooth(s, right, bad) : flat;
    if (bad) ExactResults<A>::Flat(s, left, right, smoothEven, smoothOdd, even, odd);
  }
  static double Smooth(double s, double n, bool& bad) {
    double lo = 0, bound = 0;
    const double sum = LaneWeighted<Lane>(s, n, lo, bound);
    return LaneTimesK<Lane>(sum, lo, bound, bad);
  }
};

// The pair rule for pair j of a line of half length p; get.S(k) gives the
// approximation value S(j + k), get.D(k) the detail value D(j + k). A zero
// detail inside the line pulls each of the two samples a fifth of the way
// towards the approximation value on its side, where the neighbourhood is
// not flat; tests are exact (-0 counts as zero) and made in the order
// written, so S(j - 2) and S(j + 2) are read only inside the line. All
// inputs are read before the results are stored.
template <class Results, class Get>
inline void PairRule(const Get& get, int j, int p, double& even, double& odd) {
  const double sj = get.S(0);
  const double dj = get.D(0);
  if (dj != 0 || j == 0 || j == p - 1) return Results::Plain(sj, dj, even, odd);
  const double left = get.S(-1);
  const double right = get.S(1);
  const bool smoothEven = get.D(-1) == 0 && sj != right && (j == p - 2 || right != get.S(2));
  const bool smoothOdd = get.D(1) == 0 && sj != left && (j == 1 || left != get.S(-2));
  Results::Flat(sj, left, right, smoothEven, smoothOdd, even, odd);
}

// A line in memory: S(j) at s, D(j) at d, neighbours sStep and dStep apart.
struct PointerGet {
  const double* s;
  std::ptrdiff_t sStep;
  const double* d;
  std::ptrdiff_t dStep;
  double S(int k) const { return s[k * sStep]; }
  double D(int k) const { return d[k * dStep]; }
};

// A pair whose rule is decided, for lanes the row check refuses.
template <class Results>
void ExactPair(double s, double d, double left, double right, bool plain, bool smoothEven, bool smoothOdd,
               double& even, double& odd) {
  if (plain) return Results::Plain(s, d, even, odd);
  Results::Flat(s, left, right, smoothEven, smoothOdd, even, odd);
}

double ValueAt(const double* p, double) { return *p; }
double ValueAt(const std::int16_t* p, double factor) { return double(*p) * factor; }

// The row loops of hwl_lanes.h, one pair at a time with the whole rule and
// the extended arithmetic: for values the row check cannot take.
template <class Results, class SValue, class DValue>
void ExactVertical(const SValue* const* sRows, const DValue* const* dRows, double sFactor, double dFactor, int count, int j,
                   int p, int rows, double* const* out, HwlExactPair) {
  struct Get {
    const SValue* const* s;
    const DValue* const* d;
    int c;
    double sf, df;
    double S(int k) const { return ValueAt(s[k + 2] + c, sf); }
    double D(int k) const { return ValueAt(d[k + 1] + c, df); }
  };
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < count; ++c)
      PairRule<Results>(Get{sRows + r, dRows + r, c, sFactor, dFactor}, j + r, p, out[2 * r][c], out[2 * r + 1][c]);
}

template <class Results>
void ExactHorizontal(const double* line, int p, int j0, int j1, double* out, HwlExactPair) {
  for (int j = j0; j < j1; ++j)
    PairRule<Results>(PointerGet{line + j, 1, line + p + j, 1}, j, p, out[2 * (j - j0)], out[2 * (j - j0) + 1]);
}

template <class Results>
constexpr HwlLaneRows ExactRowsOf() {
  return {1, ExactVertical<Results, double, double>, ExactVertical<Results, double, std::int16_t>,
          ExactVertical<Results, std::int16_t, std::int16_t>, ExactHorizontal<Results>, nullptr,
          ExactVertical<Results, std::int16_t, std::int16_t>, ExactVertical<Results, std::int16_t, std::int16_t>};
}

// The x87 evaluates every pair the row check refuses or cannot take, where
// there is one; elsewhere the pair check does, with the software type behind
// it.
#if HWL_X87
using X87Pairs = ExactResults<HwlX87Arithmetic>;
constexpr HwlLaneRows X87Rows = ExactRowsOf<X87Pairs>();
#endif
using SoftPairs = ExactResults<HwlSoftArithmetic>;
using FastSoftPairs = FastResults<HwlSoftArithmetic>;
constexpr HwlLaneRows SoftRows = ExactRowsOf<FastSoftPairs>();
// The row check one double at a time: for rows narrower than a vector, and
// for machines without vector rows and without an x87.
constexpr HwlLaneRows ScalarRows = HwlLaneRowsOf<HwlScalarLaneHere>();

// The vector rows this machine has, or none.
const HwlLaneRows* CpuLaneRows() {
  if (!HwlUseCpuExtensions) return nullptr;
#if HWL_AVX2_ROWS
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has ? &HwlAvx2Rows : nullptr;
#elif HWL_NEON_ROWS
  return &HwlNeonRows;
#else
  return nullptr;
#endif
}

// The arithmetic of a synthesis: row loops with the row check (none on an
// x87 machine without vector rows: the x87 alone is faster than the row
// check one double at a time), the rows for what they cannot take, and the
// evaluation of refused lanes.
struct Arithmetic {
  const HwlLaneRows* lanes;
  const HwlLaneRows* exactRows;
  HwlExactPair exact;

  // The rows for a step of `count` columns and pairs per half line.
  const HwlLaneRows& For(bool checkable, int count) const {
    if (!checkable || lanes == nullptr) return *exactRows;
    return count >= lanes->width ? *lanes : ScalarRows;
  }
  // The rows for a last pass to bytes, which take any values.
  const HwlLaneRows& ForBytes(int count) const {
    return lanes != nullptr && count >= lanes->width ? *lanes : ScalarRows;
  }
};

Arithmetic CurrentArithmetic() {
#if HWL_X87
  if (HwlUseX87) return {CpuLaneRows(), &X87Rows, ExactPair<X87Pairs>};
#endif
  const HwlLaneRows* cpu = CpuLaneRows();
  return {cpu ? cpu : &ScalarRows, &SoftRows, ExactPair<FastSoftPairs>};
}

// ---- Which steps the row check may take (hwl_lanes.h: HwlLaneFloor).

// A step's inputs must be at least this (nonzero), so that those of its
// horizontal pass are at least HwlLaneFloor.
constexpr double StepFloor = HwlLaneFloor / HwlPassShrink;

// The least nonzero magnitude of the doubles, or 0 when one of them is -0,
// not finite or above HwlLaneCeiling (+infinity when all are +0).
double ScanBound(const double* x, std::size_t count) {
  constexpr std::uint64_t Ceiling = std::bit_cast<std::uint64_t>(HwlLaneCeiling);
  std::uint64_t least = ~std::uint64_t{0};
  bool bad = false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x[i]);
    const std::uint64_t magnitude = bits & ~(std::uint64_t{1} << 63);
    bad |= bits != magnitude && magnitude == 0;  // -0
    bad |= magnitude > Ceiling;
    if (magnitude != 0) least = std::min(least, magnitude);
  }
  if (bad) return 0;
  return least == ~std::uint64_t{0} ? std::numeric_limits<double>::infinity() : std::bit_cast<double>(least);
}

// True when a band of coefficients holds a negative one: times a factor of
// +0 it is -0. A band of zeros (a plain area) is read through, so the sign
// bits are gathered four coefficients at a time.
bool HasNegative(const std::int16_t* c, std::size_t stride, int x0, int x1, int y0, int y1) {
  constexpr std::uint64_t Signs = 0x8000'8000'8000'8000;
  for (int y = y0; y < y1; ++y) {
    const std::int16_t* row = c + std::size_t(y) * stride;
    std::uint64_t bits = 0;
    int x = x0;
    for (; x + 4 <= x1; x += 4) {
      std::uint64_t four;
      std::memcpy(&four, row + x, sizeof four);
      bits |= four;
    }
    for (; x < x1; ++x) bits |= std::uint16_t(row[x]);
    if ((bits & Signs) != 0) return true;
  }
  return false;
}

// The bound of band i's values (0 for one the row check cannot take).
double BandBound(const HwlPlaneValues& v, int width, int height, int levels, int band, double sampleBound) {
  if (v.samples != nullptr) return sampleBound;
  const double f = v.factors[band];
  if (std::signbit(f)) return 0;
  if (f > 0) return f;  // |c| >= 1; checked files keep 255 x f below HwlLaneCeiling
  // Factor +0: every value is +0 unless a coefficient is negative.
  const int w = width >> band, h = height >> band;
  const bool negative = band == levels + 1 ? HasNegative(v.coefficients, width, 0, w, 0, h)
                                           : HasNegative(v.coefficients, width, w / 2, w, 0, h / 2) ||
                                                 HasNegative(v.coefficients, width, 0, w, h / 2, h);
  return negative ? 0 : std::numeric_limits<double>::infinity();
}

// Columns on either side of the vertical pass's rows: the horizontal pass
// reads two values before and after a line.
constexpr int Margin = 2;
// Pairs per piece of a last-step row handed to the sink.
constexpr int PiecePairs = 256;
constexpr int MaxLaneWidth = 4;

// Pair rows a vertical pass makes at once (the rows' shared inputs are read
// once), and so lines of the horizontal pass in a part's buffer: fewer for
// a plane of one pair row.
constexpr int PassRows = 2;
constexpr int Lines = 2 * PassRows;
int LinesFor(int height) { return 2 * std::clamp(height / 2, 1, PassRows); }

std::size_t RowDoubles(int width, int lines) {
  return lines * (std::size_t(width) + 2 * Margin) + 2 * (PiecePairs + MaxLaneWidth);
}

// A bound of the last step's vertical results as its pass to bytes reads
// them (the approximation values of its lines, the left half, and the
// details, the right half), from the band factors alone: a coefficient is
// at most HwlMaxCoefficient times its factor (the dequantised value's
// rounding is within HwlPassBound's allowance). A picture's is 800 to 1750.
double ByteLineBound(const HwlPlaneValues& v, int levels) {
  if (v.coefficients == nullptr) return std::numeric_limits<double>::infinity();
  const auto band = [&](int i) { return HwlMaxCoefficient * std::fabs(v.factors[i]); };
  double approximation = band(levels + 1);
  for (int n = levels;; --n) {
    const double left = HwlPassBound(approximation, band(n));  // the vertical pass: approximations, one band
    const double right = HwlPassBound(band(n), band(n));       // two bands
    if (n == 0) return std::max(left, right);
    approximation = HwlPassBound(left, right);  // the horizontal pass
  }
}

// The last step's right half as the byte pass reads it: estimates made by
// verticalDetails, and the exact value of a detail recomputed where that
// pass needs it (a lane it refuses), from the same rows.
struct DetailRows {
  const std::int16_t* upper[PassRows + 4];
  const std::int16_t* details[PassRows + 2];
  double factor;
  int j, p, line;  // the byte pass's line: 2r + half for pair row j + r
  const HwlLaneRows* exactRows;
  HwlExactPair exact;
};

double ExactDetail(const void* context, int column) {
  const DetailRows& rows = *static_cast<const DetailRows*>(context);
  const int r = rows.line / 2;
  const std::int16_t* upper[5];
  const std::int16_t* details[3];
  for (int k = 0; k < 5; ++k) upper[k] = rows.upper[r + k] + column;
  for (int k = 0; k < 3; ++k) details[k] = rows.details[r + k] + column;
  double results[2];
  double* const out[2] = {&results[0], &results[1]};
  rows.exactRows->verticalDetails(upper, details, rows.factor, rows.factor, 1, rows.j + r, rows.p, 1, out, rows.exact);
  return results[rows.line % 2];
}

// One synthesis step: the w x h block of step n from `in` (the coarser
// step's result, w/2 x h/2; unused for the coarsest) and the plane's
// detail bands, to `out` (w x h) or, for the last step, the pixels or else
// the sink.
void SynthesiseStep(const HwlPlaneValues& v, int width, int height, int levels, int n, const double* in,
                    double* out, bool checkable, HwlSynthesisMemory& memory, HwlTeam& team, HwlRowSink sink,
                    const HwlPixelRows* pixels, const Arithmetic& arithmetic) {
  const int w = width >> n, h = height >> n, p = h / 2, q = w / 2;
  const int parts = std::min({int(memory.rows.size()), PartsFor(std::size_t(w) * h, team.Size()), p});
  const HwlLaneRows& rows = arithmetic.For(checkable, q);
  const HwlLaneRows& byteRows = arithmetic.ForBytes(q);
  const HwlExactPair exact = arithmetic.exact;
  const std::size_t stride = std::size_t(width);
  // The last step to pixels: its right half of coefficients as estimates,
  // and whether its lines are narrow.
  const bool toBytes = out == nullptr && pixels != nullptr;
  const bool estimates = toBytes && v.coefficients != nullptr;
  const bool narrow = toBytes && ByteLineBound(v, levels) <= HwlByteWide;
  team.Run(parts, [&](int part) {
    // The lines, with Margin readable zeros on either side of each.
    const int lines = memory.rowLines;
    double* line[Lines] = {};
    double* right[Lines] = {};
    for (int i = 0; i < lines; ++i) {
      line[i] = memory.rows[part].get() + Margin + i * (std::size_t(width) + 2 * Margin);
      right[i] = line[i] + q;
    }
    double* piece = line[lines - 1] + width + Margin;
    const PartRange range = PartOf(std::size_t(p), part, parts);
    DetailRows detailRows{{}, {}, 0, 0, p, 0, arithmetic.exactRows, exact};
    const HwlExactDetails estimated{ExactDetail, &detailRows};
    const HwlByteLine known{estimates ? &estimated : nullptr, narrow};
    const auto row = [&](int j, int k) { return std::size_t(std::clamp(j + k, 0, p - 1)); };
    for (int j = int(range.first); j < int(range.last); j += PassRows) {
      if (team.Cancelled()) return;
      const int passRows = std::min(PassRows, int(range.last) - j);
      // Vertical pass: the left half of the block's columns has the
      // approximation block above its detail band, the right half two
      // detail bands.
      const double f = v.factors[n];
      if (v.coefficients != nullptr) {
        const std::int16_t* const c = v.coefficients;
        const std::int16_t* details[PassRows + 2];
        const std::int16_t* upper[PassRows + 4];
        for (int k = 0; k < passRows + 2; ++k) details[k] = c + (p + row(j, k - 1)) * stride;
        for (int k = 0; k < passRows + 4; ++k) upper[k] = c + row(j, k - 2) * stride;
        if (n == levels) {
          rows.verticalCoefficients(upper, details, v.factors[levels + 1], f, q, j, p, passRows, line, exact);
        } else {
          const double* approximation[PassRows + 4];
          for (int k = 0; k < passRows + 4; ++k) approximation[k] = in + row(j, k - 2) * q;
          rows.verticalScaled(approximation, details, 0, f, q, j, p, passRows, line, exact);
        }
        for (int k = 0; k < passRows + 2; ++k) details[k] += q;
        for (int k = 0; k < passRows + 4; ++k) upper[k] += q;
        if (estimates) {
          (narrow ? rows.verticalNarrowDetails : rows.verticalDetails)(upper, details, f, f, q, j, p, passRows, right,
                                                                       exact);
          std::copy_n(upper, passRows + 4, detailRows.upper);
          std::copy_n(details, passRows + 2, detailRows.details);
          detailRows.factor = f;
          detailRows.j = j;
        } else {
          rows.verticalCoefficients(upper, details, f, f, q, j, p, passRows, right, exact);
        }
      } else {
        const double* const s = v.samples;
        const double* details[PassRows + 2];
        const double* upper[PassRows + 4];
        for (int k = 0; k < passRows + 2; ++k) details[k] = s + (p + row(j, k - 1)) * stride;
        for (int k = 0; k < passRows + 4; ++k)
          upper[k] = n == levels ? s + row(j, k - 2) * stride : in + row(j, k - 2) * q;
        rows.verticalDoubles(upper, details, 0, 0, q, j, p, passRows, line, exact);
        for (int k = 0; k < passRows + 2; ++k) details[k] += q;
        for (int k = 0; k < passRows + 4; ++k) upper[k] = s + row(j, k - 2) * stride + q;
        rows.verticalDoubles(upper, details, 0, 0, q, j, p, passRows, right, exact);
      }
      // Horizontal pass of the rows.
      for (int i = 0; i < 2 * passRows; ++i) {
        const int r = 2 * j + i;
        if (out != nullptr) {
          rows.horizontal(line[i], q, 0, q, out + std::size_t(r) * w, exact);
          continue;
        }
        if (pixels != nullptr) {
          const std::size_t at = std::size_t(r) * width;
          detailRows.line = i;
          if (pixels->second == nullptr)
            byteRows.bytes(line[i], q, pixels->bytes + at, nullptr, nullptr, known, exact);
          else
            byteRows.bytes(line[i], q, pixels->bytes + 4 * at, pixels->second + at, pixels->third + at, known, exact);
          continue;
        }
        for (int j0 = 0; j0 < q;) {
          const int j1 = q - (j0 + PiecePairs) < rows.width ? q : j0 + PiecePairs;
          rows.horizontal(line[i], q, j0, j1, piece, exact);
          sink.call(sink.context, r, 2 * j0, 2 * (j1 - j0), piece);
          j0 = j1;
        }
      }
    }
  });
}

}  // namespace

std::size_t HwlSynthesisMemory::Bytes() const {
  return steps[0].Bytes() + steps[1].Bytes() + rows.size() * RowDoubles(rowWidth, rowLines) * sizeof(double);
}

void PrepareSynthesis(HwlSynthesisMemory& m, int width, int height, int levels, int threads) {
  const std::size_t count = std::size_t(width) * height;
  for (int i = 0; i < 2; ++i) m.steps[i].Fit(levels > i ? count >> (2 * (i + 1)) : 0);
  const int parts = std::max(1, std::min(threads, height / 2));
  const int lines = LinesFor(height);
  if (m.rowWidth != width || m.rowLines < lines) {
    m.rows.clear();
    m.rowWidth = width;
    m.rowLines = lines;
  }
  // Zeros: the margins are read (by lanes whose results are not used) and
  // never written.
  while (int(m.rows.size()) < parts) m.rows.emplace_back(new double[RowDoubles(width, m.rowLines)]());
}

HwlSynthesisMemory AllocateSynthesis(int width, int height, int levels, int threads) {
  HwlSynthesisMemory m;
  PrepareSynthesis(m, width, height, levels, threads);
  return m;
}

namespace {

// The synthesis of a plane to the pixels or, without them, the sink.
void Synthesise(const HwlPlaneValues& values, int width, int height, int levels, HwlSynthesisMemory& memory,
                HwlTeam& team, HwlRowSink sink, const HwlPixelRows* pixels) {
  const HwlExtendedPrecision precision;
  const Arithmetic arithmetic = CurrentArithmetic();
  const double sampleBound =
      values.samples != nullptr ? ScanBound(values.samples, std::size_t(width) * height) : 0.0;
  // The least nonzero magnitude of the approximation block of the step (0: unknown).
  double approximation = BandBound(values, width, height, levels, levels + 1, sampleBound);
  for (int n = levels; n >= 0; --n) {
    const double* in = n < levels ? memory.steps[n % 2].data.get() : nullptr;
    double* out = n > 0 ? memory.steps[(n - 1) % 2].data.get() : nullptr;
    const double detail = BandBound(values, width, height, levels, n, sampleBound);
    double least = std::min(approximation, detail);
    if (least < StepFloor && detail >= StepFloor && in != nullptr) {
      // Each pass may have shrunk the bound; look at the values themselves.
      approximation = ScanBound(in, std::size_t(width >> (n + 1)) * (height >> (n + 1)));
      least = std::min(approximation, detail);
    }
    const bool checkable = least >= StepFloor;
    SynthesiseStep(values, width, height, levels, n, in, out, checkable, memory, team, sink, pixels, arithmetic);
    if (team.Cancelled()) return;
    approximation = checkable ? least * HwlPassShrink * HwlPassShrink : 0;
  }
}

}  // namespace

void SynthesisePlane(const HwlPlaneValues& values, int width, int height, int levels, HwlSynthesisMemory& memory,
                     HwlTeam& team, HwlRowSink sink) {
  Synthesise(values, width, height, levels, memory, team, sink, nullptr);
}

void SynthesisePlane(const HwlPlaneValues& values, int width, int height, int levels, HwlSynthesisMemory& memory,
                     HwlTeam& team, const HwlPixelRows& pixels) {
  Synthesise(values, width, height, levels, memory, team, {}, &pixels);
}

void SynthesisePlane(std::span<double> plane, int width, int height, int levels, int threads) {
  const std::vector<double> input(plane.begin(), plane.end());
  HwlPlaneValues values;
  values.samples = input.data();
  HwlTeam team(PartsFor(plane.size(), std::max(1, threads)));
  HwlSynthesisMemory memory = AllocateSynthesis(width, height, levels, team.Size());
  const auto copy = [&](int row, int first, int count, const double* samples) {
    std::copy_n(samples, count, plane.data() + std::size_t(row) * width + first);
  };
  SynthesisePlane(values, width, height, levels, memory, team,
                  {[](const void* c, int row, int first, int count, const double* samples) {
                     (*static_cast<const decltype(copy)*>(c))(row, first, count, samples);
                   },
                   &copy});
}

void HwlSynthesisePair(const double* s, std::ptrdiff_t sStep, const double* d, std::ptrdiff_t dStep, int j, int p,
                       double& even, double& odd) {
  const PointerGet get{s, sStep, d, dStep};
#if HWL_X87
  if (HwlUseX87) {
    const HwlExtendedPrecision precision;
    return PairRule<X87Pairs>(get, j, p, even, odd);
  }
#endif
  PairRule<FastSoftPairs>(get, j, p, even, odd);
}

void HwlPlainPair(double s, double d, double& even, double& odd) {
#if HWL_X87
  if (HwlUseX87) {
    const HwlExtendedPrecision precision;
    return X87Pairs::Plain(HwlAfterPrecision(s), HwlAfterPrecision(d), even, odd);
  }
#endif
  FastSoftPairs::Plain(s, d, even, odd);
}

double HwlBandFactor(double scale) {
  if (scale == 0) return 0;
#if HWL_X87
  if (HwlUseX87) {
    const HwlExtendedPrecision precision;
    return HwlX87Arithmetic::Reciprocal(HwlAfterPrecision(scale));
  }
#endif
  return HwlSoftArithmetic::Reciprocal(scale);
}

void DequantiseBands(std::span<double> plane, int width, int height, int levels,
                     std::span<const double> bandScales) {
  std::array<double, HwlMaxBands> factor{};
  for (int i = 0; i <= levels + 1; ++i) factor[i] = HwlBandFactor(bandScales[i]);
  for (int y = 0; y < height; ++y) {
    // From the right: level i covers columns [W >> (i + 1), W >> i) of the
    // rows in its upper quarter, and every column left of W >> i below it.
    double* row = plane.data() + std::size_t(y) * width;
    int end = width;
    for (int i = 0; i <= levels + 1; ++i) {
      const bool whole = i == levels + 1 || y >= (height >> (i + 1));
      const int begin = whole ? 0 : width >> (i + 1);
      for (int x = begin; x < end; ++x) row[x] *= factor[i];
      if (whole) break;
      end = begin;
    }
  }
}
