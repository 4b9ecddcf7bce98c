// The file body: band-scale tables, symbol and value streams.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "hwl_decode.h"

namespace {

double ReadDouble(std::span<const std::uint8_t> b, std::size_t at) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = bits << 8 | b[at + i];
  return std::bit_cast<double>(bits);
}

const char* const PlaneNames[HwlMaxPlanes] = {"plane 1", "plane 2", "plane 3"};

// Work between two looks at the cancel flag, well under a millisecond:
// symbol bytes counted, or coefficients expanded.
constexpr std::uint32_t CancelCheckBytes = 1u << 14;
constexpr std::uint64_t CancelCheckCoefficients = 1u << 18;

}  // namespace

HwlStatus LocateCoefficientPlanes(std::span<const std::uint8_t> file, const HwlHeader& header,
                                  const std::string& name, HwlBody& body) {
  const int planes = HwlPlaneCount(header);
  const int bands = header.levels + 2;
  body.planeCount = planes;

  // Lay out the regions first, so that a short file is reported with the
  // region it ends in; the total fits 64 bits (under 2^36).
  std::uint64_t at = HwlHeaderSize;
  const std::uint64_t tablesEnd = at + std::uint64_t(planes) * bands * sizeof(double);
  if (file.size() < tablesEnd) return HwlError(HwlReadPastEnd, name, "file ends inside the band-scale tables");
  at = tablesEnd;
  for (int p = 0; p < planes; ++p) {
    HwlPlaneStreams& s = body.streams[p];
    s.symbolCount = header.symbolCount[p];
    s.valueCount = header.valueCount[p];
    const std::uint64_t symbolBytes = (std::uint64_t{s.symbolCount} + 3) / 4;
    const std::uint64_t valueBytes = (std::uint64_t{s.valueCount} * header.valueBits + 7) / 8;
    if (file.size() - at < symbolBytes)
      return HwlError(HwlReadPastEnd, name, std::string("file ends inside the symbol stream of ") + PlaneNames[p]);
    s.symbols = file.subspan(at, symbolBytes);
    at += symbolBytes;
    if (file.size() - at < valueBytes)
      return HwlError(HwlReadPastEnd, name, std::string("file ends inside the value stream of ") + PlaneNames[p]);
    s.values = file.subspan(at, valueBytes);
    at += valueBytes;
  }

  for (int p = 0; p < planes; ++p) {
    for (int i = 0; i < bands; ++i) {
      const double scale = ReadDouble(file, HwlHeaderSize + (std::size_t(p) * bands + i) * sizeof(double));
      const std::string where = std::string("band scale ") + std::to_string(i) + " of " + PlaneNames[p];
      // An infinite scale is fine: its reciprocal is 0 and the band decodes as zeros.
      if (std::isnan(scale)) return HwlError(HwlFormatError, name, where + " is not a number");
      if (scale != 0 && std::fabs(scale) < HwlMinBandScale)
        return HwlError(HwlFormatError, name, where + " is too small: its reciprocal is out of range");
      body.bandScales[p][i] = scale;
    }
    for (int i = bands; i < HwlMaxBands; ++i) body.bandScales[p][i] = 0;
  }
  return {};
}

HwlStatus PlaneStreamsStatus(const HwlExpansion& e, const HwlBody& body, const HwlHeader& header, int p,
                             const std::string& name) {
  const std::uint64_t count = std::uint64_t{header.width} * header.height;
  const HwlPlaneStreams& s = body.streams[p];
  if (e.cancelled) return HwlError(HwlCancelled, name, "decoding cancelled");
  if (e.Exact(count, s)) return {};
  std::string reason;
  if (e.runOverflow)
    reason = "a zero run reaches past the last coefficient";
  else if (e.valueMissing)
    reason = "a symbol needs a value after the last one";
  else if (e.coefficients < count)
    reason = "the symbols describe " + std::to_string(e.coefficients) + " of " + std::to_string(count) +
             " coefficients";
  else if (e.symbolsUsed < s.symbolCount)
    reason = std::to_string(s.symbolCount - e.symbolsUsed) + " symbols left after the last coefficient";
  else
    reason = std::to_string(s.valueCount - e.valuesUsed) + " values left unused";
  return HwlError(HwlFormatError, name, std::string(PlaneNames[p]) + ": " + reason);
}

HwlStatus CheckPlaneStreams(const HwlBody& body, const HwlHeader& header, int p, const std::string& name,
                            const std::atomic<bool>* cancel) {
  const std::uint64_t count = std::uint64_t{header.width} * header.height;
  return PlaneStreamsStatus(ExpandSymbols(body.streams[p], header.valueBits, count, {}, cancel), body, header, p,
                            name);
}

HwlStatus DecodeCoefficientPlanes(std::span<const std::uint8_t> file, const HwlHeader& header,
                                  const std::string& name, HwlBody& body, const std::atomic<bool>* cancel) {
  if (HwlStatus s = LocateCoefficientPlanes(file, header, name, body); !s) return s;
  for (int p = 0; p < body.planeCount; ++p)
    if (HwlStatus s = CheckPlaneStreams(body, header, p, name, cancel); !s) return s;
  return {};
}

namespace {

// Per symbol byte (four symbols): how many values they consume, which of
// those values (bit i for the i-th) are run lengths, the first ZeroRun
// symbol (4: none) and the index of its value, and for each symbol the slot
// of its value (4: none, read as 0) and whether it is negated.
struct SymbolByte {
  std::uint8_t values;
  std::uint8_t runs;
  std::uint8_t firstRun;
  std::uint8_t firstRunValue;
  std::array<std::uint8_t, 4> slot;
  std::array<std::int8_t, 4> negate;  // 0 or -1
};
constexpr std::array<SymbolByte, 256> SymbolBytes = [] {
  std::array<SymbolByte, 256> table{};
  for (int b = 0; b < 256; ++b) {
    SymbolByte& t = table[b];
    t.firstRun = 4;
    for (int i = 0; i < 4; ++i) {
      const int code = b >> (2 * i) & 3;
      t.slot[i] = code == 0 ? 4 : t.values;
      t.negate[i] = code == 3 ? -1 : 0;
      if (code == 1) t.runs = std::uint8_t(t.runs | 1 << t.values);
      if (code == 1 && t.firstRun == 4) {
        t.firstRun = std::uint8_t(i);
        t.firstRunValue = t.values;
      }
      if (code != 0) ++t.values;
    }
  }
  return table;
}();

// Eight symbol bytes (32 symbols) as one little-endian word: symbol i in
// bits 2i and 2i + 1.
constexpr std::uint64_t EvenBits = 0x5555555555555555;
inline std::uint64_t SymbolWord(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    std::uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i) swapped = swapped << 8 | (word >> 8 * i & 0xFF);
    word = swapped;
  }
  return word;
}
// Bit 2i set where symbol i consumes a value (any but Zero), where it is a ZeroRun.
inline std::uint64_t ValueSymbols(std::uint64_t word) { return (word | word >> 1) & EvenBits; }
inline std::uint64_t RunSymbols(std::uint64_t word) { return word & ~(word >> 1) & EvenBits; }

// Values of `bits` bits packed least significant bit first.
struct ValueReader {
  const std::uint8_t* bytes;
  std::size_t size;
  unsigned bits;
  unsigned mask;
  // Value k; the caller keeps k below the value count, so the first byte
  // exists, and a second byte exists whenever the value reaches into it.
  unsigned At(std::uint64_t k) const {
    const std::uint64_t bit = k * bits;
    const std::size_t byte = bit >> 3;
    unsigned word = bytes[byte];
    if (byte + 1 < size) word |= unsigned{bytes[byte + 1]} << 8;
    return word >> (bit & 7) & mask;
  }
};
// The same for 8-bit values, one byte each.
struct ByteReader {
  const std::uint8_t* bytes;
  unsigned At(std::uint64_t k) const { return bytes[k]; }
};

ValueReader ValuesOf(const HwlPlaneStreams& s, int valueBits) {
  return {s.values.data(), s.values.size(), unsigned(valueBits), (1u << valueBits) - 1};
}

// The walks below take their processor-specific steps from one of these.
// PutFour writes the four coefficients of symbol byte b from the four values
// at `values` (all four are read), a run's lane as if it held its value;
// Fill writes n zeros and may write up to FillSlack more coefficients.
// Integer negation keeps a value of 0 at +0.0.
struct PlainSteps {
  static constexpr std::uint32_t FillSlack = 0;
  static int Popcount(std::uint64_t bits) { return std::popcount(bits); }
  template <class T>
  static void PutFour(unsigned b, const std::uint8_t* values, T* out) {
    const SymbolByte& t = SymbolBytes[b];
    // Slot 4 shifts the four bytes out entirely: the zero of a Zero symbol.
    const std::uint64_t four = values[0] | unsigned{values[1]} << 8 | unsigned{values[2]} << 16 |
                               std::uint64_t{values[3]} << 24;
    for (int i = 0; i < 4; ++i) {
      const int magnitude = int(four >> 8 * t.slot[i] & 0xFF);
      out[i] = T((magnitude ^ t.negate[i]) - t.negate[i]);
    }
  }
  template <class T>
  static void Fill(T* out, std::uint32_t n) {
    std::fill_n(out, n, T(0));
  }
  // Two bytes, b0 (consuming `used` values) and b1 after it.
  template <class T>
  static void PutEight(unsigned b0, unsigned b1, unsigned used, const std::uint8_t* values, T* out) {
    PutFour(b0, values, out);
    PutFour(b1, values + used, out + 4);
  }
};

#if defined(__x86_64__) && defined(__GNUC__)
#define HWL_STREAMS_SIMD 1
// For 8-bit values: per symbol byte, the byte shuffle that puts the value of
// each symbol in its 16-bit lane (0x80: a zero byte), and the sign of each
// lane (psignw: -1 negates, 1 keeps): 16 bytes, the shuffle in the low
// eight, which PutEight loads as one.
struct ByteShuffle {
  alignas(16) std::array<std::uint8_t, 8> lanes;
  std::array<std::int16_t, 4> sign;
};
constexpr std::array<ByteShuffle, 256> ByteShuffles = [] {
  std::array<ByteShuffle, 256> table{};
  for (int b = 0; b < 256; ++b) {
    ByteShuffle& t = table[b];
    t.lanes.fill(0x80);
    for (int i = 0; i < 4; ++i) {
      const int slot = SymbolBytes[b].slot[i];
      if (slot < 4) t.lanes[2 * i] = std::uint8_t(slot);
      t.sign[i] = std::int16_t(SymbolBytes[b].negate[i] * 2 + 1);
    }
  }
  return table;
}();

static_assert(sizeof(ByteShuffle) == 16 && alignof(ByteShuffle) == 16 && offsetof(ByteShuffle, sign) == 8);
// For PutEight: `used` (0 ... 4) added to the second byte's lanes (a zero
// lane, 0x80 up, stays one).
alignas(16) constexpr std::array<std::array<std::uint8_t, 16>, 5> SecondByteOffsets = [] {
  std::array<std::array<std::uint8_t, 16>, 5> table{};
  for (int used = 0; used < 5; ++used)
    for (int i = 8; i < 16; ++i) table[used][i] = std::uint8_t(used);
  return table;
}();

// The vector steps need AVX2 (whose processors all have popcnt).
bool HasVectorSteps() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  return has && HwlUseCpuExtensions;
}

struct VectorSteps {
  static constexpr std::uint32_t FillSlack = 63;
  __attribute__((target("avx2,popcnt"))) static int Popcount(std::uint64_t bits) { return __builtin_popcountll(bits); }
  __attribute__((target("avx2"))) static __m128i Four(unsigned b, const std::uint8_t* values) {
    std::int32_t four;
    std::memcpy(&four, values, 4);
    const ByteShuffle& t = ByteShuffles[b];
    const __m128i lanes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t.lanes.data()));
    const __m128i sign = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t.sign.data()));
    return _mm_sign_epi16(_mm_shuffle_epi8(_mm_cvtsi32_si128(four), lanes), sign);
  }
  __attribute__((target("avx2"))) static void PutFour(unsigned b, const std::uint8_t* values, std::int16_t* out) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), Four(b, values));
  }
  __attribute__((target("avx2"))) static void PutFour(unsigned b, const std::uint8_t* values, double* out) {
    _mm256_storeu_pd(out, _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(Four(b, values))));
  }
  // Two bytes at once: one shuffle of the eight values from `values` on,
  // the second byte's lanes moved past the `used` values of the first.
  __attribute__((target("avx2"))) static void PutEight(unsigned b0, unsigned b1, unsigned used,
                                                        const std::uint8_t* values, std::int16_t* out) {
    const __m128i first = _mm_load_si128(reinterpret_cast<const __m128i*>(&ByteShuffles[b0]));
    const __m128i second = _mm_load_si128(reinterpret_cast<const __m128i*>(&ByteShuffles[b1]));
    const __m128i lanes = _mm_add_epi8(_mm_unpacklo_epi64(first, second),
                                       _mm_load_si128(reinterpret_cast<const __m128i*>(SecondByteOffsets[used].data())));
    const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(values));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_sign_epi16(_mm_shuffle_epi8(eight, lanes), _mm_unpackhi_epi64(first, second)));
  }
  __attribute__((target("avx2"))) static void PutEight(unsigned b0, unsigned b1, unsigned used,
                                                        const std::uint8_t* values, double* out) {
    PutFour(b0, values, out);
    PutFour(b1, values + used, out + 4);
  }
  // 32 bytes a store, the first four whatever n: a loop whose length the
  // processor cannot predict costs more than the stores for most runs (they
  // are short). At most 63 coefficients (16-bit) or 15 (doubles) past n.
  template <class T>
  __attribute__((target("avx2"))) static void Fill(T* out, std::uint32_t n) {
    constexpr std::uint32_t step = 32 / sizeof(T);
    for (std::uint32_t i = 0; i < 4 * step; i += step)
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_setzero_si256());
    for (std::uint32_t i = 4 * step; i < n; i += step)
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_setzero_si256());
  }
};
#endif

// Walks the whole symbol bytes from c.symbol (a multiple of 4) up to byte
// endByte, adding up positions and values, eight bytes a step where it can.
// Stops (false) where a byte needs a value past the last one or the
// position passes `limit`, or when the cancel flag is set.
template <class Steps, class Values>
[[gnu::always_inline]] inline bool CountBytes(const HwlPlaneStreams& s, Values values, HwlStreamCursor& c,
                                              std::uint32_t endByte, std::uint64_t limit,
                                              const std::atomic<bool>* cancel) {
  const std::uint8_t* symbols = s.symbols.data();
  std::uint32_t q = c.symbol / 4;
  while (q < endByte) {
    if (HwlCancelRequested(cancel)) return false;
    const std::uint32_t stop = q + std::min(endByte - q, CancelCheckBytes);
    for (; stop - q >= 8; q += 8) {
      const std::uint64_t word = SymbolWord(symbols + q);
      const std::uint64_t valued = ValueSymbols(word);
      const std::uint32_t used = std::uint32_t(Steps::Popcount(valued));
      if (s.valueCount - c.value < used) return false;
      // A run's value comes after the values of the symbols below it.
      for (std::uint64_t runs = RunSymbols(word); runs != 0; runs &= runs - 1)
        c.position += values.At(c.value + Steps::Popcount(valued & ((runs & -runs) - 1)));
      c.position += 32;
      c.value += used;
      if (c.position > limit) return false;
    }
    for (; q < stop; ++q) {
      const SymbolByte& info = SymbolBytes[symbols[q]];
      if (s.valueCount - c.value < info.values) return false;
      for (unsigned runs = info.runs; runs != 0; runs &= runs - 1)
        c.position += values.At(c.value + std::countr_zero(runs));
      c.position += 4;
      c.value += info.values;
      if (c.position > limit) return false;
    }
    c.symbol = q * 4;
  }
  return true;
}

template <class Steps>
[[gnu::always_inline]] inline bool CountWith(const HwlPlaneStreams& s, int valueBits, HwlStreamCursor& c,
                                             std::uint32_t endByte, std::uint64_t limit,
                                             const std::atomic<bool>* cancel) {
  if (valueBits == 8) return CountBytes<Steps>(s, ByteReader{s.values.data()}, c, endByte, limit, cancel);
  return CountBytes<Steps>(s, ValuesOf(s, valueBits), c, endByte, limit, cancel);
}

#if HWL_STREAMS_SIMD
__attribute__((target("avx2,popcnt"), flatten)) bool CountVector(const HwlPlaneStreams& s, int valueBits,
                                                                 HwlStreamCursor& c, std::uint32_t endByte,
                                                                 std::uint64_t limit,
                                                                 const std::atomic<bool>* cancel) {
  return CountWith<VectorSteps>(s, valueBits, c, endByte, limit, cancel);
}
#endif

bool CountSymbols(const HwlPlaneStreams& s, int valueBits, HwlStreamCursor& c, std::uint32_t endByte,
                  std::uint64_t limit, const std::atomic<bool>* cancel) {
#if HWL_STREAMS_SIMD
  if (HasVectorSteps()) return CountVector(s, valueBits, c, endByte, limit, cancel);
#endif
  return CountWith<PlainSteps>(s, valueBits, c, endByte, limit, cancel);
}

// True when a plane's streams describe exactly coefficientCount positions
// and consume exactly every value (then nothing needs a closer look); false
// too when the cancel flag is set.
bool DescribesExactly(const HwlPlaneStreams& s, int valueBits, std::uint64_t coefficientCount,
                      const std::atomic<bool>* cancel) {
  HwlStreamCursor c;
  if (!CountSymbols(s, valueBits, c, s.symbolCount / 4, coefficientCount, cancel)) return false;
  const ValueReader values = ValuesOf(s, valueBits);
  for (std::uint32_t i = c.symbol; i < s.symbolCount; ++i) {
    const int code = s.symbols[i >> 2] >> ((i & 3) * 2) & 3;
    if (code != 0 && c.value == s.valueCount) return false;
    if (code == 1) c.position += values.At(c.value);
    if (code != 0) ++c.value;
    ++c.position;
  }
  return c.position == coefficientCount && c.value == s.valueCount;
}

}  // namespace

HwlStreamCursor AdvanceCursor(const HwlPlaneStreams& streams, int valueBits, HwlStreamCursor cursor,
                              std::uint32_t symbol, const std::atomic<bool>* cancel) {
  if (cursor.position != HwlNoPosition && !CountSymbols(streams, valueBits, cursor, symbol / 4, UINT64_MAX, cancel))
    cursor.position = HwlNoPosition;
  cursor.symbol = symbol;
  return cursor;
}

namespace {

// The most positions one symbol byte describes: four runs of 256.
constexpr std::uint32_t MaxBytePositions = 4 * 256;

// Where ExpandBytes may go: below symbol byte `byte`, value index at most
// `value` and position at most `position` before each byte. A byte writes a
// little past its own positions (up to 3 lanes after a run, and
// Steps::FillSlack), so it must be followed by enough whole bytes of the
// caller's symbols, with their values, to write those positions again (or,
// should a run among them overflow, the caller fills the rest of the plane
// with zeros); and its writes must stay within the plane.
struct ByteStops {
  bool any = false;  // false: the streams are too short
  std::uint32_t byte = 0;
  std::uint32_t value = 0;
  std::uint64_t position = 0;
};
template <class Steps>
ByteStops StopsFor(std::uint32_t endSymbol, std::uint32_t valueCount, std::uint64_t coefficientCount) {
  // Bytes after it, at least 4 positions each; values: its four, four read
  // past them after a run, four for each byte after it.
  constexpr std::uint32_t after = std::max<std::uint32_t>(1, (Steps::FillSlack + 3) / 4);
  constexpr std::uint32_t values = 8 + 4 * after;
  constexpr std::uint64_t positions = MaxBytePositions + std::max<std::uint32_t>(3, Steps::FillSlack);
  if (endSymbol / 4 <= after || valueCount < values || coefficientCount < positions) return {};
  return {true, endSymbol / 4 - after, valueCount - values, coefficientCount - positions};
}

// Per symbol byte: the values its symbols consume, plus RunStep when one
// of them is a ZeroRun.
constexpr unsigned RunStep = 0x80;
constexpr std::array<std::uint8_t, 256> ByteSteps = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = std::uint8_t(SymbolBytes[b].values | (SymbolBytes[b].runs ? RunStep : 0));
  return table;
}();

// Expands the symbol bytes of 8-bit values from c on (at a byte) while the
// stops allow.
template <class Steps, class T>
[[gnu::always_inline]] inline void ExpandBytes(const std::uint8_t* symbols, const std::uint8_t* values, T* out,
                                               HwlStreamCursor& c, const ByteStops& stops) {
  std::uint32_t q = c.symbol / 4;
  std::uint32_t value = c.value;
  std::uint64_t position = c.position;
  while (q < stops.byte && value <= stops.value && position <= stops.position) {
    // Bytes without a run take 4 positions and at most 4 values each.
    const auto plain = std::uint32_t(std::min<std::uint64_t>(
        {stops.byte - q, (stops.value - value) / 4 + 1, (stops.position - position) / 4 + 1}));
    // Walked by pointers: 32-bit indices would be widened at every access.
    const std::uint8_t* symbol = symbols + q;
    const std::uint8_t* const plainEnd = symbol + plain;
    const std::uint8_t* v = values + value;
    T* o = out + position;
    for (; plainEnd - symbol >= 2; symbol += 2, o += 8) {
      const unsigned b0 = symbol[0], b1 = symbol[1];
      const unsigned step0 = ByteSteps[b0], step1 = ByteSteps[b1];
      if ((step0 | step1) & RunStep) break;
      Steps::PutEight(b0, b1, step0, v, o);
      v += step0 + step1;
    }
    for (; symbol != plainEnd; ++symbol, o += 4) {
      const unsigned step = ByteSteps[*symbol];
      if (step & RunStep) break;
      Steps::PutFour(*symbol, v, o);
      v += step;
    }
    const auto i = std::uint32_t(symbol - (symbols + q));
    value = std::uint32_t(v - values);
    q += i;
    position += 4 * i;
    if (i == plain) continue;
    // A byte with a run. The symbols before the run are put in place, then
    // the run's zeros, then the symbols after it (shifted down, Zero above
    // them), and so on.
    unsigned b = symbols[q];
    const SymbolByte* t = &SymbolBytes[b];
    Steps::PutFour(b, values + value, out + position);
    int left = 4;
    while (t->runs != 0) {
      const int before = t->firstRun;
      position += before;
      value += t->firstRunValue;
      const std::uint32_t n = values[value] + 1u;
      ++value;
      Steps::Fill(out + position, n);
      position += n;
      left -= before + 1;
      b >>= 2 * (before + 1);
      t = &SymbolBytes[b];
      Steps::PutFour(b, values + value, out + position);
    }
    position += left;
    value += t->values;
    ++q;
  }
  c = {q * 4, value, position};
}

// ExpandSymbols into doubles or 16-bit integers.
template <class Steps, class T>
[[gnu::always_inline]] inline HwlExpansion ExpandWith(const HwlPlaneStreams& streams, int valueBits,
                                                      std::uint64_t coefficientCount, std::span<T> plane,
                                                      HwlStreamCursor from, std::uint32_t endSymbol,
                                                      const std::atomic<bool>* cancel) {
  const ValueReader values = ValuesOf(streams, valueBits);
  const bool write = !plane.empty();
  const std::uint8_t* symbols = streams.symbols.data();
  endSymbol = std::min(endSymbol, streams.symbolCount);
  const ByteStops stops =
      write && valueBits == 8 ? StopsFor<Steps>(endSymbol, streams.valueCount, coefficientCount) : ByteStops{};
  HwlStreamCursor c = from;
  HwlExpansion e;
  std::uint64_t nextCheck = c.position + CancelCheckCoefficients;
  while (c.position < coefficientCount && c.symbol < endSymbol) {
    if (c.position >= nextCheck) {
      if (HwlCancelRequested(cancel)) {
        e.cancelled = true;
        break;
      }
      nextCheck = c.position + CancelCheckCoefficients;
    }
    // At most CancelCheckBytes bytes a round.
    if (stops.any && (c.symbol & 3) == 0 && c.symbol / 4 < stops.byte && c.value <= stops.value &&
        c.position <= stops.position) {
      if (HwlCancelRequested(cancel)) {
        e.cancelled = true;
        break;
      }
      ByteStops round = stops;
      round.byte = std::min(stops.byte, c.symbol / 4 + CancelCheckBytes);
      ExpandBytes<Steps>(symbols, streams.values.data(), plane.data(), c, round);
      continue;
    }
    // Four symbols at once, without a branch per symbol, when they start a
    // byte, hold no run, have their values and fit in the plane.
    if (write && (c.symbol & 3) == 0 && endSymbol - c.symbol >= 4 && coefficientCount - c.position >= 4) {
      const SymbolByte& info = SymbolBytes[symbols[c.symbol >> 2]];
      if (info.runs == 0 && streams.valueCount - c.value >= info.values) {
        // Slot 4 is the zero of a Zero symbol. With four values left all four
        // are read, so the work does not depend on how many are used.
        int v[5] = {0, 0, 0, 0, 0};
        if (streams.valueCount - c.value >= 4) {
          for (int i = 0; i < 4; ++i) v[i] = int(values.At(c.value + i));
        } else {
          for (int i = 0; i < info.values; ++i) v[i] = int(values.At(c.value + i));
        }
        for (int i = 0; i < 4; ++i) {
          const int magnitude = v[info.slot[i]];
          // Integer negation keeps a value of 0 at +0.0.
          plane[c.position + i] = T((magnitude ^ info.negate[i]) - info.negate[i]);
        }
        c.position += 4;
        c.symbol += 4;
        c.value += info.values;
        continue;
      }
    }
    const auto code = static_cast<HwlSymbol>(symbols[c.symbol >> 2] >> ((c.symbol & 3) * 2) & 3);
    if (code == HwlSymbol::Zero) {
      if (write) plane[c.position] = 0;
      ++c.position;
      ++c.symbol;
      continue;
    }
    if (c.value == streams.valueCount) {
      e.valueMissing = true;
      break;
    }
    const int v = int(values.At(c.value));
    ++c.value;
    ++c.symbol;
    if (code == HwlSymbol::ZeroRun) {
      if (std::uint64_t(v) + 1 > coefficientCount - c.position) {
        if (write) std::fill(plane.begin() + c.position, plane.end(), T(0));
        c.position = coefficientCount;
        e.runOverflow = true;
        break;
      }
      if (write) std::fill_n(plane.begin() + c.position, v + 1, T(0));
      c.position += std::uint64_t(v) + 1;
    } else {
      // +0.0 for a value of 0, whatever the sign symbol: the integer has no sign.
      if (write) plane[c.position] = T(code == HwlSymbol::Positive ? v : -v);
      ++c.position;
    }
  }
  e.coefficients = c.position;
  e.symbolsUsed = c.symbol;
  e.valuesUsed = c.value;
  return e;
}

#if HWL_STREAMS_SIMD
template <class T>
__attribute__((target("avx2,popcnt"), flatten)) HwlExpansion ExpandVector(
    const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount, std::span<T> plane,
    HwlStreamCursor from, std::uint32_t endSymbol, const std::atomic<bool>* cancel) {
  return ExpandWith<VectorSteps>(streams, valueBits, coefficientCount, plane, from, endSymbol, cancel);
}
#endif

template <class T>
HwlExpansion Expand(const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount,
                    std::span<T> plane, HwlStreamCursor from, std::uint32_t endSymbol,
                    const std::atomic<bool>* cancel) {
#if HWL_STREAMS_SIMD
  if (HasVectorSteps())
    return ExpandVector(streams, valueBits, coefficientCount, plane, from, endSymbol, cancel);
#endif
  return ExpandWith<PlainSteps>(streams, valueBits, coefficientCount, plane, from, endSymbol, cancel);
}

template <class T>
HwlExpansion ExpandWhole(const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount,
                         std::span<T> plane, const std::atomic<bool>* cancel) {
  if (plane.empty() && DescribesExactly(streams, valueBits, coefficientCount, cancel))
    return {coefficientCount, streams.symbolCount, streams.valueCount, false, false};
  if (HwlCancelRequested(cancel)) return {.cancelled = true};
  return Expand(streams, valueBits, coefficientCount, plane, {}, streams.symbolCount, cancel);
}

}  // namespace

HwlExpansion ExpandSymbols(const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount,
                           std::span<double> plane, const std::atomic<bool>* cancel) {
  return ExpandWhole(streams, valueBits, coefficientCount, plane, cancel);
}

HwlExpansion ExpandCoefficients(const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount,
                               std::span<std::int16_t> plane, const std::atomic<bool>* cancel) {
  return ExpandWhole(streams, valueBits, coefficientCount, plane, cancel);
}

HwlExpansion ExpandSymbols(const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount,
                           std::span<double> plane, HwlStreamCursor from, std::uint32_t endSymbol,
                           const std::atomic<bool>* cancel) {
  return Expand(streams, valueBits, coefficientCount, plane, from, endSymbol, cancel);
}

HwlExpansion ExpandCoefficients(const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount,
                               std::span<std::int16_t> plane, HwlStreamCursor from, std::uint32_t endSymbol,
                               const std::atomic<bool>* cancel) {
  return Expand(streams, valueBits, coefficientCount, plane, from, endSymbol, cancel);
}
