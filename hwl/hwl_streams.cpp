// The file body: band-scale tables, symbol and value streams.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
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

HwlStatus DecodeCoefficientPlanes(std::span<const std::uint8_t> file, const HwlHeader& header,
                                  const std::string& name, HwlBody& body, const std::atomic<bool>* cancel) {
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

  const std::uint64_t count = std::uint64_t{header.width} * header.height;
  for (int p = 0; p < planes; ++p) {
    const HwlPlaneStreams& s = body.streams[p];
    const HwlExpansion e = ExpandSymbols(s, header.valueBits, count, {}, cancel);
    if (e.cancelled) return HwlError(HwlCancelled, name, "decoding cancelled");
    if (e.Exact(count, s)) continue;
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
  return {};
}

namespace {

// Per symbol byte (four symbols): how many values they consume, which of
// those values (bit i for the i-th) are run lengths, and for each symbol the
// slot of its value (4: none, read as 0) and whether it is negated.
struct SymbolByte {
  std::uint8_t values;
  std::uint8_t runs;
  std::array<std::uint8_t, 4> slot;
  std::array<std::int8_t, 4> negate;  // 0 or -1
};
constexpr std::array<SymbolByte, 256> SymbolBytes = [] {
  std::array<SymbolByte, 256> table{};
  for (int b = 0; b < 256; ++b) {
    SymbolByte& t = table[b];
    for (int i = 0; i < 4; ++i) {
      const int code = b >> (2 * i) & 3;
      t.slot[i] = code == 0 ? 4 : t.values;
      t.negate[i] = code == 3 ? -1 : 0;
      if (code == 1) t.runs = std::uint8_t(t.runs | 1 << t.values);
      if (code != 0) ++t.values;
    }
  }
  return table;
}();

#if defined(__x86_64__) && defined(__GNUC__)
#define HWL_EXPAND_SIMD 1
// For 8-bit values: per symbol byte, the byte shuffle that puts the value of
// each symbol in its 16-bit lane (0x80: a zero byte), and the lanes to negate.
struct ByteShuffle {
  alignas(16) std::array<std::uint8_t, 16> lanes;
  alignas(16) std::array<std::int16_t, 8> negate;
};
constexpr std::array<ByteShuffle, 256> ByteShuffles = [] {
  std::array<ByteShuffle, 256> table{};
  for (int b = 0; b < 256; ++b) {
    ByteShuffle& t = table[b];
    t.lanes.fill(0x80);
    for (int i = 0; i < 4; ++i) {
      const int slot = SymbolBytes[b].slot[i];
      if (slot < 4) t.lanes[2 * i] = std::uint8_t(slot);
      t.negate[i] = std::int16_t(SymbolBytes[b].negate[i]);
    }
  }
  return table;
}();

bool HasShuffle() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has && HwlUseCpuExtensions;
}

// Four coefficients of symbol byte b from the four values at `values`.
// Integer negation keeps a value of 0 at +0.0.
__attribute__((target("avx2"))) inline void PutFour(std::uint8_t b, const std::uint8_t* values, std::int16_t* out) {
  std::int32_t four;
  std::memcpy(&four, values, 4);
  const ByteShuffle& t = ByteShuffles[b];
  const __m128i lanes =
      _mm_shuffle_epi8(_mm_cvtsi32_si128(four), _mm_load_si128(reinterpret_cast<const __m128i*>(t.lanes.data())));
  const __m128i negate = _mm_load_si128(reinterpret_cast<const __m128i*>(t.negate.data()));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_sub_epi16(_mm_xor_si128(lanes, negate), negate));
}
__attribute__((target("avx2"))) inline void PutFour(std::uint8_t b, const std::uint8_t* values, double* out) {
  std::int16_t four[4];
  PutFour(b, values, four);
  const __m128i narrow = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(four));
  _mm256_storeu_pd(out, _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(narrow)));
}

// Expands whole symbol bytes of 8-bit values from symbol byte `q` on while
// they hold no run, four values are left to read and four positions to
// write, and at most CancelCheckBytes of them; returns the number of bytes done.
template <class T>
__attribute__((target("avx2"))) std::uint32_t ExpandBytes8(const std::uint8_t* symbols, std::uint32_t q,
                                                           std::uint32_t qEnd, const std::uint8_t* values,
                                                           std::uint32_t& value, std::uint32_t valueCount, T* out,
                                                           std::uint64_t room) {
  const std::uint32_t q0 = q;
  qEnd = std::min(qEnd, q + CancelCheckBytes);
  for (; q < qEnd && room >= 4 && valueCount - value >= 4; ++q, room -= 4, out += 4) {
    const std::uint8_t b = symbols[q];
    if (SymbolBytes[b].runs != 0) break;
    PutFour(b, values + value, out);
    value += SymbolBytes[b].values;
  }
  return q - q0;
}
#endif

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

ValueReader ValuesOf(const HwlPlaneStreams& s, int valueBits) {
  return {s.values.data(), s.values.size(), unsigned(valueBits), (1u << valueBits) - 1};
}

// Counts the positions a plane's streams describe with one table lookup per
// four symbols. True when they describe exactly coefficientCount positions
// and consume exactly every value (then nothing needs a closer look); false
// too when the cancel flag is set.
bool DescribesExactly(const HwlPlaneStreams& s, const ValueReader& values, std::uint64_t coefficientCount,
                      const std::atomic<bool>* cancel) {
  std::uint64_t position = 0;
  std::uint64_t value = 0;
  const std::uint32_t wholeBytes = s.symbolCount / 4;
  for (std::uint32_t q = 0; q < wholeBytes; ++q) {
    if (q % CancelCheckBytes == 0 && HwlCancelRequested(cancel)) return false;
    const SymbolByte& info = SymbolBytes[s.symbols[q]];
    if (value + info.values > s.valueCount) return false;
    for (unsigned runs = info.runs; runs != 0; runs &= runs - 1)
      position += values.At(value + std::countr_zero(runs));
    position += 4;
    value += info.values;
    if (position > coefficientCount) return false;
  }
  for (std::uint32_t i = wholeBytes * 4; i < s.symbolCount; ++i) {
    const int code = s.symbols[i >> 2] >> ((i & 3) * 2) & 3;
    if (code != 0 && value == s.valueCount) return false;
    if (code == 1) position += values.At(value);
    if (code != 0) ++value;
    ++position;
  }
  return position == coefficientCount && value == s.valueCount;
}

}  // namespace

HwlStreamCursor AdvanceCursor(const HwlPlaneStreams& streams, int valueBits, HwlStreamCursor cursor,
                              std::uint32_t symbol, const std::atomic<bool>* cancel) {
  const ValueReader values = ValuesOf(streams, valueBits);
  for (std::uint32_t q = cursor.symbol / 4; q < symbol / 4; ++q) {
    if (q % CancelCheckBytes == 0 && HwlCancelRequested(cancel)) return cursor;
    const SymbolByte& info = SymbolBytes[streams.symbols[q]];
    for (unsigned runs = info.runs; runs != 0; runs &= runs - 1)
      cursor.position += values.At(cursor.value + std::countr_zero(runs));
    cursor.position += 4;
    cursor.value += info.values;
  }
  cursor.symbol = symbol;
  return cursor;
}

namespace {

// ExpandSymbols into doubles or 16-bit integers.
template <class T>
HwlExpansion Expand(const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount,
                    std::span<T> plane, HwlStreamCursor from, std::uint32_t endSymbol,
                    const std::atomic<bool>* cancel) {
  const ValueReader values = ValuesOf(streams, valueBits);
  const bool write = !plane.empty();
  const std::uint8_t* symbols = streams.symbols.data();
  std::uint64_t position = from.position;
  std::uint32_t symbol = from.symbol;
  std::uint32_t value = from.value;
  endSymbol = std::min(endSymbol, streams.symbolCount);
  HwlExpansion e;
  std::uint64_t nextCheck = position + CancelCheckCoefficients;
  while (position < coefficientCount && symbol < endSymbol) {
    // A round below describes at most 4 x CancelCheckBytes positions.
    if (position >= nextCheck) {
      if (HwlCancelRequested(cancel)) {
        e.cancelled = true;
        break;
      }
      nextCheck = position + CancelCheckCoefficients;
    }
#if HWL_EXPAND_SIMD
    if (write && valueBits == 8 && (symbol & 3) == 0 && HasShuffle()) {
      const std::uint32_t first = symbol >> 2;
      const std::uint32_t done = ExpandBytes8(symbols, first, endSymbol >> 2, streams.values.data(), value,
                                              streams.valueCount, plane.data() + position,
                                              coefficientCount - position);
      position += 4 * std::uint64_t(done);
      symbol += 4 * done;
      if (done > 0) continue;
    }
#endif
    // Four symbols at once, without a branch per symbol, when they start a
    // byte, hold no run, have their values and fit in the plane.
    if (write && (symbol & 3) == 0 && endSymbol - symbol >= 4 && coefficientCount - position >= 4) {
      const SymbolByte& info = SymbolBytes[symbols[symbol >> 2]];
      if (info.runs == 0 && streams.valueCount - value >= info.values) {
        // Slot 4 is the zero of a Zero symbol. With four values left all four
        // are read, so the work does not depend on how many are used.
        int v[5] = {0, 0, 0, 0, 0};
        if (streams.valueCount - value >= 4) {
          if (values.bits == 8)
            for (int i = 0; i < 4; ++i) v[i] = values.bytes[value + i];
          else
            for (int i = 0; i < 4; ++i) v[i] = int(values.At(value + i));
        } else {
          for (int i = 0; i < info.values; ++i) v[i] = int(values.At(value + i));
        }
        for (int i = 0; i < 4; ++i) {
          const int magnitude = v[info.slot[i]];
          // Integer negation keeps a value of 0 at +0.0.
          plane[position + i] = T((magnitude ^ info.negate[i]) - info.negate[i]);
        }
        position += 4;
        symbol += 4;
        value += info.values;
        continue;
      }
    }
    const auto code = static_cast<HwlSymbol>(symbols[symbol >> 2] >> ((symbol & 3) * 2) & 3);
    if (code == HwlSymbol::Zero) {
      if (write) plane[position] = 0;
      ++position;
      ++symbol;
      continue;
    }
    if (value == streams.valueCount) {
      e.valueMissing = true;
      break;
    }
    const int v = int(values.At(value));
    ++value;
    ++symbol;
    if (code == HwlSymbol::ZeroRun) {
      if (std::uint64_t(v) + 1 > coefficientCount - position) {
        if (write) std::fill(plane.begin() + position, plane.end(), T(0));
        position = coefficientCount;
        e.runOverflow = true;
        break;
      }
      if (write) std::fill_n(plane.begin() + position, v + 1, T(0));
      position += std::uint64_t(v) + 1;
    } else {
      // +0.0 for a value of 0, whatever the sign symbol: the integer has no sign.
      if (write) plane[position] = T(code == HwlSymbol::Positive ? v : -v);
      ++position;
    }
  }
  e.coefficients = position;
  e.symbolsUsed = symbol;
  e.valuesUsed = value;
  return e;
}

template <class T>
HwlExpansion ExpandWhole(const HwlPlaneStreams& streams, int valueBits, std::uint64_t coefficientCount,
                         std::span<T> plane, const std::atomic<bool>* cancel) {
  const ValueReader values = ValuesOf(streams, valueBits);
  if (plane.empty() && DescribesExactly(streams, values, coefficientCount, cancel))
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
