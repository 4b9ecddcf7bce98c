// The symbol streams' check, cursors and expansion against a plain walk of
// one symbol at a time, on random streams: well formed or broken in every
// way the check reports, with runs and values falling anywhere across the
// decoder's steps of several symbol bytes, on every path.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "hwl_decode.h"
#include "hwl_test_paths.h"
#include "hwl_test_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Streams kept in buffers of exactly their size, so that a read past either
// is caught by the sanitizer build, with junk in the unused bits of their
// last bytes.
struct Streams {
  std::vector<std::uint8_t> codes;  // one symbol each
  std::vector<std::uint8_t> values;
  int bits = 8;
  std::uint64_t count = 0;  // coefficients of the plane
  Bytes symbolBytes, valueBytes;
  HwlPlaneStreams Plane() const {
    return {symbolBytes, std::uint32_t(codes.size()), valueBytes, std::uint32_t(values.size())};
  }
};

// What the plain walk finds, and the cursor at every fourth symbol.
struct Walk {
  HwlExpansion e;
  std::vector<HwlStreamCursor> cursors;
};

constexpr int Untouched = -12345;

Walk PlainWalk(const Streams& s, std::vector<int>& plane) {
  Walk w;
  std::uint32_t symbol = 0, value = 0;
  std::uint64_t position = 0;
  while (true) {
    if (symbol % 4 == 0) w.cursors.push_back({symbol, value, position});
    if (position == s.count || symbol == s.codes.size()) break;
    const int code = s.codes[symbol++];
    if (code == 0) {
      plane[position++] = 0;
      continue;
    }
    if (value == s.values.size()) {
      w.e.valueMissing = true;
      --symbol;
      break;
    }
    const int v = s.values[value++];
    if (code == 1) {
      for (int i = 0; i <= v; ++i) {
        if (position == s.count) {
          w.e.runOverflow = true;
          break;
        }
        plane[position++] = 0;
      }
      if (w.e.runOverflow) break;
    } else {
      plane[position++] = code == 2 ? v : -v;
    }
  }
  w.e.coefficients = position;
  w.e.symbolsUsed = symbol;
  w.e.valuesUsed = value;
  return w;
}

// Symbol mixes: Zero, ZeroRun, Positive, Negative weights.
constexpr int Mixes[][4] = {{1, 1, 1, 1}, {2, 1, 6, 6}, {1, 0, 4, 4}, {4, 2, 1, 1},
                            {0, 1, 0, 0}, {1, 3, 0, 0}, {20, 1, 20, 20}, {0, 0, 1, 1}};

Streams RandomStreams(std::mt19937& rng) {
  Streams s;
  s.bits = rng() % 3 == 0 ? 1 + int(rng() % 8) : 8;
  const unsigned range = 1u << s.bits;
  const int* mix = Mixes[rng() % std::size(Mixes)];
  std::discrete_distribution<int> code({double(mix[0]), double(mix[1]), double(mix[2]), double(mix[3])});
  // Short streams (below every step), typical ones, and now and then one
  // longer than the cancel flag's rounds.
  const int kind = int(rng() % 10);
  const std::uint32_t n = kind == 0 ? rng() % 64 : kind == 1 ? 66000 + rng() % 2000 : 200 + rng() % 6000;
  const bool shortRuns = rng() % 2 == 0;
  std::uint64_t positions = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const int c = code(rng);
    s.codes.push_back(std::uint8_t(c));
    if (c == 0) {
      ++positions;
      continue;
    }
    unsigned v = rng() % range;
    if (c == 1 && shortRuns) v = std::min(v, unsigned(rng() % 8));
    s.values.push_back(std::uint8_t(v));
    positions += c == 1 ? v + 1 : 1;
  }
  // Mostly exact; else values missing or left over, coefficients beyond or
  // short of what the symbols describe.
  switch (rng() % 8) {
    case 0: s.values.resize(s.values.size() - std::min<std::size_t>(s.values.size(), 1 + rng() % 40)); break;
    case 1:
      for (int i = 1 + int(rng() % 5); i > 0; --i) s.values.push_back(std::uint8_t(rng() % range));
      break;
    case 2: positions += 1 + rng() % 300; break;
    case 3: positions -= std::min<std::uint64_t>(positions, 1 + rng() % 300); break;
    default: break;
  }
  s.count = positions;
  s.symbolBytes = testhwl::PackSymbols(s.codes);
  if (n % 4 != 0) s.symbolBytes.back() |= std::uint8_t(0xFF << (2 * (n % 4)) & rng());
  s.valueBytes = testhwl::PackValues(s.values, s.bits);
  if (s.values.size() * s.bits % 8 != 0)
    s.valueBytes.back() |= std::uint8_t(0xFF << (s.values.size() * s.bits % 8) & rng());
  return s;
}

void ExpectSame(const HwlExpansion& got, const HwlExpansion& want, const std::string& what) {
  EXPECT_EQ(got.coefficients, want.coefficients) << what;
  EXPECT_EQ(got.symbolsUsed, want.symbolsUsed) << what;
  EXPECT_EQ(got.valuesUsed, want.valuesUsed) << what;
  EXPECT_EQ(got.valueMissing, want.valueMissing) << what;
  EXPECT_EQ(got.runOverflow, want.runOverflow) << what;
  EXPECT_FALSE(got.cancelled) << what;
}

template <class T>
bool SamePlane(const std::vector<T>& got, const std::vector<int>& want) {
  return std::equal(got.begin(), got.end(), want.begin(), [](T a, int b) { return a == T(b); });
}

// The streams' code has a vector path and a plain one; the x87 plays no part.
constexpr HwlPath StreamPaths[] = {{"vector steps", true, true}, {"plain steps", true, false}};

TEST(HwlStreams, CheckCursorsAndExpansionAgreeWithAPlainWalk) {
  std::mt19937 rng(2024);
  int exact = 0, broken = 0;
  for (int round = 0; round < 120; ++round) {
    const Streams s = RandomStreams(rng);
    const HwlPlaneStreams plane = s.Plane();
    std::vector<int> want(s.count, Untouched);
    const Walk walk = PlainWalk(s, want);
    const bool isExact = walk.e.Exact(s.count, plane);
    ++(isExact ? exact : broken);
    for (const HwlPath& path : StreamPaths) {
      const UsePath use(path);
      const std::string what = "round " + std::to_string(round) + ", " + path.name + ", " +
                               std::to_string(s.codes.size()) + " symbols of " + std::to_string(s.bits) + " bits";
      // The check, before anything is allocated.
      ExpectSame(ExpandSymbols(plane, s.bits, s.count, {}), walk.e, what + ", check");
      std::vector<std::int16_t> coefficients(s.count, Untouched);
      ExpectSame(ExpandCoefficients(plane, s.bits, s.count, coefficients), walk.e, what);
      EXPECT_TRUE(SamePlane(coefficients, want)) << what;
      std::vector<double> doubles(s.count, Untouched);
      ExpectSame(ExpandSymbols(plane, s.bits, s.count, doubles), walk.e, what + ", doubles");
      EXPECT_TRUE(SamePlane(doubles, want)) << what << ", doubles";
      // As the loader's threads: parts from cursors advanced one from the other.
      const std::uint32_t bytes = plane.symbolCount / 4;
      const int parts = 1 + int(rng() % 5);
      std::vector<HwlStreamCursor> cursors(1);
      for (int part = 1; part < parts; ++part)
        cursors.push_back(AdvanceCursor(plane, s.bits, cursors.back(), std::uint32_t(std::uint64_t(bytes) * part / parts * 4)));
      if (!isExact) {
        // Whatever the streams, no two parts write the same coefficient
        // (the threads would race), and the plane's bounds hold.
        std::vector<int> writer(s.count, -1);
        for (int part = 0; part < parts; ++part) {
          const std::uint32_t end = part + 1 < parts ? cursors[part + 1].symbol : plane.symbolCount;
          std::vector<std::int16_t> alone(s.count, Untouched);
          ExpandCoefficients(plane, s.bits, s.count, alone, cursors[part], end);
          for (std::size_t i = 0; i < alone.size(); ++i) {
            if (alone[i] == Untouched) continue;
            EXPECT_EQ(writer[i], -1) << what << ": parts " << writer[i] << " and " << part << " write coefficient "
                                     << i << " of " << s.count;
            writer[i] = part;
          }
        }
        continue;
      }
      for (int part = 1; part < parts; ++part) {
        const std::uint32_t at = cursors[part].symbol;
        const HwlStreamCursor& c = cursors[part];
        const HwlStreamCursor& w = walk.cursors[at / 4];
        ASSERT_EQ(c.symbol, w.symbol) << what;
        ASSERT_EQ(c.value, w.value) << what << ", cursor at symbol " << at;
        ASSERT_EQ(c.position, w.position) << what << ", cursor at symbol " << at;
      }
      // Last part first: a part must write nothing outside its own positions.
      std::vector<std::int16_t> pieces(s.count, Untouched);
      for (int part = parts - 1; part >= 0; --part) {
        const std::uint32_t end = part + 1 < parts ? cursors[part + 1].symbol : plane.symbolCount;
        const HwlExpansion e = ExpandCoefficients(plane, s.bits, s.count, pieces, cursors[part], end);
        EXPECT_EQ(e.symbolsUsed, end) << what;
        EXPECT_EQ(e.coefficients, part + 1 < parts ? cursors[part + 1].position : s.count) << what;
      }
      EXPECT_TRUE(SamePlane(pieces, want)) << what << ", in " << parts << " parts";
    }
  }
  // Both kinds were drawn often.
  EXPECT_GT(exact, 40);
  EXPECT_GT(broken, 25);
}

}  // namespace
