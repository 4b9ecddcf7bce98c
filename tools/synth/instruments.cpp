// The instrument table: every sound of the track is one row, played by the one
// note renderer in render.cpp. Gains are set so that a note at full velocity
// sits at its place in the mix (kick and bass loudest, hats quietest).
#include "synth.h"

namespace synth {

const std::array<Instrument, InstrumentCount> Instruments = {{
    // Drums: a falling sine for the kick and toms, sine plus noise for the
    // snare, metallic square clusters and noise for the cymbals.
    {.name = "kick", .wave = Wave::Sine, .noiseLevel = 0.25, .noiseDecayMs = 12,
     .pitchDrop = 30, .pitchDecayMs = 90,
     .amp = {0.5, 420, 0, 60}, .cutoffHz = 7000,
     .gain = 0.6},
    {.name = "snare", .wave = Wave::Sine, .noiseLevel = 1.1, .noiseDecayMs = 260,
     .pitchDrop = 7, .pitchDecayMs = 60,
     .amp = {0.5, 200, 0, 80}, .filter = FilterMode::High, .cutoffHz = 180, .resonance = 0.1,
     .gain = 0.55, .pan = 0.05, .reverbSend = 0.18},
    {.name = "closed hat", .wave = Wave::Metal, .noiseLevel = 0.7,
     .amp = {0.2, 70, 0, 30}, .filter = FilterMode::High, .cutoffHz = 7500, .resonance = 0.2,
     .gain = 0.55, .pan = 0.25},
    {.name = "open hat", .wave = Wave::Metal, .noiseLevel = 0.7,
     .amp = {0.5, 380, 0, 60}, .filter = FilterMode::High, .cutoffHz = 6500, .resonance = 0.2,
     .gain = 0.4, .pan = -0.2, .reverbSend = 0.1},
    {.name = "crash", .wave = Wave::Metal, .noiseLevel = 1.0,
     .amp = {1, 2400, 0, 400}, .filter = FilterMode::High, .cutoffHz = 3800, .resonance = 0.1,
     .gain = 0.3, .pan = 0.1, .reverbSend = 0.25},
    {.name = "tom", .wave = Wave::Sine, .noiseLevel = 0.15, .noiseDecayMs = 30,
     .pitchDrop = 9, .pitchDecayMs = 160,
     .amp = {0.5, 420, 0, 80}, .cutoffHz = 5000,
     .gain = 0.5, .reverbSend = 0.2},
    {.name = "riser", .noiseLevel = 1.0,
     .amp = {4000, 100, 1, 200}, .filter = FilterMode::Band, .cutoffHz = 300, .resonance = 0.55,
     .envOctaves = 5.2, .sweep = Sweep::Rise,
     .gain = 0.3, .delaySend = 0.2, .reverbSend = 0.4},

    // Tonal voices.
    {.name = "bass", .wave = Wave::Saw, .unison = 2, .detuneCents = 8, .subLevel = 0.8,
     .amp = {2, 300, 0.65, 60}, .cutoffHz = 260, .resonance = 0.3, .keyTrack = 0.5,
     .envOctaves = 2.6, .envMs = 220,
     .gain = 0.36, .ducked = true},
    {.name = "pad", .wave = Wave::Saw, .unison = 7, .detuneCents = 28, .width = 0.9,
     .amp = {160, 1500, 0.75, 700}, .cutoffHz = 1900, .resonance = 0.12, .keyTrack = 0.3,
     .gain = 0.085, .reverbSend = 0.35, .ducked = true},
    {.name = "lead", .wave = Wave::Saw, .unison = 3, .detuneCents = 14, .width = 0.35,
     .vibratoCents = 18, .vibratoHz = 5.4, .vibratoDelayMs = 220,
     .amp = {6, 600, 0.7, 180}, .cutoffHz = 2400, .resonance = 0.22, .keyTrack = 0.5,
     .envOctaves = 1.3, .envMs = 350,
     .gain = 0.3, .delaySend = 0.28, .reverbSend = 0.22},
    {.name = "pluck", .wave = Wave::Square, .unison = 2, .detuneCents = 10, .width = 0.5, .pulseWidth = 0.3,
     .amp = {1, 260, 0, 90}, .cutoffHz = 900, .resonance = 0.35, .keyTrack = 0.4,
     .envOctaves = 2.4, .envMs = 140,
     .gain = 0.17, .pan = -0.25, .delaySend = 0.35, .reverbSend = 0.15, .ducked = true},
    {.name = "bell", .wave = Wave::Sine, .fmRatio = 3.5, .fmIndex = 0.45, .fmDecayMs = 700,
     .amp = {2, 1800, 0, 900}, .cutoffHz = 9000,
     .gain = 0.16, .pan = 0.3, .delaySend = 0.3, .reverbSend = 0.35},
    {.name = "soft lead", .wave = Wave::Triangle, .unison = 2, .detuneCents = 6, .width = 0.3,
     .vibratoCents = 14, .vibratoHz = 4.8, .vibratoDelayMs = 300,
     .amp = {70, 1200, 0.7, 700}, .cutoffHz = 2600,
     .gain = 0.2, .delaySend = 0.3, .reverbSend = 0.45},
    {.name = "soft pad", .wave = Wave::Saw, .unison = 5, .detuneCents = 18, .width = 1.0,
     .amp = {700, 3000, 0.8, 1600}, .cutoffHz = 1100, .resonance = 0.05, .keyTrack = 0.3,
     .gain = 0.05, .reverbSend = 0.5},
    {.name = "soft bass", .wave = Wave::Triangle, .subLevel = 0.6,
     .amp = {60, 2000, 0.7, 900}, .cutoffHz = 600,
     .gain = 0.22},
}};

}  // namespace synth
