// The vector rows of the pair rule on ARM64 (NEON, with its fused
// multiply-add), two pairs at a time. Every ARM64 processor has both.
#include <arm_neon.h>

#include "hwl_lanes.h"

namespace {

struct NeonLanes {
  using V = float64x2_t;
  using M = uint64x2_t;
  static constexpr int Width = 2;
  static V Load(const double* p) { return vld1q_f64(p); }
  static void Store(double* p, V v) { vst1q_f64(p, v); }
  static void StoreInterleaved(double* out, V even, V odd) { vst2q_f64(out, float64x2x2_t{{even, odd}}); }
  static V Set(double x) { return vdupq_n_f64(x); }
  static V Add(V a, V b) { return vaddq_f64(a, b); }
  static V Sub(V a, V b) { return vsubq_f64(a, b); }
  static V Mul(V a, V b) { return vmulq_f64(a, b); }
  static V ProductError(V a, V b, V p) { return vfmaq_f64(vnegq_f64(p), a, b); }
  static V MulAdd(V a, V b, V c) { return vfmaq_f64(c, a, b); }
  static M Equal(V a, V b) { return vceqq_f64(a, b); }
  static M NotEqual(V a, V b) { return Not(vceqq_f64(a, b)); }
  static M AtMost(V a, V b) { return vcleq_f64(a, b); }
  static M AtLeast(V a, V b) { return vcgeq_f64(a, b); }
  static V Abs(V a) { return vabsq_f64(a); }
  static M And(M a, M b) { return vandq_u64(a, b); }
  static M Or(M a, M b) { return vorrq_u64(a, b); }
  static M Not(M a) { return vreinterpretq_u64_u32(vmvnq_u32(vreinterpretq_u32_u64(a))); }
  static M NoLanes() { return vdupq_n_u64(0); }
  static V Select(M m, V a, V b) { return vbslq_f64(m, a, b); }
  static M SignsDiffer(V a, V b) {
    const int64x2_t x = vreinterpretq_s64_u64(veorq_u64(vreinterpretq_u64_f64(a), vreinterpretq_u64_f64(b)));
    return vreinterpretq_u64_s64(vshrq_n_s64(x, 63));  // the sign bit spread over the lane
  }
  static bool Any(M m) { return vmaxvq_u32(vreinterpretq_u32_u64(m)) != 0; }
  static int Bits(M m) { return int(vgetq_lane_u64(m, 0) & 1) | int(vgetq_lane_u64(m, 1) & 1) << 1; }
  static bool AllZero(V a, V b, V c, V d) {
    const uint64x2_t bits = vorrq_u64(vorrq_u64(vreinterpretq_u64_f64(a), vreinterpretq_u64_f64(b)),
                                      vorrq_u64(vreinterpretq_u64_f64(c), vreinterpretq_u64_f64(d)));
    return (vmaxvq_u32(vreinterpretq_u32_u64(vshlq_n_u64(bits, 1))) == 0);  // every lane +0 or -0
  }
};

}  // namespace

extern const HwlLaneRows HwlNeonRows[2];
const HwlLaneRows HwlNeonRows[2] = {HwlLaneRowsOf<NeonLanes>(false), HwlLaneRowsOf<NeonLanes>(true)};
