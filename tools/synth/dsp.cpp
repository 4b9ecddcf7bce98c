#include "dsp.h"

#include <array>
#include <cmath>
#include <cstddef>

namespace synth {

double Exp2(double x) {
  const double whole = std::floor(x);
  const double y = (x - whole) * 0.69314718055994530942;  // [0, ln 2)
  // e^y by its series to y^14 (Horner form); the remainder is below 1e-14 here.
  constexpr std::array<double, 15> Reciprocal = {0,     1.0,      1.0 / 2,  1.0 / 3,  1.0 / 4,
                                                 1.0 / 5, 1.0 / 6,  1.0 / 7,  1.0 / 8,  1.0 / 9,
                                                 1.0 / 10, 1.0 / 11, 1.0 / 12, 1.0 / 13, 1.0 / 14};
  double e = 1.0;
  for (int n = 14; n >= 1; --n) e = 1.0 + e * y * Reciprocal[static_cast<std::size_t>(n)];
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

}  // namespace synth
