// The row loops of the synthesis on x86-64 with AVX2 and FMA, four pairs at
// a time. This file alone is compiled for AVX2 and FMA; the decoder calls
// into it only after checking that the processor has both. Nothing here may
// use the scalar helpers of other files: an inline function compiled here
// would carry AVX2 instructions, and the linker could pick that copy for
// every file (the templates of hwl_lanes.h are instantiated with a type of
// this file only, so their copies stay here).
#include <immintrin.h>

#include "hwl_lanes.h"

namespace {

// A mask lane counts by its sign bit (blendv, movemask and testz read only that).
struct Avx2Lanes {
  using V = __m256d;
  using M = __m256d;
  static constexpr int Width = 4;
  static constexpr int Full = 15;
  static V Set(double x) { return _mm256_set1_pd(x); }
  static V Zero() { return _mm256_setzero_pd(); }
  static V Iota() { return _mm256_setr_pd(0, 1, 2, 3); }
  static V Load(const double* p) { return _mm256_loadu_pd(p); }
  static V LoadScaled(const std::int16_t* p, V factor) {
    const __m128i four = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_cvtepi16_epi32(four)), factor);
  }
  static void Store(double* p, V v) { _mm256_storeu_pd(p, v); }
  static void StoreInterleaved(double* out, V even, V odd) {
    const V lo = _mm256_unpacklo_pd(even, odd), hi = _mm256_unpackhi_pd(even, odd);
    _mm256_storeu_pd(out, _mm256_permute2f128_pd(lo, hi, 0x20));
    _mm256_storeu_pd(out + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
  }
  static V Add(V a, V b) { return _mm256_add_pd(a, b); }
  static V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
  static V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
  static V ProductError(V a, V b, V p) { return _mm256_fmsub_pd(a, b, p); }
  static V MulAdd(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
  static void MulAddResidual(V a, V b, V c, V& y, V& r) {
    y = _mm256_fmadd_pd(a, b, c);
    r = _mm256_add_pd(_mm256_fmsub_pd(a, b, y), c);
  }
  static M Equal(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
  static M NotEqual(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NEQ_UQ); }
  static M AtMost(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
  static M AtLeast(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  static M Beyond(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NLE_UQ); }
  static V Abs(V a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
  static M And(M a, M b) { return _mm256_and_pd(a, b); }
  static M Or(M a, M b) { return _mm256_or_pd(a, b); }
  static M AndNot(M a, M b) { return _mm256_andnot_pd(a, b); }
  static M Not(M a) { return _mm256_xor_pd(a, _mm256_castsi256_pd(_mm256_set1_epi64x(-1))); }
  static M NoLanes() { return _mm256_setzero_pd(); }
  static M MaskOf(bool b) { return _mm256_castsi256_pd(_mm256_set1_epi64x(b ? -1 : 0)); }
  static V Select(M m, V a, V b) { return _mm256_blendv_pd(b, a, m); }
  static M SelectMask(M m, M a, M b) { return _mm256_blendv_pd(b, a, m); }
  static M SignsDiffer(V a, V b) { return _mm256_xor_pd(a, b); }
  static int Bits(M m) { return _mm256_movemask_pd(m); }
  static bool AllZero(V a, V b, V c) {
    const __m256i bits = _mm256_castpd_si256(_mm256_or_pd(_mm256_or_pd(a, b), c));
    return _mm256_testz_si256(bits, bits) != 0;
  }
  static V Round(V a) { return _mm256_round_pd(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC); }
  static V Min(V a, V b) { return _mm256_min_pd(a, b); }  // minpd and maxpd give b where either is NaN
  static V Max(V a, V b) { return _mm256_max_pd(a, b); }
  // StoreBytes and StoreWords saturate: a value within +-2^31 converts to
  // its nearest integer, NaN to -2^31, and the packs take them to [0, 255].
  static constexpr bool SaturatingBytes = true;
  // The values converted with the default rounding (nearest, ties to
  // even), interleaved: eight 16-bit integers.
  static __m128i Interleaved(V even, V odd) {
    const __m128i e = _mm256_cvtpd_epi32(even), o = _mm256_cvtpd_epi32(odd);
    return _mm_packs_epi32(_mm_unpacklo_epi32(e, o), _mm_unpackhi_epi32(e, o));
  }
  static void StoreBytes(std::uint8_t* out, V even, V odd) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(Interleaved(even, odd), _mm_setzero_si128()));
  }
  static void StoreWords(std::uint8_t* out, V even, V odd, const std::uint8_t* second, const std::uint8_t* third) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i first = _mm_packus_epi16(Interleaved(even, odd), zero);
    const __m128i low = _mm_unpacklo_epi8(first, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(second)));
    const __m128i high = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(third)), zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(low, high));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(low, high));
  }
  static V Either(V a, V b) { return _mm256_or_pd(a, b); }
};

}  // namespace

extern const HwlLaneRows HwlAvx2Rows;
const HwlLaneRows HwlAvx2Rows = HwlLaneRowsOf<Avx2Lanes>();
