// quenrik's soundtrack synthesizer: a pattern score rendered by a small
// software synthesizer (oscillators, envelopes, resonant filters, noise drums,
// delay and reverb) and encoded to MP3 with LAME.
//
// The score is data (score.cpp): a table of sections, each anchored at the
// millisecond where the show's picture changes, with a chord per bar and a list
// of parts (instrument + pattern). Each section's sixteen-step grid is spread
// evenly over its own length, so every phrase starts on its exact frame while
// the tempo stays within about one beat per minute of 166.
//
// Rendering is deterministic: noise comes from seeded generators and all
// signal math is basic IEEE arithmetic (see dsp.h), so the PCM is the same
// bit for bit on every machine.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dsp.h"

namespace synth {

constexpr int TrackMs = 72000;  // the show needs 67000 ms; the rest is the fade-out
constexpr std::int64_t TrackFrames = std::int64_t{TrackMs} * SampleRate / 1000;  // 3,175,200
constexpr int Channels = 2;

// ---- Instruments -----------------------------------------------------------

enum class Instr : int {
  Kick, Snare, ClosedHat, OpenHat, Crash, Tom, Riser,
  Bass, Pad, Lead, Pluck, Bell, SoftLead, SoftPad, SoftBass,
  Count
};
constexpr int InstrumentCount = static_cast<int>(Instr::Count);

enum class Wave { None, Sine, Triangle, Saw, Square, Metal };
// How the filter envelope moves: falls from +envOctaves to 0 with envMs, or
// rises from 0 to +envOctaves over the whole note (risers, build-ups).
enum class Sweep { Decay, Rise };

struct Envelope {
  double attackMs, decayMs, sustain, releaseMs;  // decay and release: time to fall 60 dB
};

struct Instrument {
  const char* name;
  Wave wave = Wave::None;
  int unison = 1;              // detuned copies of the oscillator
  double detuneCents = 0;      // spread of the copies, lowest to highest
  double width = 0;            // stereo spread of the copies, 0 (centre) to 1
  double pulseWidth = 0.5;     // Square only
  double subLevel = 0;         // sine one octave below the note
  double fmRatio = 0;          // Sine only: phase modulator at this frequency ratio
  double fmIndex = 0;          // modulation depth in turns, decaying with fmDecayMs
  double fmDecayMs = 0;
  double noiseLevel = 0;       // white noise mixed before the filter
  double noiseDecayMs = 0;     // its own decay; 0 follows the amplitude envelope
  double pitchDrop = 0;        // semitones above the note at the start (drums)
  double pitchDecayMs = 0;
  double vibratoCents = 0, vibratoHz = 0, vibratoDelayMs = 0;
  Envelope amp{1, 100, 1, 50};
  FilterMode filter = FilterMode::Low;
  double cutoffHz = 20000, resonance = 0;
  double keyTrack = 0;         // cutoff follows the note by this share of an octave per octave
  double envOctaves = 0, envMs = 0;
  Sweep sweep = Sweep::Decay;
  double gain = 1, pan = 0;    // pan -1 left .. +1 right
  double delaySend = 0, reverbSend = 0;
  bool ducked = false;         // dips under each kick (side-chain pumping)
};

extern const std::array<Instrument, InstrumentCount> Instruments;

// ---- Score -----------------------------------------------------------------

// How a hit's value becomes notes.
enum class Voicing {
  Absolute,   // value is a MIDI note (drums: the pitch of the drum)
  ChordTone,  // value indexes the bar's chord tones, wrapping up an octave
  Chord,      // every tone of the bar's chord (value ignored)
  Root,       // value is semitones above the bar's bass root
};

struct Hit {
  int step, length, value, velocity;  // steps are sixteenth notes; velocity in percent
};

struct Pattern {
  int length;  // steps; the pattern repeats over its section
  Voicing voicing;
  std::span<const Hit> hits;
};

struct Chord {
  int root;                   // bass note
  std::array<int, 4> tones;   // voicing for pads and arpeggios
};

struct Part {
  Instr instrument;
  const Pattern* pattern;
  int transpose = 0;
  double level = 1;
  double cutoffFrom = 0, cutoffTo = 0;  // filter offset in octaves, ramped over the section
  int fromStep = 0, toStep = 1 << 20;   // only hits in [fromStep, toStep) play
};

struct Section {
  const char* name;
  int startMs, endMs;  // the grid spans [startMs, endMs)
  int steps;
  std::span<const Chord> chords;  // one per 16 steps; the last one holds
  std::span<const Part> parts;
};

extern const std::span<const Section> Score;

// Frame of a (possibly fractional, possibly past-the-end) step of a section.
std::int64_t StepFrame(const Section& section, double step);
std::int64_t MsFrame(double ms);
// Beats per minute of a section's grid (4 steps a beat).
double SectionBpm(const Section& section);

// ---- Rendering -------------------------------------------------------------

struct NoteEvent {
  std::int64_t startFrame, endFrame;  // note on, note off
  Instr instrument;
  double note;
  double velocity;        // 0..1 after part level
  double cutoffOctaves;   // part's filter offset at this step
  std::uint32_t seed;     // noise and phases of this note
};

// Every note of the score, in score order.
std::vector<NoteEvent> ScoreEvents();

struct StereoMix {
  std::vector<float> left, right;  // TrackFrames each
};

// Renders the score into a float mix, before the master gain. `solo`, when
// not Count, renders only that instrument (for balancing).
StereoMix RenderMix(Instr solo = Instr::Count);

// The finished track: interleaved 16-bit stereo, TrackFrames frames.
std::vector<std::int16_t> RenderTrack();

// ---- Files -----------------------------------------------------------------

constexpr int Mp3BitrateKbps = 192;  // constant bit rate
constexpr int Mp3Quality = 2;        // LAME's algorithm quality: 0 best .. 9 fastest

// What EncodeMp3 makes: the soundtrack's format by default; the tests make
// small files of other rates, channel counts and rates of bits.
struct Mp3Format {
  int rate = SampleRate;
  int channels = Channels;  // 1 or 2
  int kbps = Mp3BitrateKbps;
  int quality = Mp3Quality;
};

// Encodes with LAME and puts the LAME/Xing info frame (encoder delay and
// padding) at the start, so decoders give back exactly the frames passed in.
// Empty result and `error` set on failure.
std::vector<std::uint8_t> EncodeMp3(const std::vector<std::int16_t>& interleaved, std::string& error,
                                    const Mp3Format& format = {});

// 16-bit PCM WAV for inspection.
bool WriteWav(const std::string& path, const std::vector<std::int16_t>& interleaved);
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace synth
