// Signal primitives of the soundtrack synthesizer.
//
// Everything here uses only IEEE basic arithmetic (+ - * / and floor), never
// the C library's sin, exp or pow, whose last bits differ between library
// versions. With floating-point contraction off (see CMakeLists.txt) the same
// score renders to the same samples on every machine and in every build type.
#pragma once

#include <cmath>
#include <cstdint>

namespace synth {

constexpr int SampleRate = 44100;  // frames per second of the track
constexpr double Pi = 3.14159265358979323846;

// sin(2 pi t) for any t; t is in turns, so oscillator phases feed it directly.
// Polynomial on a quarter turn: error below 1e-9.
inline double SinTurns(double t);

// 2^x; error below 1e-12 relative.
double Exp2(double x);

// log2(x) for x > 0; error below 1e-12.
double Log2(double x);

// Frequency in Hz of a MIDI note number (69 = A4 = 440 Hz), fractional notes allowed.
double NoteHz(double note);

// Per-sample multiplier that makes a level fall by 60 dB in `ms` milliseconds.
double DecayPerSample(double ms);

// Seeded xorshift generator for noise: the same seed gives the same noise.
struct Noise {
  std::uint32_t state;
  explicit Noise(std::uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
  std::uint32_t NextBits() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  double Next() { return static_cast<double>(NextBits()) * (2.0 / 4294967296.0) - 1.0; }  // [-1, 1)
};

// Band-limited correction for a unit step at phase 0 (PolyBLEP): subtract it
// from a naive saw, add it at each edge of a square, and the aliasing drops.
inline double PolyBlep(double phase, double phaseStep);

// Resonant state-variable filter (trapezoidal integration: stable at every
// cutoff). Cutoff in Hz, resonance 0 (flat) to just below 1 (ringing).
enum class FilterMode { Low, Band, High };
struct Svf {
  double ic1 = 0, ic2 = 0;
  double a1 = 0, a2 = 0, a3 = 0, k = 2;
  void Tune(double cutoffHz, double resonance);
  inline double Step(double input, FilterMode mode);
};

// ---- Inline definitions (per-sample hot paths) ----

inline double SinTurns(double t) {
  if (t < 0.0 || t >= 1.0) t -= std::floor(t);  // exact: [0, 1)
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

inline double PolyBlep(double phase, double phaseStep) {
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

inline double Svf::Step(double input, FilterMode mode) {
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
