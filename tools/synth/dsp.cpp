#include "dsp.h"

#include <cmath>

namespace synth {

double SinTurns(double t) {
  t -= std::floor(t);  // exact: [0, 1)
  // Fold onto [-1/4, 1/4] turn, where sin is odd and its series converges fast.
  double x = t < 0.25 ? t : (t < 0.75 ? 0.5 - t : t - 1.0);
  const double r = 2.0 * Pi * x;
  const double r2 = r * r;
  // Taylor series to r^15 (Horner form); the next term is below 1e-9 at r = pi/2.
  double s = -1.0 / 1307674368000.0;
  s = s * r2 + 1.0 / 6227020800.0;
  s = s * r2 - 1.0 / 39916800.0;
  s = s * r2 + 1.0 / 362880.0;
  s = s * r2 - 1.0 / 5040.0;
  s = s * r2 + 1.0 / 120.0;
  s = s * r2 - 1.0 / 6.0;
  s = s * r2 + 1.0;
  return r * s;
}

double Exp2(double x) {
  const double whole = std::floor(x);
  const double y = (x - whole) * 0.69314718055994530942;  // [0, ln 2)
  // e^y by its series to y^14; the remainder is below 1e-14 on this range.
  double e = 1.0;
  for (int n = 14; n >= 1; --n) e = 1.0 + e * y / n;
  return std::ldexp(e, static_cast<int>(whole));  // exact scaling by 2^whole
}

double Log2(double x) {
  int exponent = 0;
  const double m = 2.0 * std::frexp(x, &exponent);  // exact: [1, 2)
  // ln m = 2 atanh(z), z = (m - 1) / (m + 1) in [0, 1/3); odd series to z^25.
  const double z = (m - 1.0) / (m + 1.0);
  const double z2 = z * z;
  double s = 0.0;
  for (int k = 12; k >= 0; --k) s = s * z2 + 1.0 / (2 * k + 1);
  return (exponent - 1) + 2.0 * z * s * 1.4426950408889634;  // 1 / ln 2
}

double NoteHz(double note) { return 440.0 * Exp2((note - 69.0) / 12.0); }

double DecayPerSample(double ms) {
  constexpr double Log2Of1000 = 9.965784284662087;  // 60 dB
  if (ms <= 0) return 0.0;
  return Exp2(-Log2Of1000 / (ms * 0.001 * SampleRate));
}

double PolyBlep(double phase, double phaseStep) {
  if (phase < phaseStep) {
    const double t = phase / phaseStep;
    return t + t - t * t - 1.0;
  }
  if (phase > 1.0 - phaseStep) {
    const double t = (phase - 1.0) / phaseStep;
    return t * t + t + t + 1.0;
  }
  return 0.0;
}

void Svf::Tune(double cutoffHz, double resonance) {
  // Keep the cutoff inside the audio band; tan() of the warped frequency from
  // our own sine: tan(x) = sin(x) / cos(x) with x = pi * fc / fs.
  constexpr double Lowest = 20.0, Highest = 0.45 * SampleRate;
  const double fc = cutoffHz < Lowest ? Lowest : (cutoffHz > Highest ? Highest : cutoffHz);
  const double turns = fc / (2.0 * SampleRate);
  const double g = SinTurns(turns) / SinTurns(turns + 0.25);
  const double res = resonance < 0 ? 0 : (resonance > 0.98 ? 0.98 : resonance);
  k = 2.0 - 2.0 * res;
  a1 = 1.0 / (1.0 + g * (g + k));
  a2 = g * a1;
  a3 = g * a2;
}

double Svf::Step(double input, FilterMode mode) {
  const double v3 = input - ic2;
  const double v1 = a1 * ic1 + a2 * v3;
  const double v2 = ic2 + a2 * ic1 + a3 * v3;
  ic1 = 2.0 * v1 - ic1;
  ic2 = 2.0 * v2 - ic2;
  switch (mode) {
    case FilterMode::Low: return v2;
    case FilterMode::Band: return v1;
    case FilterMode::High: return input - k * v1 - v2;
  }
  return v2;
}

}  // namespace synth
