// The row loops of the synthesis on ARM64 (NEON, with its fused
// multiply-add), two pairs at a time. Every ARM64 processor has both.
#include <arm_neon.h>

#include "hwl_lanes.h"

namespace {

struct NeonLanes {
  using V = float64x2_t;
  using M = uint64x2_t;
  static constexpr int Width = 2;
  static constexpr int Full = 3;
  static V Set(double x) { return vdupq_n_f64(x); }
  static V Zero() { return vdupq_n_f64(0.0); }
  static V Iota() { return V{0.0, 1.0}; }
  static V Load(const double* p) { return vld1q_f64(p); }
  static V LoadScaled(const std::int16_t* p, V factor) {
    const int32x2_t two = {p[0], p[1]};
    return vmulq_f64(vcvtq_f64_s64(vmovl_s32(two)), factor);
  }
  static void Store(double* p, V v) { vst1q_f64(p, v); }
  static void StoreInterleaved(double* out, V even, V odd) { vst2q_f64(out, float64x2x2_t{{even, odd}}); }
  static V Add(V a, V b) { return vaddq_f64(a, b); }
  static V Sub(V a, V b) { return vsubq_f64(a, b); }
  static V Mul(V a, V b) { return vmulq_f64(a, b); }
  static V ProductError(V a, V b, V p) { return vfmaq_f64(vnegq_f64(p), a, b); }
  static V MulAdd(V a, V b, V c) { return vfmaq_f64(c, a, b); }
  static void MulAddResidual(V a, V b, V c, V& y, V& r) {
    y = vfmaq_f64(c, a, b);
    r = vaddq_f64(vfmaq_f64(vnegq_f64(y), a, b), c);
  }
  static M Equal(V a, V b) { return vceqq_f64(a, b); }
  static M NotEqual(V a, V b) { return Not(vceqq_f64(a, b)); }
  static M AtMost(V a, V b) { return vcleq_f64(a, b); }
  static M AtLeast(V a, V b) { return vcgeq_f64(a, b); }
  static M Beyond(V a, V b) { return Not(vcleq_f64(a, b)); }
  static V Abs(V a) { return vabsq_f64(a); }
  static M And(M a, M b) { return vandq_u64(a, b); }
  static M Or(M a, M b) { return vorrq_u64(a, b); }
  static M AndNot(M a, M b) { return vbicq_u64(b, a); }
  static M Not(M a) { return vreinterpretq_u64_u32(vmvnq_u32(vreinterpretq_u32_u64(a))); }
  static M NoLanes() { return vdupq_n_u64(0); }
  static M MaskOf(bool b) { return vdupq_n_u64(b ? ~std::uint64_t{0} : 0); }
  static V Select(M m, V a, V b) { return vbslq_f64(m, a, b); }
  static M SelectMask(M m, M a, M b) { return vbslq_u64(m, a, b); }
  static M SignsDiffer(V a, V b) {
    const int64x2_t x = vreinterpretq_s64_u64(veorq_u64(vreinterpretq_u64_f64(a), vreinterpretq_u64_f64(b)));
    return vreinterpretq_u64_s64(vshrq_n_s64(x, 63));  // the sign bit spread over the lane
  }
  static int Bits(M m) { return int(vgetq_lane_u64(m, 0) & 1) | int(vgetq_lane_u64(m, 1) & 1) << 1; }
  static bool AllZero(V a, V b, V c) {
    const uint64x2_t bits =
        vorrq_u64(vorrq_u64(vreinterpretq_u64_f64(a), vreinterpretq_u64_f64(b)), vreinterpretq_u64_f64(c));
    return vmaxvq_u32(vreinterpretq_u32_u64(bits)) == 0;
  }
  static V Round(V a) { return vrndnq_f64(a); }
  static V Min(V a, V b) { return vminnmq_f64(a, b); }  // the number where one is a (quiet) NaN
  static V Max(V a, V b) { return vmaxnmq_f64(a, b); }
  // The values rounded to the nearest integer (ties to even) as 32-bit
  // words, interleaved: even 0, odd 0, even 1, odd 1.
  static uint32x4_t Interleaved(V even, V odd) {
    const uint64x2_t e = vreinterpretq_u64_s64(vcvtnq_s64_f64(even)), o = vreinterpretq_u64_s64(vcvtnq_s64_f64(odd));
    return vcombine_u32(vmovn_u64(vzip1q_u64(e, o)), vmovn_u64(vzip2q_u64(e, o)));
  }
  static void StoreBytes(std::uint8_t* out, V even, V odd) {
    const uint8x8_t bytes = vmovn_u16(vcombine_u16(vmovn_u32(Interleaved(even, odd)), vdup_n_u16(0)));
    const std::uint32_t four = vget_lane_u32(vreinterpret_u32_u8(bytes), 0);
    std::memcpy(out, &four, 4);
  }
  static uint32x4_t Widened(const std::uint8_t* p) {
    std::uint32_t four;
    std::memcpy(&four, p, 4);
    return vmovl_u16(vget_low_u16(vmovl_u8(vreinterpret_u8_u32(vdup_n_u32(four)))));
  }
  static void StoreWords(std::uint8_t* out, V even, V odd, const std::uint8_t* second, const std::uint8_t* third) {
    const uint32x4_t words = vorrq_u32(Interleaved(even, odd),
                                       vorrq_u32(vshlq_n_u32(Widened(second), 8), vshlq_n_u32(Widened(third), 16)));
    vst1q_u8(out, vreinterpretq_u8_u32(words));
  }
  static V Either(V a, V b) {
    return vreinterpretq_f64_u64(vorrq_u64(vreinterpretq_u64_f64(a), vreinterpretq_u64_f64(b)));
  }
};

}  // namespace

extern const HwlLaneRows HwlNeonRows;
const HwlLaneRows HwlNeonRows = HwlLaneRowsOf<NeonLanes>();
