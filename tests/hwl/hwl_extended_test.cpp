// The software extended type and the double-double lanes against the x87,
// operation by operation, on operands weighted toward what is hard to get
// right: results on and next to rounding ties, the ends of the double range
// (subnormal and overflowing results), cancellation, zeros of both signs,
// infinities. Where the build has no x87 (QUENRIK_HWL_SOFT_EXTENDED, ARM64)
// the same operands give the same results through a digest recorded from
// the x87. HWL_CORPUS_COUNT sets the number of cases per operation (default
// DefaultCount; the digests hold for that count only), HWL_CORPUS_ONLY a
// part of the names of the operations to run.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <vector>

#include "hwl_arithmetic.h"
#include "hwl_lanes.h"
#include "hwl_oracle.h"
#include "hwl_precision.h"

namespace {

constexpr std::uint64_t DefaultCount = 1 << 18;

// splitmix64: the same numbers everywhere (each draw in its own statement:
// the order of a call's arguments is up to the compiler).
struct Random {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  int Below(int n) { return int(Next() % std::uint64_t(n)); }
  int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
};

std::uint64_t LowBits(int n) { return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1; }

// A significand with its top bit set: random, short (few significant bits,
// so that products and sums land on ties), next to the rounding ties of a
// double, a double, or an extreme pattern.
std::uint64_t RandomSignificand(Random& r) {
  const std::uint64_t top = std::uint64_t{1} << 63;
  switch (r.Below(8)) {
    case 0:
    case 1:
    case 2:
      return r.Next() | top;
    case 3: {
      const int bits = r.Between(1, 40);
      return (r.Next() | top) & ~LowBits(64 - bits);
    }
    case 4: {
      const std::uint64_t tails[] = {0x400, 0x3FF, 0x401, 0, 0x7FF};
      const std::uint64_t high = (r.Next() | top) & ~LowBits(11);
      return high | tails[r.Below(5)];
    }
    case 5: {
      const std::uint64_t edges[] = {top, top | 1, ~std::uint64_t{0}, ~std::uint64_t{0} - 1, top | LowBits(11)};
      return edges[r.Below(5)];
    }
    default:
      return (r.Next() | top) & ~LowBits(11);
  }
}

HwlExtended RandomExtended(Random& r) {
  const bool negative = r.Below(2) == 0;
  const int kind = r.Below(100);
  if (kind < 2) return negative ? -HwlExtended(0.0) : HwlExtended(0.0);
  if (kind < 3) return HwlExtended(negative ? -INFINITY : INFINITY);
  int exponent = r.Between(-1100, 1100);
  if (kind < 25) exponent = r.Below(2) ? r.Between(-1090, -1015) : r.Between(1015, 1030);  // double's ends
  else if (kind < 40) exponent = r.Between(-20, 20);
  return hwl_extended::Finite(negative, exponent, RandomSignificand(r));
}

// A second operand for a sum with x: unrelated, or aligned so that the bits
// shifted out of the 64-bit window form a tie or just miss one, or nearly -x.
HwlExtended RandomPartner(Random& r, const HwlExtended& x) {
  if (x.kind != HwlExtended::Kind::Finite || r.Below(4) == 0) return RandomExtended(r);
  HwlExtended y = x;
  y.negative = r.Below(2) == 0;
  if (r.Below(6) == 0) {  // cancellation
    const std::uint64_t mask = LowBits(r.Between(0, 12));
    y.significand ^= mask & r.Next();
    y.significand |= std::uint64_t{1} << 63;
    return y;
  }
  const int distance = r.Between(0, 70);
  y.exponent = x.exponent - distance;
  std::uint64_t significand = r.Next() | std::uint64_t{1} << 63;
  if (distance > 0 && distance < 64) {
    const std::uint64_t half = std::uint64_t{1} << (distance - 1);
    const std::uint64_t tails[] = {half, half - 1, half + 1, 0};
    significand = (significand & ~LowBits(distance)) | (tails[r.Below(4)] & LowBits(distance));
    significand |= std::uint64_t{1} << 63;
  }
  y.significand = significand;
  return y;
}

// Significands whose product has 64 to 66 significant bits: exact ties and
// their neighbours.
HwlExtended ShortFactor(Random& r, int bits) {
  const std::uint64_t odd = (r.Next() & LowBits(bits)) | std::uint64_t{1} << (bits - 1) | 1;
  const bool negative = r.Below(2) == 0;
  return hwl_extended::Finite(negative, r.Between(-600, 600), odd << (64 - bits));
}

double RandomDouble(Random& r) {
  const std::uint64_t sign = std::uint64_t(r.Below(2)) << 63;
  const int kind = r.Below(100);
  std::uint64_t fraction = r.Next() & LowBits(52);
  if (r.Below(4) == 0) fraction &= ~LowBits(r.Between(1, 52));  // short significands
  std::uint64_t biased;
  if (kind < 3) return std::bit_cast<double>(sign);
  if (kind < 5) return std::bit_cast<double>(sign | std::uint64_t{0x7FF} << 52);
  if (kind < 15) biased = 0;                      // subnormal
  else if (kind < 25) biased = r.Between(2035, 2046);  // near the largest double
  else if (kind < 60) biased = r.Between(1023 - 40, 1023 + 40);
  else biased = r.Between(1, 2046);
  return std::bit_cast<double>(sign | biased << 52 | fraction);
}

// A value related to s: a few ulps away, s scaled by a power of two, nearly
// -s, or unrelated.
double RandomNeighbour(Random& r, double s) {
  switch (r.Below(5)) {
    case 0:
      return std::nextafter(s, r.Below(2) ? INFINITY : -INFINITY);
    case 1: {
      const double scaled = std::ldexp(s, -r.Between(0, 60));
      return r.Below(2) ? scaled : -scaled;
    }
    case 2:
      return -std::nextafter(s, r.Below(2) ? INFINITY : -INFINITY);
    case 3: {
      const std::uint64_t mask = LowBits(r.Between(1, 20));
      return std::bit_cast<double>(std::bit_cast<std::uint64_t>(s) ^ (r.Next() & mask));
    }
    default:
      return RandomDouble(r);
  }
}

// What a result is, with every NaN alike (the software type keeps no payload).
struct Key {
  std::uint64_t bits[2] = {};
};
Key KeyOf(const HwlExtended& x) {
  if (x.kind == HwlExtended::Kind::NaN) return {{3, 0}};
  if (x.kind != HwlExtended::Kind::Finite) return {{std::uint64_t(x.kind) | std::uint64_t(x.negative) << 8, 0}};
  return {{std::uint64_t(1) | std::uint64_t(x.negative) << 8 | std::uint64_t(std::uint32_t(x.exponent)) << 32,
           x.significand}};
}
Key KeyOf(double x) {
  return {{std::isnan(x) ? 0x7FF8000000000000u : std::bit_cast<std::uint64_t>(x), 0}};
}
bool operator==(const Key& a, const Key& b) { return a.bits[0] == b.bits[0] && a.bits[1] == b.bits[1]; }

struct Digest {
  std::uint64_t value = 0xCBF29CE484222325u;  // FNV-1a
  void Add(std::uint64_t word) {
    for (int i = 0; i < 8; ++i) value = (value ^ (word >> (8 * i) & 0xFF)) * 0x100000001B3u;
  }
  void Add(const Key& k) {
    Add(k.bits[0]);
    Add(k.bits[1]);
  }
};

#if HWL_X87
// The x87's 80-bit format: the significand with its integer bit, then sign
// and a 15-bit exponent biased by 16383.
long double ToX87(const HwlExtended& x) {
  std::uint64_t significand = 0;
  std::uint16_t top = x.negative ? 0x8000 : 0;
  switch (x.kind) {
    case HwlExtended::Kind::Zero:
      break;
    case HwlExtended::Kind::Infinite:
      significand = std::uint64_t{1} << 63;
      top |= 0x7FFF;
      break;
    case HwlExtended::Kind::NaN:
      significand = std::uint64_t{3} << 62;
      top |= 0x7FFF;
      break;
    case HwlExtended::Kind::Finite:
      significand = x.significand;
      top |= std::uint16_t(x.exponent + 16383);
      break;
  }
  unsigned char bytes[sizeof(long double)] = {};
  std::memcpy(bytes, &significand, 8);
  std::memcpy(bytes + 8, &top, 2);
  long double value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

Key KeyOfX87(long double v) {
  unsigned char bytes[sizeof(long double)];
  std::memcpy(bytes, &v, sizeof v);
  std::uint64_t significand;
  std::uint16_t top;
  std::memcpy(&significand, bytes, 8);
  std::memcpy(&top, bytes + 8, 2);
  const bool negative = top >> 15 != 0;
  const int field = top & 0x7FFF;
  if (field == 0x7FFF) return KeyOf(HwlExtended(significand << 1 == 0 ? (negative ? -INFINITY : INFINITY) : NAN));
  if (significand == 0) return KeyOf(negative ? -HwlExtended(0.0) : HwlExtended(0.0));
  return KeyOf(hwl_extended::Finite(negative, field - 16383, significand));
}
#endif

// One operation of the corpus: a random case, its software result added to
// the digest; false where the x87 disagrees (the case is reported).
struct Operation {
  const char* name;
  std::uint64_t digest;  // at DefaultCount, recorded from the x87
  bool (*run)(Random& r, Digest& digest);
};

// Compares two results; on a difference, reports the operands.
template <class... Operands>
bool Agree(const char* what, const Key& soft, const Key& x87, Operands... operands) {
  if (soft == x87) return true;
  std::ostringstream text;
  text << std::hexfloat;
  ((text << " " << double(operands)), ...);
  ADD_FAILURE() << what << " differs for" << text.str();
  return false;
}

template <class Op>
bool Binary(const char* what, Random& r, Digest& digest, HwlExtended x, HwlExtended y, Op op) {
  const HwlExtended soft = op(x, y);
  digest.Add(KeyOf(soft));
#if HWL_X87
  if (!(KeyOf(soft) == KeyOfX87(op(ToX87(x), ToX87(y))))) {
    ADD_FAILURE() << what << " differs: " << std::hexfloat << ToX87(x) << ", " << ToX87(y);
    return false;
  }
#endif
  (void)what, (void)r;
  return true;
}

// The formulas of the pair rule: the software type, the double-double lanes
// (with and without FMA) where they accept, and the x87.
template <class Formula>
bool FormulaCase(const char* what, Digest& digest, double s, double n, Formula formula) {
  const double soft = formula(HwlSoftArithmetic{}, s, n);
  digest.Add(KeyOf(soft));
#if HWL_X87
  return Agree(what, KeyOf(soft), KeyOf(formula(HwlX87Arithmetic{}, s, n)), s, n);
#else
  (void)what;
  return true;
#endif
}

// Random inputs of one pair of the rule, decided as plain, flat or smoothed,
// on the pair check.
template <bool Fused>
bool PairCheckCase(Random& r, Digest& digest) {
  const double s = RandomDouble(r);
  const double d = r.Below(3) == 0 ? 0.0 : RandomNeighbour(r, s);
  const double left = RandomNeighbour(r, s), right = RandomNeighbour(r, s);
  const int kind = r.Below(3);
  const bool plain = kind == 0, smoothEven = kind == 2 && r.Below(4) != 0, smoothOdd = kind == 2 && r.Below(4) != 0;
  double even = 0, odd = 0;
  const bool refused = HwlPairLanes<HwlScalarLane<Fused>>(s, d, left, right, plain, smoothEven, smoothOdd, even, odd);
  digest.Add(refused ? 1 : 0);
  if (refused) return true;
  using A = HwlSoftArithmetic;
  const double expectedEven = plain ? A::SumTimesK(s, d) : smoothEven ? A::SmoothTimesK(s, left) : A::TimesK(s);
  const double expectedOdd = plain ? A::DifferenceTimesK(s, d) : smoothOdd ? A::SmoothTimesK(s, right) : A::TimesK(s);
  digest.Add(KeyOf(even));
  digest.Add(KeyOf(odd));
  return Agree("lane result", KeyOf(even), KeyOf(expectedEven), s, d, left, right, kind) &&
         Agree("lane result", KeyOf(odd), KeyOf(expectedOdd), s, d, left, right, kind);
}

// The row check's lanes hand refused pairs to this, which counts them.
int RefusedPairs = 0;
void SoftPair(double s, double d, double left, double right, bool plain, bool smoothEven, bool smoothOdd,
              double& even, double& odd) {
  ++RefusedPairs;
  using A = HwlSoftArithmetic;
  even = plain ? A::SumTimesK(s, d) : smoothEven ? A::SmoothTimesK(s, left) : A::TimesK(s);
  odd = plain ? A::DifferenceTimesK(s, d) : smoothOdd ? A::SmoothTimesK(s, right) : A::TimesK(s);
}

// x made a value the row check takes: +0, or a magnitude from HwlLaneFloor
// to HwlLaneCeiling.
double Takeable(Random& r, double x) {
  if (x == 0) return 0.0;
  if (std::fabs(x) >= HwlLaneFloor && std::fabs(x) <= HwlLaneCeiling) return x;
  const double significand = 1 + r.Below(64) / 64.0;  // drawn in this order on every compiler
  return std::ldexp(significand, r.Between(-940, 960)) * (std::signbit(x) ? -1 : 1);
}

// A line of a few pairs on the row check one double at a time, against the
// reference decoder's rule: repeated values and zero details (smoothing),
// neighbours a few ulps apart or nearly opposite (sums on and near ties),
// both signs, and the pairs at the ends of the line.
template <bool Fused>
bool RowCheckCase(Random& r, Digest& digest) {
  const int p = r.Between(1, 8);
  std::vector<double> line(2 * p + 4, 0.0);  // with two readable values on either side
  double* v = line.data() + 2;
  v[0] = Takeable(r, RandomDouble(r));
  for (int i = 1; i < 2 * p; ++i) {
    const int kind = r.Below(6);
    v[i] = kind == 0 ? v[i - 1] : kind == 1 ? 0.0 : kind < 4 ? Takeable(r, RandomNeighbour(r, v[i - 1])) : Takeable(r, RandomDouble(r));
  }
  std::vector<double> out(2 * std::size_t(p));
  RefusedPairs = 0;
  HwlHorizontalLanes<HwlScalarLane<Fused>>(v, p, 0, p, out.data(), SoftPair);
  digest.Add(std::uint64_t(RefusedPairs));
  const std::vector<double> expected = oracle::SynthesiseLine(std::vector<double>(v, v + 2 * p));
  for (std::size_t i = 0; i < out.size(); ++i) {
    digest.Add(KeyOf(out[i]));
    if (!Agree("row check", KeyOf(out[i]), KeyOf(expected[i]), v[i / 2], v[p + i / 2], double(i), double(p)))
      return false;
  }
  return true;
}

const Operation Operations[] = {
    {"add", 0xe3c0d7e436b6957cu,
     [](Random& r, Digest& g) {
       const HwlExtended x = RandomExtended(r);
       return Binary("add", r, g, x, RandomPartner(r, x), [](auto a, auto b) { return a + b; });
     }},
    {"subtract", 0xe8e701b313ab1557u,
     [](Random& r, Digest& g) {
       const HwlExtended x = RandomExtended(r);
       return Binary("subtract", r, g, x, RandomPartner(r, x), [](auto a, auto b) { return a - b; });
     }},
    {"multiply", 0xf02c17304dc0bdd2u,
     [](Random& r, Digest& g) {
       const int bits = r.Between(30, 36);
       const bool tie = r.Below(2) == 0;
       const HwlExtended x = tie ? ShortFactor(r, bits) : RandomExtended(r);
       const HwlExtended y = tie ? ShortFactor(r, r.Between(64, 66) - bits) : RandomExtended(r);
       return Binary("multiply", r, g, x, y, [](auto a, auto b) { return a * b; });
     }},
    {"divide", 0x86eff58339066a33u,
     [](Random& r, Digest& g) {
       const HwlExtended x = RandomExtended(r);
       return Binary("divide", r, g, x, RandomExtended(r), [](auto a, auto b) { return a / b; });
     }},
    {"compare", 0x41e1a6e10f37dcc3u,
     [](Random& r, Digest& g) {
       const HwlExtended x = RandomExtended(r);
       const HwlExtended y = r.Below(4) == 0 ? x : RandomPartner(r, x);
       const int soft = (x < y) | (x == y) << 1 | (x > y) << 2;
       g.Add(std::uint64_t(soft));
#if HWL_X87
       const long double a = ToX87(x), b = ToX87(y);
       return Agree("comparison", KeyOf(double(soft)), KeyOf(double((a < b) | (a == b) << 1 | (a > b) << 2)),
                    double(x), double(y));
#else
       return true;
#endif
     }},
    {"round to double", 0xb74daf68409bfbbbu,
     [](Random& r, Digest& g) {
       const HwlExtended x = RandomExtended(r);
       g.Add(KeyOf(double(x)));
#if HWL_X87
       return Agree("rounding", KeyOf(double(x)), KeyOf(double(ToX87(x))), double(x));
#else
       return true;
#endif
     }},
    {"reciprocal of a double", 0xd39ad095749d5990u,
     [](Random& r, Digest& g) {
       const double x = RandomDouble(r);
       return FormulaCase("reciprocal", g, x, 0.0, [](auto a, double s, double) { return decltype(a)::Reciprocal(s); });
     }},
    {"integer times double", 0xa3e086b406ffe226u,
     [](Random& r, Digest& g) {
       // Dequantisation: the decoder's double product must round the exact product as the x87 does.
       const int c = r.Between(-255, 255);
       const double f = RandomDouble(r);
       const double soft = double(HwlExtendedFromInteger(c) * HwlExtended(f));
       g.Add(KeyOf(soft));
#if HWL_X87
       if (!Agree("dequantisation on the x87", KeyOf(double(static_cast<long double>(c) * f)), KeyOf(soft), c, f))
         return false;
#endif
       return Agree("dequantisation", KeyOf(double(c) * f), KeyOf(soft), c, f);
     }},
    {"(s + d) k", 0xff0493de3fb0d4dbu,
     [](Random& r, Digest& g) {
       const double s = RandomDouble(r);
       return FormulaCase("(s + d) k", g, s, RandomNeighbour(r, s),
                          [](auto a, double x, double y) { return decltype(a)::SumTimesK(x, y); });
     }},
    {"(s - d) k", 0x29c1788be3c66025u,
     [](Random& r, Digest& g) {
       const double s = RandomDouble(r);
       return FormulaCase("(s - d) k", g, s, RandomNeighbour(r, s),
                          [](auto a, double x, double y) { return decltype(a)::DifferenceTimesK(x, y); });
     }},
    {"s k", 0xa1f7c025e945e2e8u,
     [](Random& r, Digest& g) {
       return FormulaCase("s k", g, RandomDouble(r), 0.0, [](auto a, double x, double) { return decltype(a)::TimesK(x); });
     }},
    {"(0.8 s + 0.2 n) k", 0xc31c3f4dcbbc61dbu,
     [](Random& r, Digest& g) {
       const double s = RandomDouble(r);
       return FormulaCase("(0.8 s + 0.2 n) k", g, s, RandomNeighbour(r, s),
                          [](auto a, double x, double y) { return decltype(a)::SmoothTimesK(x, y); });
     }},
    {"pair check, split product", 0x54e1698988c62c1u, PairCheckCase<false>},
    {"pair check, fused product", 0x21a41ad08900065u, PairCheckCase<true>},
    {"row check, split product", 0x55ba939a4fd2062u, RowCheckCase<false>},
    {"row check, fused product", 0xe2a1c42803a57dd0u, RowCheckCase<true>},
};

std::uint64_t CorpusCount() {
  const char* text = std::getenv("HWL_CORPUS_COUNT");
  return text ? std::strtoull(text, nullptr, 10) : DefaultCount;
}

TEST(HwlExtendedCorpus, EveryOperationAgreesWithTheX87) {
  const HwlExtendedPrecision precision;
  const std::uint64_t count = CorpusCount();
  const char* only = std::getenv("HWL_CORPUS_ONLY");
  for (const Operation& op : Operations) {
    if (only && !std::strstr(op.name, only)) continue;
    Random r{0x5EED0000u + std::uint64_t(&op - Operations)};
    Digest digest;
    int failures = 0;
    for (std::uint64_t i = 0; i < count && failures < 5; ++i) failures += op.run(r, digest) ? 0 : 1;
    EXPECT_EQ(failures, 0) << op.name;
    if (count == DefaultCount) {
      EXPECT_EQ(digest.value, op.digest) << op.name << ": digest 0x" << std::hex << digest.value;
    }
  }
}

// A few cases with known answers, so that a wrong digest has a clear cause.
TEST(HwlExtended, RoundingToDoubleTiesToEvenDownToSubnormals) {
  const auto value = [](int exponent, std::uint64_t significand) {
    return double(hwl_extended::Finite(false, exponent, significand));
  };
  constexpr std::uint64_t One = std::uint64_t{1} << 63;
  EXPECT_EQ(value(0, One | 0x400), 1.0);                       // 1 + 2^-53: a tie, to even
  EXPECT_EQ(value(0, One | 0xC00), 1.0 + 0x1p-51);             // 1 + 3 x 2^-53: a tie, up to even
  EXPECT_EQ(value(0, One | 0x401), 1.0 + 0x1p-52);             // just above the tie
  EXPECT_EQ(value(-1075, One), 0.0);                           // half the smallest subnormal: to even, 0
  EXPECT_EQ(value(-1075, One | 1), 0x1p-1074);                 // just above it
  EXPECT_EQ(value(-1074, One | One >> 1), 0x1p-1073);          // 1.5 x 2^-1074: a tie, up to even
  EXPECT_EQ(value(-1023, ~std::uint64_t{0}), 0x1p-1022);       // rounds up into the normal range
  EXPECT_EQ(value(1023, ~std::uint64_t{0}), INFINITY);         // past the largest double
  EXPECT_EQ(value(1023, ~std::uint64_t{0} << 11), std::numeric_limits<double>::max());
  EXPECT_EQ(double(HwlExtended(0x1p-1074)), 0x1p-1074);
  EXPECT_TRUE(std::signbit(double(-HwlExtended(0.0))));
}

TEST(HwlExtended, SignedZerosInfinitiesAndReciprocals) {
  const HwlExtended zero(0.0), negativeZero(-0.0), three(3.0);
  EXPECT_FALSE(std::signbit(double(negativeZero + zero)));     // x + -x is +0
  EXPECT_TRUE(std::signbit(double(negativeZero + negativeZero)));
  EXPECT_FALSE(std::signbit(double(three - three)));
  EXPECT_TRUE(std::signbit(double(negativeZero * three)));
  EXPECT_TRUE(std::signbit(double(HwlExtended(1.0) / HwlExtended(-INFINITY))));  // an infinite scale's factor
  EXPECT_EQ(double(HwlExtended(1.0) / negativeZero), -INFINITY);
  EXPECT_TRUE(std::isnan(double(HwlExtended(INFINITY) - HwlExtended(INFINITY))));
  EXPECT_TRUE(std::isnan(double(HwlExtended(INFINITY) * zero)));
  // 1/3 to 64 bits is 0xAAAAAAAAAAAAAAAB x 2^-65; to a double it then rounds once more.
  const HwlExtended third = HwlExtended(1.0) / three;
  EXPECT_EQ(third.significand, 0xAAAAAAAAAAAAAAABu);
  EXPECT_EQ(third.exponent, -2);
  EXPECT_EQ(double(third), 1.0 / 3.0);
  EXPECT_TRUE(HwlExtended(-1.0) < negativeZero && negativeZero == zero && zero < HwlExtended(0x1p-1074));
  EXPECT_FALSE(HwlExtended(NAN) == HwlExtended(NAN));
  EXPECT_EQ(double(HwlExtendedFromInteger(-255) * HwlExtended(0.5)), -127.5);
}

}  // namespace
