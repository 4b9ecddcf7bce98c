// Turns the score into notes, the notes into sound, and the sound into the
// finished 16-bit track: voices -> dry, delay and reverb buses -> master.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "synth.h"

namespace synth {
namespace {

// ---- Timing -----------------------------------------------------------------

constexpr int StepsPerBar = 16;
constexpr int StepsPerBeat = 4;

// ---- Mix set-up -------------------------------------------------------------

// Side-chain: each kick pulls the ducked voices down by this much, recovering
// over DuckMs.
constexpr double DuckDepth = 0.5;
constexpr double DuckMs = 190;

// Ping-pong delay of three sixteenths at the main tempo (~90.2 ms a step).
constexpr double DelayMs = 270.6;
constexpr double DelayFeedback = 0.42;
constexpr double DelayReturn = 0.55;
constexpr double DelayDampingHz = 3500;  // echoes lose their top end

// Reverb: eight damped combs and four all-passes per side, the classic
// Schroeder-Moorer layout; lengths in frames at 44.1 kHz, right side offset.
constexpr std::array<int, 8> CombFrames = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr std::array<int, 4> AllPassFrames = {556, 441, 341, 225};
constexpr int StereoSpreadFrames = 23;
constexpr double CombFeedback = 0.83;
constexpr double CombDamping = 0.3;
constexpr double ReverbInput = 0.03;  // combs sum eight paths: scale the input down
constexpr double ReverbReturn = 1.0;
constexpr double DelayToReverb = 0.3;

// Master compressor: evens out the kick-heavy peaks so the track is not quiet
// after peak normalisation. Threshold relative to the mix's own peak.
constexpr double CompressorThresholdDb = -15;
constexpr double CompressorRatio = 2.5;
constexpr double CompressorAttackMs = 2;
constexpr double CompressorReleaseMs = 140;

// Look-ahead limiter after the compressor: the drum transients that still
// stick out are pulled down this far below the mix's peak, without overshoot.
constexpr double LimiterDepthDb = 6;
constexpr double LimiterLookAheadMs = 2;
constexpr double LimiterReleaseMs = 60;

// Fade-out of the whole track after the show has ended.
constexpr double FadeStartMs = 66000;
// The master gain puts the loudest sample here; MP3 coding adds a little on top.
constexpr double TargetPeak = 0.75;  // about -2.5 dBFS

// ---- Helpers ----------------------------------------------------------------

constexpr double Sqrt2 = 1.4142135623730951;

// Phase in [0, 2) back to [0, 1); exact (the same as p - floor(p)) and cheap.
double Wrap(double p) { return p >= 1.0 ? p - 1.0 : p; }

double Clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Constant-power pan: gains for pan -1 (left) .. +1 (right).
void PanGains(double pan, double& left, double& right) {
  const double turns = (Clamp(pan, -1, 1) + 1.0) * 0.125;  // 0 .. 1/4 turn
  left = SinTurns(turns + 0.25);
  right = SinTurns(turns);
}

std::uint32_t Hash(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352du;
  x ^= x >> 15;
  x *= 0x846ca68bu;
  x ^= x >> 16;
  return x;
}

struct Buses {
  std::vector<float> dryL, dryR, delaySend, reverbSend;
  std::vector<float> duck;  // side-chain gain, 1 = no ducking
};

// Frequencies of the metallic cymbal cluster (inharmonic square waves), Hz at note 60.
constexpr std::array<double, 6> MetalHz = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};

// Control values (pitch, cutoff) are updated every this many frames.
constexpr int ControlFrames = 16;
// Detuned copies per note; more cost time and add nothing audible.
constexpr int MaxUnison = 16;

// ---- One note ---------------------------------------------------------------

void RenderNote(const NoteEvent& event, Buses& bus) {
  const Instrument& in = Instruments[static_cast<int>(event.instrument)];
  const double fs = SampleRate;
  const std::int64_t noteFrames = std::max<std::int64_t>(1, event.endFrame - event.startFrame);
  const double releaseFrames = in.amp.releaseMs * 0.001 * fs;
  // The release falls 60 dB in releaseMs; stop once it is 80 dB down.
  const std::int64_t total =
      std::min<std::int64_t>(noteFrames + static_cast<std::int64_t>(releaseFrames * 4 / 3) + 1,
                             TrackFrames - event.startFrame);
  if (total <= 0) return;

  Noise noise(Hash(event.seed));
  const int unison = std::clamp(in.unison, 1, MaxUnison);
  std::array<double, MaxUnison> phase{}, ratio{}, gainL{}, gainR{};
  std::array<double, MetalHz.size()> metalPhase{};
  const double unisonNorm = 1.0 / std::sqrt(static_cast<double>(unison));
  for (int u = 0; u < unison; ++u) {
    const double spread = unison == 1 ? 0.0 : (2.0 * u / (unison - 1) - 1.0);  // -1 .. 1
    ratio[u] = Exp2(spread * in.detuneCents / 2400.0);
    PanGains(spread * in.width, gainL[u], gainR[u]);
    gainL[u] *= unisonNorm * Sqrt2;  // a centred copy plays at unit gain on both sides
    gainR[u] *= unisonNorm * Sqrt2;
    phase[u] = (noise.NextBits() >> 8) * (1.0 / 16777216.0);  // free-running oscillators
  }
  double panL, panR;
  PanGains(in.pan, panL, panR);
  const double outGain = in.gain * event.velocity;
  const bool stereo = in.width > 0;

  // Envelopes.
  const double attackFrames = std::min(in.amp.attackMs * 0.001 * fs, static_cast<double>(noteFrames));
  const double decayMul = DecayPerSample(in.amp.decayMs);
  const double releaseMul = DecayPerSample(in.amp.releaseMs);
  const double noiseMul = in.noiseDecayMs > 0 ? DecayPerSample(in.noiseDecayMs) : 1.0;
  const double pitchMul = in.pitchDecayMs > 0 ? DecayPerSample(in.pitchDecayMs) : 0.0;
  const double fmMul = in.fmDecayMs > 0 ? DecayPerSample(in.fmDecayMs) : 1.0;
  const double filterMul = in.envMs > 0 ? DecayPerSample(in.envMs) : 0.0;
  double decayLevel = 1.0;   // 1 -> 0 after the attack; level = sustain + (1 - sustain) * this
  double releaseLevel = 1.0;
  double noiseEnv = 1.0, pitchEnv = 1.0, fmEnv = 1.0, filterEnv = 1.0;
  double level = 0.0;

  const double baseCutoff = in.cutoffHz * Exp2(event.cutoffOctaves + in.keyTrack * (event.note - 60.0) / 12.0);
  Svf filterL, filterR;
  double step = 0, subStep = 0, fmStep = 0, subPhase = 0, fmPhase = 0;
  std::array<double, MetalHz.size()> metalStep{};
  for (std::size_t m = 0; m < MetalHz.size(); ++m) metalStep[m] = MetalHz[m] * Exp2((event.note - 60.0) / 12.0) / fs;
  // Pitch and cutoff are recomputed at control rate only when something moves them.
  const bool pitchMoves = in.pitchDrop != 0 || in.vibratoCents > 0;
  const bool cutoffMoves = in.envOctaves != 0;

  for (std::int64_t i = 0; i < total; ++i) {
    if (i % ControlFrames == 0 && (i == 0 || pitchMoves)) {
      const double t = static_cast<double>(i) / fs;
      double pitch = event.note + in.pitchDrop * pitchEnv;
      if (in.vibratoCents > 0) {
        const double fadeIn = Clamp((t * 1000.0 - in.vibratoDelayMs) / 300.0, 0, 1);
        pitch += fadeIn * in.vibratoCents * 0.01 * SinTurns(in.vibratoHz * t);
      }
      step = NoteHz(pitch) / fs;
      subStep = step * 0.5;
      fmStep = step * in.fmRatio;
    }
    if (i % ControlFrames == 0 && (i == 0 || cutoffMoves)) {
      double envOct = 0;
      if (in.sweep == Sweep::Rise) envOct = in.envOctaves * Clamp(static_cast<double>(i) / noteFrames, 0, 1);
      else envOct = in.envOctaves * filterEnv;
      filterL.Tune(baseCutoff * Exp2(envOct), in.resonance);
      filterR.a1 = filterL.a1, filterR.a2 = filterL.a2, filterR.a3 = filterL.a3, filterR.k = filterL.k;
    }

    // Amplitude envelope.
    if (i < noteFrames) {
      if (i < attackFrames) {
        level = (i + 1) / attackFrames;
      } else {
        level = in.amp.sustain + (1.0 - in.amp.sustain) * decayLevel;
        decayLevel *= decayMul;
      }
    } else {
      releaseLevel *= releaseMul;
    }
    const double amp = level * releaseLevel;

    // Oscillators.
    double left = 0, right = 0;
    for (int u = 0; u < unison; ++u) {
      const double dt = step * ratio[u];
      double p = phase[u];
      double v = 0;
      switch (in.wave) {
        case Wave::Sine: {
          double mod = 0;
          if (in.fmRatio > 0) mod = in.fmIndex * fmEnv * SinTurns(fmPhase);
          v = SinTurns(p + mod);
          break;
        }
        case Wave::Triangle: v = p < 0.5 ? 4.0 * p - 1.0 : 3.0 - 4.0 * p; break;
        case Wave::Saw: v = 2.0 * p - 1.0 - PolyBlep(p, dt); break;
        case Wave::Square: {
          v = p < in.pulseWidth ? 1.0 : -1.0;
          v += PolyBlep(p, dt);
          v -= PolyBlep(Wrap(p + 1.0 - in.pulseWidth), dt);
          break;
        }
        case Wave::Metal: {
          for (std::size_t m = 0; m < MetalHz.size(); ++m) {
            v += metalPhase[m] < 0.5 ? 1.0 : -1.0;
            metalPhase[m] = Wrap(metalPhase[m] + metalStep[m]);
          }
          v *= 1.0 / MetalHz.size();
          break;
        }
        case Wave::None: break;
      }
      phase[u] = Wrap(p + dt);
      left += v * gainL[u];
      right += v * gainR[u];
    }
    if (in.subLevel > 0) {
      const double sub = in.subLevel * SinTurns(subPhase);
      subPhase = Wrap(subPhase + subStep);
      left += sub;
      right += sub;
    }
    if (in.fmRatio > 0) {
      fmPhase = Wrap(fmPhase + fmStep);
      fmEnv *= fmMul;
    }
    if (in.noiseLevel > 0) {
      const double n = in.noiseLevel * noiseEnv * noise.Next();
      left += n;
      right += n;
      noiseEnv *= noiseMul;
    }
    pitchEnv *= pitchMul;
    filterEnv *= filterMul;

    double outL, outR;
    if (stereo) {
      outL = filterL.Step(left, in.filter);
      outR = filterR.Step(right, in.filter);
    } else {
      const double mono = filterL.Step((left + right) * 0.5, in.filter);
      outL = mono;
      outR = mono;
    }
    const std::int64_t frame = event.startFrame + i;
    const double g = amp * outGain * (in.ducked ? bus.duck[frame] : 1.0);
    outL *= g * panL * Sqrt2;
    outR *= g * panR * Sqrt2;
    bus.dryL[frame] += static_cast<float>(outL);
    bus.dryR[frame] += static_cast<float>(outR);
    const double mono = (outL + outR) * 0.5;
    if (in.delaySend > 0) bus.delaySend[frame] += static_cast<float>(mono * in.delaySend);
    if (in.reverbSend > 0) bus.reverbSend[frame] += static_cast<float>(mono * in.reverbSend);
  }
}

// ---- Effects ----------------------------------------------------------------

void ApplyDelay(const std::vector<float>& send, std::vector<float>& outL, std::vector<float>& outR,
                std::vector<float>& reverbSend) {
  const std::size_t length = static_cast<std::size_t>(MsFrame(DelayMs));
  std::vector<double> lineL(length, 0.0), lineR(length, 0.0);
  const double damp = 1.0 - Exp2(-2.0 * Pi * DelayDampingHz / SampleRate * 1.4426950408889634);
  double lowL = 0, lowR = 0;
  std::size_t at = 0;
  for (std::size_t i = 0; i < send.size(); ++i) {
    const double echoL = lineL[at], echoR = lineR[at];
    lowL += damp * (echoL - lowL);
    lowR += damp * (echoR - lowR);
    // Left line takes the input, the right line the left's echo: ping-pong.
    lineL[at] = send[i] + DelayFeedback * lowR;
    lineR[at] = DelayFeedback * lowL;
    outL[i] += static_cast<float>(echoL * DelayReturn);
    outR[i] += static_cast<float>(echoR * DelayReturn);
    reverbSend[i] += static_cast<float>((echoL + echoR) * 0.5 * DelayToReverb);
    if (++at == length) at = 0;
  }
}

struct Comb {
  std::vector<double> line;
  std::size_t at = 0;
  double low = 0;
  double Step(double input) {
    const double out = line[at];
    low = out * (1.0 - CombDamping) + low * CombDamping;
    line[at] = input + low * CombFeedback;
    if (++at == line.size()) at = 0;
    return out;
  }
};

struct AllPass {
  std::vector<double> line;
  std::size_t at = 0;
  double Step(double input) {
    const double delayed = line[at];
    line[at] = input + delayed * 0.5;
    if (++at == line.size()) at = 0;
    return delayed - input;
  }
};

void ApplyReverb(const std::vector<float>& send, std::vector<float>& outL, std::vector<float>& outR) {
  std::array<std::vector<Comb>, 2> combs;
  std::array<std::vector<AllPass>, 2> allPasses;
  for (int side = 0; side < 2; ++side) {
    const int extra = side * StereoSpreadFrames;
    for (int frames : CombFrames) combs[side].push_back({std::vector<double>(frames + extra, 0.0)});
    for (int frames : AllPassFrames) allPasses[side].push_back({std::vector<double>(frames + extra, 0.0)});
  }
  for (std::size_t i = 0; i < send.size(); ++i) {
    const double input = send[i] * ReverbInput;
    for (int side = 0; side < 2; ++side) {
      double sum = 0;
      for (Comb& comb : combs[side]) sum += comb.Step(input);
      for (AllPass& pass : allPasses[side]) sum = pass.Step(sum);
      (side == 0 ? outL : outR)[i] += static_cast<float>(sum * ReverbReturn);
    }
  }
}

std::vector<float> DuckCurve(const std::vector<NoteEvent>& events) {
  std::vector<float> duck(static_cast<std::size_t>(TrackFrames), 1.0f);
  const std::int64_t length = MsFrame(DuckMs);
  for (const NoteEvent& e : events) {
    if (e.instrument != Instr::Kick) continue;
    const double depth = DuckDepth * Clamp(e.velocity, 0, 1);
    for (std::int64_t i = 0; i < length && e.startFrame + i < TrackFrames; ++i) {
      const double x = 1.0 - static_cast<double>(i) / length;  // 1 -> 0
      const float g = static_cast<float>(1.0 - depth * x * x);
      float& d = duck[static_cast<std::size_t>(e.startFrame + i)];
      d = std::min(d, g);
    }
  }
  return duck;
}

// Stereo-linked feed-forward compressor with a peak follower.
void Compress(std::vector<double>& left, std::vector<double>& right, double mixPeak) {
  const double threshold = mixPeak * Exp2(CompressorThresholdDb / 6.0205999);
  const double attack = 1.0 - Exp2(-1.4426950408889634 / (CompressorAttackMs * 0.001 * SampleRate));
  const double release = 1.0 - Exp2(-1.4426950408889634 / (CompressorReleaseMs * 0.001 * SampleRate));
  const double slope = 1.0 / CompressorRatio - 1.0;
  double follower = 0;
  for (std::size_t i = 0; i < left.size(); ++i) {
    const double level = std::max(std::fabs(left[i]), std::fabs(right[i]));
    follower += (level > follower ? attack : release) * (level - follower);
    if (follower > threshold) {
      const double gain = Exp2(slope * Log2(follower / threshold));
      left[i] *= gain;
      right[i] *= gain;
    }
  }
}

// Gain that keeps |x| at or below `ceiling`: the needed gain is taken as the
// minimum over the next look-ahead window, held against a slow release, then
// averaged over the window. Every gain inside a window that ends at a peak is
// at most that peak's own need, so the average is too: no sample overshoots.
void Limit(std::vector<double>& left, std::vector<double>& right, double ceiling) {
  const std::size_t frames = left.size();
  const std::size_t window = static_cast<std::size_t>(MsFrame(LimiterLookAheadMs));
  std::vector<double> need(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    const double level = std::max(std::fabs(left[i]), std::fabs(right[i]));
    need[i] = level > ceiling ? ceiling / level : 1.0;
  }
  // Forward window minimum with a monotonic queue of indices.
  std::vector<double> held(frames);
  std::vector<std::size_t> queue(frames + window + 1);
  std::size_t head = 0, tail = 0;
  std::size_t next = 0;
  for (std::size_t i = 0; i < frames; ++i) {
    for (; next < frames && next <= i + window; ++next) {
      while (tail > head && need[queue[tail - 1]] >= need[next]) --tail;
      queue[tail++] = next;
    }
    while (queue[head] < i) ++head;
    held[i] = need[queue[head]];
  }
  const double release = 1.0 - Exp2(-1.4426950408889634 / (LimiterReleaseMs * 0.001 * SampleRate));
  double gain = 1.0;
  for (std::size_t i = 0; i < frames; ++i) {
    gain = std::min(held[i], gain + release * (1.0 - gain));
    held[i] = gain;
  }
  // Box average over the window that ends at each frame.
  double sum = 0;
  for (std::size_t i = 0; i < frames; ++i) {
    sum += held[i];
    const double prior = i >= window + 1 ? held[i - window - 1] : 1.0;
    if (i >= window + 1) sum -= prior;
    const double count = static_cast<double>(std::min(i + 1, window + 1));
    const double average = (sum + (window + 1 - count)) / static_cast<double>(window + 1);
    left[i] *= average;
    right[i] *= average;
  }
}

}  // namespace

// ---- Score timing -------------------------------------------------------------

std::int64_t MsFrame(double ms) { return static_cast<std::int64_t>(std::floor(ms * SampleRate / 1000.0 + 0.5)); }

std::int64_t StepFrame(const Section& section, double step) {
  const double start = static_cast<double>(MsFrame(section.startMs));
  const double span = static_cast<double>(MsFrame(section.endMs)) - start;
  return static_cast<std::int64_t>(std::floor(start + span * step / section.steps + 0.5));
}

double SectionBpm(const Section& section) {
  const double beats = static_cast<double>(section.steps) / StepsPerBeat;
  return beats * 60000.0 / (section.endMs - section.startMs);
}

std::vector<NoteEvent> ScoreEvents() {
  std::vector<NoteEvent> events;
  std::uint32_t serial = 0;
  for (const Section& section : Score) {
    for (const Part& part : section.parts) {
      const Pattern& pattern = *part.pattern;
      for (int base = 0; base < section.steps; base += pattern.length) {
        for (const Hit& hit : pattern.hits) {
          const int step = base + hit.step;
          if (step >= section.steps || step < part.fromStep || step >= part.toStep) continue;
          const std::size_t bar = std::min<std::size_t>(static_cast<std::size_t>(step / StepsPerBar),
                                                        section.chords.size() - 1);
          const Chord& chord = section.chords[bar];
          const double ramp = static_cast<double>(step) / section.steps;
          NoteEvent e{};
          e.startFrame = StepFrame(section, step);
          e.endFrame = StepFrame(section, step + hit.length);
          e.instrument = part.instrument;
          e.velocity = hit.velocity * 0.01 * part.level;
          e.cutoffOctaves = part.cutoffFrom + (part.cutoffTo - part.cutoffFrom) * ramp;
          auto add = [&](int note) {
            e.note = note + part.transpose;
            e.seed = ++serial;
            events.push_back(e);
          };
          switch (pattern.voicing) {
            case Voicing::Absolute: add(hit.value); break;
            case Voicing::Root: add(chord.root + hit.value); break;
            case Voicing::Chord:
              for (int tone : chord.tones) add(tone);
              break;
            case Voicing::ChordTone: {
              const int n = static_cast<int>(chord.tones.size());
              add(chord.tones[static_cast<std::size_t>(hit.value % n)] + 12 * (hit.value / n));
              break;
            }
          }
        }
      }
    }
  }
  return events;
}

StereoMix RenderMix(Instr solo) {
  const std::vector<NoteEvent> events = ScoreEvents();
  const std::size_t frames = static_cast<std::size_t>(TrackFrames);
  Buses bus;
  bus.dryL.assign(frames, 0.0f);
  bus.dryR.assign(frames, 0.0f);
  bus.delaySend.assign(frames, 0.0f);
  bus.reverbSend.assign(frames, 0.0f);
  bus.duck = DuckCurve(events);
  for (const NoteEvent& e : events)
    if (solo == Instr::Count || e.instrument == solo) RenderNote(e, bus);
  ApplyDelay(bus.delaySend, bus.dryL, bus.dryR, bus.reverbSend);
  ApplyReverb(bus.reverbSend, bus.dryL, bus.dryR);
  return {std::move(bus.dryL), std::move(bus.dryR)};
}

std::vector<std::int16_t> RenderTrack() {
  StereoMix mix = RenderMix();
  const std::size_t frames = mix.left.size();

  // Remove any DC (one-pole high-pass at ~5 Hz) and fade out the end.
  const double pole = 1.0 - 2.0 * Pi * 5.0 / SampleRate;
  const std::int64_t fadeStart = MsFrame(FadeStartMs);
  double prevInL = 0, prevInR = 0, outL = 0, outR = 0;
  double peak = 0;
  std::vector<double> left(frames), right(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    outL = mix.left[i] - prevInL + pole * outL;
    outR = mix.right[i] - prevInR + pole * outR;
    prevInL = mix.left[i];
    prevInR = mix.right[i];
    double fade = 1.0;
    if (static_cast<std::int64_t>(i) >= fadeStart) {
      const double x = static_cast<double>(static_cast<std::int64_t>(i) - fadeStart) /
                       static_cast<double>(TrackFrames - fadeStart);
      const double c = SinTurns(0.25 + 0.25 * x);  // cos(pi x / 2): 1 -> 0
      fade = c * c;
    }
    left[i] = outL * fade;
    right[i] = outR * fade;
    peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
  }

  Compress(left, right, peak);
  peak = 0;
  for (std::size_t i = 0; i < frames; ++i) peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
  Limit(left, right, peak * Exp2(-LimiterDepthDb / 6.0205999));
  peak = 0;
  for (std::size_t i = 0; i < frames; ++i) peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
  const double gain = peak > 0 ? TargetPeak / peak : 1.0;
  std::vector<std::int16_t> pcm(frames * Channels);
  auto quantize = [gain](double v) {
    const double s = std::floor(Clamp(v * gain, -1.0, 1.0) * 32767.0 + 0.5);
    return static_cast<std::int16_t>(s);
  };
  for (std::size_t i = 0; i < frames; ++i) {
    pcm[2 * i] = quantize(left[i]);
    pcm[2 * i + 1] = quantize(right[i]);
  }
  return pcm;
}

}  // namespace synth
