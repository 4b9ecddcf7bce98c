// The score of "Run Away": A minor, about 166 beats per minute, sixteen-step
// bars, four bars a phrase. Each section starts at the millisecond where the
// show changes its picture, so the crashes and fills land on the cards leaving.
//
//   0      intro      pads and arpeggio opening up, hats, a riser into the first crash
//   5761   groove     kick, bass and arpeggio
//   11531  verse      full drums, the lead's first motif
//   17301  climb      Dm Em F G, the lead climbs, snares build, and everything stops on G
//   22731  break      the stop echoes out under a riser, a snare pickup
//   23921  chorus     the theme, first half
//   29701  chorus     the theme, second half
//   35481  bridge     half-time drums, long lead notes over F G Em Am
//   41251  chorus     the theme with a bell an octave above
//   47011  chorus     second half with the bell
//   52801  finale     the theme's peak
//   56841  build      snare roll, riser and pedal bass on E while the last card shakes
//   57741  hit        the last A minor chord rings out
//   59001  closing    soft pads, bells and a slow melody; the track fades from 66 s
#include "synth.h"

namespace synth {
namespace {

// MIDI note names used below.
enum : int {
  G4 = 67, A4 = 69, B4 = 71, C5 = 72, D5 = 74, E5 = 76, F5 = 77, G5 = 79, A5 = 81, B5 = 83,
};
constexpr int KickNote = 31;  // the kick falls to G1, about 49 Hz
constexpr int TomHigh = 50, TomMid = 45, TomLow = 40;
constexpr int DrumNote = 60;  // pitch of the noise drums (cymbal cluster at its base tuning)

// ---- Chords -----------------------------------------------------------------

constexpr Chord Am{45, {52, 57, 60, 64}};
constexpr Chord F{41, {53, 57, 60, 65}};
constexpr Chord C{48, {52, 55, 60, 64}};
constexpr Chord G{43, {50, 55, 59, 62}};
constexpr Chord Dm{38, {50, 53, 57, 62}};
constexpr Chord Em{40, {52, 55, 59, 64}};
constexpr Chord E{40, {52, 56, 59, 64}};
constexpr Chord Fmaj7{41, {53, 57, 60, 64}};
constexpr Chord Em7{40, {50, 55, 59, 64}};
constexpr Chord Amadd9{45, {57, 60, 64, 71}};

constexpr Chord MainChords[] = {Am, F, C, G};
constexpr Chord ClimbChords[] = {Dm, Em, F, G};
constexpr Chord BreakChords[] = {G};
constexpr Chord BridgeChords[] = {F, G, Em, Am};
constexpr Chord FinaleChords[] = {Am, F, G};
constexpr Chord BuildChords[] = {E};
constexpr Chord HitChords[] = {Am};
constexpr Chord ClosingChords[] = {Fmaj7, G, Em7, Am, Fmaj7, G, Amadd9, Amadd9};

// ---- Drum patterns ------------------------------------------------------------

constexpr Hit KickFourHits[] = {{0, 1, KickNote, 100}, {4, 1, KickNote, 95}, {8, 1, KickNote, 98}, {12, 1, KickNote, 95}};
constexpr Pattern KickFour{16, Voicing::Absolute, KickFourHits};
constexpr Hit KickHalfHits[] = {{0, 1, KickNote, 100}, {10, 1, KickNote, 85}};
constexpr Pattern KickHalf{16, Voicing::Absolute, KickHalfHits};
constexpr Hit KickOnceHits[] = {{0, 1, KickNote, 100}};
constexpr Pattern KickOnce{64, Voicing::Absolute, KickOnceHits};
constexpr Hit KickBuildHits[] = {{0, 1, KickNote, 80}, {2, 1, KickNote, 84}, {4, 1, KickNote, 88},
                                 {6, 1, KickNote, 92}, {8, 1, KickNote, 96}, {9, 1, KickNote, 100}};
constexpr Pattern KickBuild{16, Voicing::Absolute, KickBuildHits};

constexpr Hit SnareBackbeatHits[] = {{4, 1, DrumNote, 100}, {12, 1, DrumNote, 100}};
constexpr Pattern SnareBackbeat{16, Voicing::Absolute, SnareBackbeatHits};
constexpr Hit SnareHalfHits[] = {{8, 1, DrumNote, 100}};
constexpr Pattern SnareHalf{16, Voicing::Absolute, SnareHalfHits};
// Eighths then sixteenths into the stop of the climb (last bar, 12 steps).
constexpr Hit SnareClimbHits[] = {{48, 1, DrumNote, 45}, {50, 1, DrumNote, 55}, {52, 1, DrumNote, 65},
                                  {54, 1, DrumNote, 72}, {56, 1, DrumNote, 80}, {57, 1, DrumNote, 86},
                                  {58, 1, DrumNote, 92}, {59, 1, DrumNote, 100}};
constexpr Pattern SnareClimb{64, Voicing::Absolute, SnareClimbHits};
// Fills in the last half bar of a phrase, leading into the next card's crash.
constexpr Hit SnareFillHits[] = {{56, 1, DrumNote, 50}, {57, 1, DrumNote, 45}, {58, 1, DrumNote, 60},
                                 {59, 1, DrumNote, 55}, {60, 1, DrumNote, 72}, {61, 1, DrumNote, 80},
                                 {62, 1, DrumNote, 90}, {63, 1, DrumNote, 100}};
constexpr Pattern SnareFill{64, Voicing::Absolute, SnareFillHits};
constexpr Hit TomFillHits[] = {{56, 2, TomHigh, 90}, {58, 2, TomHigh, 80}, {60, 1, TomMid, 90},
                               {61, 1, TomMid, 85}, {62, 1, TomLow, 95}, {63, 1, TomLow, 100}};
constexpr Pattern TomFill{64, Voicing::Absolute, TomFillHits};
// The pickup at the end of the break (13 steps).
constexpr Hit SnarePickupHits[] = {{8, 1, DrumNote, 50}, {9, 1, DrumNote, 60}, {10, 1, DrumNote, 72},
                                   {11, 1, DrumNote, 86}, {12, 1, DrumNote, 100}};
constexpr Pattern SnarePickup{16, Voicing::Absolute, SnarePickupHits};
constexpr Hit TomPickupHits[] = {{10, 1, TomHigh, 80}, {11, 1, TomMid, 90}, {12, 1, TomLow, 100}};
constexpr Pattern TomPickup{16, Voicing::Absolute, TomPickupHits};
// Sixteenth roll through the build (10 steps), rising.
constexpr Hit SnareRollHits[] = {{0, 1, DrumNote, 35}, {1, 1, DrumNote, 42}, {2, 1, DrumNote, 49},
                                 {3, 1, DrumNote, 56}, {4, 1, DrumNote, 63}, {5, 1, DrumNote, 70},
                                 {6, 1, DrumNote, 77}, {7, 1, DrumNote, 84}, {8, 1, DrumNote, 92},
                                 {9, 1, DrumNote, 100}};
constexpr Pattern SnareRoll{16, Voicing::Absolute, SnareRollHits};

constexpr Hit HatsEighthHits[] = {{2, 1, DrumNote, 90}, {6, 1, DrumNote, 80}, {10, 1, DrumNote, 90}, {14, 1, DrumNote, 80}};
constexpr Pattern HatsEighth{16, Voicing::Absolute, HatsEighthHits};
constexpr Hit HatsSixteenthHits[] = {
    {0, 1, DrumNote, 55}, {1, 1, DrumNote, 35}, {2, 1, DrumNote, 85}, {3, 1, DrumNote, 40},
    {4, 1, DrumNote, 55}, {5, 1, DrumNote, 35}, {6, 1, DrumNote, 85}, {7, 1, DrumNote, 45},
    {8, 1, DrumNote, 55}, {9, 1, DrumNote, 35}, {10, 1, DrumNote, 85}, {11, 1, DrumNote, 40},
    {12, 1, DrumNote, 55}, {13, 1, DrumNote, 35}, {14, 1, DrumNote, 85}, {15, 1, DrumNote, 50}};
constexpr Pattern HatsSixteenth{16, Voicing::Absolute, HatsSixteenthHits};
constexpr Hit OpenOffbeatHits[] = {{2, 2, DrumNote, 80}, {6, 2, DrumNote, 70}, {10, 2, DrumNote, 80}, {14, 2, DrumNote, 75}};
constexpr Pattern OpenOffbeat{16, Voicing::Absolute, OpenOffbeatHits};

constexpr Hit CrashHits[] = {{0, 8, DrumNote, 100}};
constexpr Pattern CrashOnce{64, Voicing::Absolute, CrashHits};

// Risers: noise whose band sweeps up over the note.
constexpr Hit RiserLastBarHits[] = {{48, 16, DrumNote, 100}};
constexpr Pattern RiserLastBar{64, Voicing::Absolute, RiserLastBarHits};
constexpr Hit RiserBreakHits[] = {{5, 8, DrumNote, 100}};
constexpr Pattern RiserBreak{16, Voicing::Absolute, RiserBreakHits};
constexpr Hit RiserBuildHits[] = {{0, 10, DrumNote, 110}};
constexpr Pattern RiserBuild{16, Voicing::Absolute, RiserBuildHits};

// ---- Bass -------------------------------------------------------------------

constexpr Hit BassOffbeatHits[] = {{2, 2, 0, 95}, {6, 2, 0, 88}, {10, 2, 0, 95}, {14, 2, 0, 88}};
constexpr Pattern BassOffbeat{16, Voicing::Root, BassOffbeatHits};
// Offbeat with sixteenth pushes and octave/fifth jumps.
constexpr Hit BassDriveHits[] = {{2, 1, 0, 95}, {3, 1, 0, 70}, {6, 1, 0, 95}, {7, 1, 12, 75},
                                 {10, 1, 0, 95}, {11, 1, 0, 70}, {14, 1, 0, 95}, {15, 1, 7, 78}};
constexpr Pattern BassDrive{16, Voicing::Root, BassDriveHits};
constexpr Hit BassLongHits[] = {{0, 16, 0, 90}};
constexpr Pattern BassLong{16, Voicing::Root, BassLongHits};
constexpr Hit BassStabHits[] = {{0, 2, 0, 100}};
constexpr Pattern BassStab{16, Voicing::Root, BassStabHits};
constexpr Hit BassPedalHits[] = {{0, 1, 0, 60}, {1, 1, 0, 64}, {2, 1, 0, 68}, {3, 1, 0, 72}, {4, 1, 0, 76},
                                 {5, 1, 0, 80}, {6, 1, 0, 85}, {7, 1, 0, 90}, {8, 1, 0, 95}, {9, 1, 0, 100}};
constexpr Pattern BassPedal{16, Voicing::Root, BassPedalHits};

// ---- Chords on pads -----------------------------------------------------------

constexpr Hit PadBarHits[] = {{0, 16, 0, 100}};
constexpr Pattern PadBar{16, Voicing::Chord, PadBarHits};
constexpr Hit PadStabHits[] = {{0, 2, 0, 100}};
constexpr Pattern PadStab{16, Voicing::Chord, PadStabHits};
constexpr Hit PadBuildHits[] = {{0, 10, 0, 100}};
constexpr Pattern PadBuild{16, Voicing::Chord, PadBuildHits};
constexpr Hit PadHitHits[] = {{0, 12, 0, 100}};
constexpr Pattern PadHit{16, Voicing::Chord, PadHitHits};
// The closing: a chord a bar, the last one held for two bars.
constexpr Hit PadClosingHits[] = {{0, 16, 0, 100}, {16, 16, 0, 100}, {32, 16, 0, 100}, {48, 16, 0, 100},
                                  {64, 16, 0, 100}, {80, 16, 0, 100}, {96, 32, 0, 100}};
constexpr Pattern PadClosing{128, Voicing::Chord, PadClosingHits};
constexpr Hit BassClosingHits[] = {{0, 16, 0, 90}, {16, 16, 0, 90}, {32, 16, 0, 90}, {48, 16, 0, 90},
                                   {64, 16, 0, 90}, {80, 16, 0, 90}, {96, 32, 0, 90}};
constexpr Pattern BassClosing{128, Voicing::Root, BassClosingHits};

// ---- Arpeggios (chord-tone indices; 4 and up are an octave higher) -------------

constexpr Hit ArpRunHits[] = {
    {0, 1, 0, 100}, {1, 1, 1, 70}, {2, 1, 2, 80}, {3, 1, 3, 70},
    {4, 1, 5, 95}, {5, 1, 3, 70}, {6, 1, 2, 80}, {7, 1, 1, 70},
    {8, 1, 0, 100}, {9, 1, 1, 70}, {10, 1, 2, 80}, {11, 1, 3, 70},
    {12, 1, 5, 95}, {13, 1, 6, 75}, {14, 1, 5, 80}, {15, 1, 3, 70}};
constexpr Pattern ArpRun{16, Voicing::ChordTone, ArpRunHits};
constexpr Hit ArpEighthHits[] = {{0, 2, 0, 100}, {2, 2, 1, 80}, {4, 2, 2, 90}, {6, 2, 3, 80},
                                 {8, 2, 5, 95}, {10, 2, 3, 80}, {12, 2, 2, 90}, {14, 2, 1, 80}};
constexpr Pattern ArpEighth{16, Voicing::ChordTone, ArpEighthHits};
constexpr Hit ArpFallHits[] = {{0, 1, 9, 100}, {1, 1, 7, 92}, {2, 1, 6, 85}, {3, 1, 5, 78}, {4, 1, 3, 71},
                               {5, 1, 2, 64}, {6, 1, 1, 57}, {7, 1, 0, 50}, {8, 2, 1, 42}, {10, 4, 0, 36}};
constexpr Pattern ArpFall{16, Voicing::ChordTone, ArpFallHits};

// ---- Melodies (absolute notes) ------------------------------------------------

// The verse motif: up the chord and back.
constexpr Hit VerseHits[] = {
    {0, 3, A4, 95}, {3, 3, C5, 80}, {6, 2, E5, 85}, {8, 4, D5, 90}, {12, 4, C5, 80},
    {16, 3, A4, 95}, {19, 3, C5, 80}, {22, 2, F5, 85}, {24, 4, E5, 90}, {28, 4, C5, 80},
    {32, 3, G4, 95}, {35, 3, C5, 80}, {38, 2, E5, 85}, {40, 4, G5, 90}, {44, 4, E5, 80},
    {48, 6, D5, 95}, {54, 2, B4, 80}, {56, 8, G4, 85}};
constexpr Pattern Verse{64, Voicing::Absolute, VerseHits};
// The climb over Dm Em F G: each bar a step higher, ending on a high B as everything stops.
constexpr Hit ClimbHits[] = {
    {0, 4, F5, 95}, {4, 2, E5, 80}, {6, 2, D5, 80}, {8, 4, A4, 90}, {12, 4, D5, 85},
    {16, 4, G5, 95}, {20, 2, E5, 80}, {22, 2, D5, 80}, {24, 4, B4, 90}, {28, 4, E5, 85},
    {32, 4, A5, 95}, {36, 2, G5, 80}, {38, 2, F5, 80}, {40, 4, C5, 90}, {44, 4, F5, 85},
    {48, 4, G5, 90}, {52, 4, A5, 95}, {56, 4, B5, 100}};
constexpr Pattern Climb{64, Voicing::Absolute, ClimbHits};
constexpr Hit BreakCallHits[] = {{0, 2, B5, 100}};
constexpr Pattern BreakCall{16, Voicing::Absolute, BreakCallHits};
// The theme, in two halves of four bars (3-3-2 rhythm).
constexpr Hit ThemeAHits[] = {
    {0, 6, E5, 100}, {6, 2, D5, 85}, {8, 4, C5, 90}, {12, 2, D5, 85}, {14, 2, E5, 85},
    {16, 6, F5, 100}, {22, 2, E5, 85}, {24, 4, C5, 90}, {28, 4, A4, 85},
    {32, 6, G5, 100}, {38, 2, F5, 85}, {40, 4, E5, 90}, {44, 2, C5, 85}, {46, 2, D5, 85},
    {48, 6, D5, 100}, {54, 2, E5, 85}, {56, 4, D5, 90}, {60, 4, B4, 85}};
constexpr Pattern ThemeA{64, Voicing::Absolute, ThemeAHits};
constexpr Hit ThemeBHits[] = {
    {0, 6, E5, 100}, {6, 2, A5, 90}, {8, 4, G5, 90}, {12, 4, E5, 85},
    {16, 6, F5, 100}, {22, 2, E5, 85}, {24, 2, F5, 85}, {26, 2, G5, 88}, {28, 4, A5, 92},
    {32, 6, G5, 100}, {38, 2, E5, 85}, {40, 4, C5, 90}, {44, 2, E5, 85}, {46, 2, G5, 88},
    {48, 4, D5, 95}, {52, 4, B4, 85}, {56, 2, D5, 88}, {58, 6, E5, 92}};
constexpr Pattern ThemeB{64, Voicing::Absolute, ThemeBHits};
// Long notes over the bridge, and a run up into the next chorus.
constexpr Hit BridgeHits[] = {
    {0, 12, A5, 95}, {12, 2, G5, 80}, {14, 2, F5, 80},
    {16, 8, G5, 95}, {24, 8, D5, 85},
    {32, 12, E5, 95}, {44, 2, D5, 80}, {46, 2, E5, 80},
    {48, 8, C5, 90}, {56, 2, A4, 75}, {58, 2, B4, 80}, {60, 2, C5, 85}, {62, 2, D5, 92}};
constexpr Pattern Bridge{64, Voicing::Absolute, BridgeHits};
// The peak: the theme from high A, then up the G chord into the build.
constexpr Hit FinaleHits[] = {
    {0, 6, A5, 100}, {6, 2, G5, 88}, {8, 4, E5, 90}, {12, 2, C5, 85}, {14, 2, D5, 85},
    {16, 6, F5, 100}, {22, 2, E5, 85}, {24, 4, C5, 90}, {28, 2, A4, 85}, {30, 2, C5, 85},
    {32, 4, D5, 92}, {36, 4, G5, 95}, {40, 4, B5, 100}};
constexpr Pattern Finale{64, Voicing::Absolute, FinaleHits};
constexpr Hit BuildHoldHits[] = {{0, 10, B5, 90}};
constexpr Pattern BuildHold{16, Voicing::Absolute, BuildHoldHits};
constexpr Hit LastNoteHits[] = {{0, 12, A5, 100}};
constexpr Pattern LastNote{16, Voicing::Absolute, LastNoteHits};
constexpr Hit ClosingHits[] = {
    {0, 8, C5, 90}, {8, 8, A4, 80},
    {16, 8, B4, 85}, {24, 8, D5, 80},
    {32, 12, E5, 90}, {44, 4, D5, 75},
    {48, 16, C5, 85},
    {64, 8, A4, 85}, {72, 8, C5, 80},
    {80, 8, D5, 85}, {88, 4, B4, 75}, {92, 4, G4, 75},
    {96, 32, A4, 85}};
constexpr Pattern Closing{128, Voicing::Absolute, ClosingHits};

// ---- Sections -------------------------------------------------------------------

constexpr int Octave = 12;

constexpr Part IntroParts[] = {
    {.instrument = Instr::Pad, .pattern = &PadBar, .level = 0.8, .cutoffFrom = -2.5, .cutoffTo = -0.3},
    {.instrument = Instr::SoftBass, .pattern = &BassLong, .level = 0.6},
    {.instrument = Instr::Pluck, .pattern = &ArpRun, .transpose = Octave, .level = 0.7, .cutoffFrom = -1.8, .cutoffTo = 0.2},
    {.instrument = Instr::ClosedHat, .pattern = &HatsSixteenth, .level = 0.7, .fromStep = 32},
    {.instrument = Instr::Riser, .pattern = &RiserLastBar},
};
constexpr Part GrooveParts[] = {
    {.instrument = Instr::Crash, .pattern = &CrashOnce},
    {.instrument = Instr::Kick, .pattern = &KickFour},
    {.instrument = Instr::OpenHat, .pattern = &OpenOffbeat, .level = 0.8},
    {.instrument = Instr::ClosedHat, .pattern = &HatsSixteenth, .level = 0.7},
    {.instrument = Instr::Bass, .pattern = &BassOffbeat},
    {.instrument = Instr::Pad, .pattern = &PadBar},
    {.instrument = Instr::Pluck, .pattern = &ArpRun, .transpose = Octave, .cutoffFrom = 0.2, .cutoffTo = 0.8},
    {.instrument = Instr::Snare, .pattern = &SnareFill, .level = 0.9},
};
constexpr Part VerseParts[] = {
    {.instrument = Instr::Crash, .pattern = &CrashOnce},
    {.instrument = Instr::Kick, .pattern = &KickFour},
    {.instrument = Instr::Snare, .pattern = &SnareBackbeat, .toStep = 56},
    {.instrument = Instr::OpenHat, .pattern = &OpenOffbeat, .level = 0.8},
    {.instrument = Instr::ClosedHat, .pattern = &HatsSixteenth},
    {.instrument = Instr::Bass, .pattern = &BassDrive},
    {.instrument = Instr::Pad, .pattern = &PadBar},
    {.instrument = Instr::Pluck, .pattern = &ArpRun, .transpose = Octave, .level = 0.85, .cutoffFrom = 0.5, .cutoffTo = 0.5},
    {.instrument = Instr::Lead, .pattern = &Verse, .level = 0.9},
    {.instrument = Instr::Tom, .pattern = &TomFill},
};
constexpr Part ClimbParts[] = {
    {.instrument = Instr::Crash, .pattern = &CrashOnce},
    {.instrument = Instr::Kick, .pattern = &KickFour},
    {.instrument = Instr::Snare, .pattern = &SnareBackbeat, .toStep = 48},
    {.instrument = Instr::Snare, .pattern = &SnareClimb},
    {.instrument = Instr::OpenHat, .pattern = &OpenOffbeat, .level = 0.8},
    {.instrument = Instr::ClosedHat, .pattern = &HatsSixteenth},
    {.instrument = Instr::Bass, .pattern = &BassDrive},
    {.instrument = Instr::Pad, .pattern = &PadBar, .cutoffFrom = 0, .cutoffTo = 0.8},
    {.instrument = Instr::Pluck, .pattern = &ArpRun, .transpose = Octave, .level = 0.85, .cutoffFrom = 0.5, .cutoffTo = 1.2},
    {.instrument = Instr::Lead, .pattern = &Climb},
};
constexpr Part BreakParts[] = {
    {.instrument = Instr::Kick, .pattern = &KickOnce},
    {.instrument = Instr::Bass, .pattern = &BassStab},
    {.instrument = Instr::Pad, .pattern = &PadStab, .cutoffFrom = 0.8, .cutoffTo = 0.8},
    {.instrument = Instr::Lead, .pattern = &BreakCall},
    {.instrument = Instr::Riser, .pattern = &RiserBreak, .level = 0.9},
    {.instrument = Instr::Snare, .pattern = &SnarePickup},
    {.instrument = Instr::Tom, .pattern = &TomPickup, .level = 0.8},
};
constexpr Part ChorusAParts[] = {
    {.instrument = Instr::Crash, .pattern = &CrashOnce},
    {.instrument = Instr::Kick, .pattern = &KickFour},
    {.instrument = Instr::Snare, .pattern = &SnareBackbeat, .toStep = 56},
    {.instrument = Instr::OpenHat, .pattern = &OpenOffbeat},
    {.instrument = Instr::ClosedHat, .pattern = &HatsSixteenth},
    {.instrument = Instr::Bass, .pattern = &BassDrive},
    {.instrument = Instr::Pad, .pattern = &PadBar, .cutoffFrom = 0.6, .cutoffTo = 0.6},
    {.instrument = Instr::Pluck, .pattern = &ArpRun, .transpose = Octave, .level = 0.8, .cutoffFrom = 0.8, .cutoffTo = 0.8},
    {.instrument = Instr::Lead, .pattern = &ThemeA},
    {.instrument = Instr::Snare, .pattern = &SnareFill, .level = 0.9},
};
constexpr Part ChorusBParts[] = {
    {.instrument = Instr::Crash, .pattern = &CrashOnce},
    {.instrument = Instr::Kick, .pattern = &KickFour},
    {.instrument = Instr::Snare, .pattern = &SnareBackbeat, .toStep = 56},
    {.instrument = Instr::OpenHat, .pattern = &OpenOffbeat},
    {.instrument = Instr::ClosedHat, .pattern = &HatsSixteenth},
    {.instrument = Instr::Bass, .pattern = &BassDrive},
    {.instrument = Instr::Pad, .pattern = &PadBar, .cutoffFrom = 0.6, .cutoffTo = 0.6},
    {.instrument = Instr::Pluck, .pattern = &ArpRun, .transpose = Octave, .level = 0.8, .cutoffFrom = 0.8, .cutoffTo = 0.8},
    {.instrument = Instr::Lead, .pattern = &ThemeB},
    {.instrument = Instr::Tom, .pattern = &TomFill},
};
constexpr Part BridgeParts[] = {
    {.instrument = Instr::Crash, .pattern = &CrashOnce, .level = 0.8},
    {.instrument = Instr::Kick, .pattern = &KickHalf},
    {.instrument = Instr::Snare, .pattern = &SnareHalf, .level = 0.9, .toStep = 56},
    {.instrument = Instr::ClosedHat, .pattern = &HatsEighth, .level = 0.8},
    {.instrument = Instr::Bass, .pattern = &BassOffbeat, .level = 0.85},
    {.instrument = Instr::Pad, .pattern = &PadBar, .level = 1.1, .cutoffFrom = 0.3, .cutoffTo = 0.9},
    {.instrument = Instr::Bell, .pattern = &ArpEighth, .transpose = Octave, .level = 0.8},
    {.instrument = Instr::Lead, .pattern = &Bridge, .level = 0.9},
    {.instrument = Instr::Snare, .pattern = &SnareFill},
};
constexpr Part ChorusCParts[] = {
    {.instrument = Instr::Crash, .pattern = &CrashOnce},
    {.instrument = Instr::Kick, .pattern = &KickFour},
    {.instrument = Instr::Snare, .pattern = &SnareBackbeat, .toStep = 56},
    {.instrument = Instr::OpenHat, .pattern = &OpenOffbeat},
    {.instrument = Instr::ClosedHat, .pattern = &HatsSixteenth},
    {.instrument = Instr::Bass, .pattern = &BassDrive},
    {.instrument = Instr::Pad, .pattern = &PadBar, .cutoffFrom = 0.8, .cutoffTo = 0.8},
    {.instrument = Instr::Pluck, .pattern = &ArpRun, .transpose = Octave, .level = 0.8, .cutoffFrom = 1, .cutoffTo = 1},
    {.instrument = Instr::Lead, .pattern = &ThemeA},
    {.instrument = Instr::Bell, .pattern = &ThemeA, .transpose = Octave, .level = 0.55},
    {.instrument = Instr::Snare, .pattern = &SnareFill, .level = 0.9},
};
constexpr Part ChorusDParts[] = {
    {.instrument = Instr::Crash, .pattern = &CrashOnce},
    {.instrument = Instr::Kick, .pattern = &KickFour},
    {.instrument = Instr::Snare, .pattern = &SnareBackbeat, .toStep = 56},
    {.instrument = Instr::OpenHat, .pattern = &OpenOffbeat},
    {.instrument = Instr::ClosedHat, .pattern = &HatsSixteenth},
    {.instrument = Instr::Bass, .pattern = &BassDrive},
    {.instrument = Instr::Pad, .pattern = &PadBar, .cutoffFrom = 0.8, .cutoffTo = 1.1},
    {.instrument = Instr::Pluck, .pattern = &ArpRun, .transpose = Octave, .level = 0.8, .cutoffFrom = 1, .cutoffTo = 1.4},
    {.instrument = Instr::Lead, .pattern = &ThemeB},
    {.instrument = Instr::Bell, .pattern = &ThemeB, .transpose = Octave, .level = 0.55},
    {.instrument = Instr::Tom, .pattern = &TomFill},
};
constexpr Part FinaleParts[] = {
    {.instrument = Instr::Crash, .pattern = &CrashOnce},
    {.instrument = Instr::Kick, .pattern = &KickFour},
    {.instrument = Instr::Snare, .pattern = &SnareBackbeat},
    {.instrument = Instr::OpenHat, .pattern = &OpenOffbeat},
    {.instrument = Instr::ClosedHat, .pattern = &HatsSixteenth},
    {.instrument = Instr::Bass, .pattern = &BassDrive},
    {.instrument = Instr::Pad, .pattern = &PadBar, .cutoffFrom = 1.1, .cutoffTo = 1.1},
    {.instrument = Instr::Pluck, .pattern = &ArpRun, .transpose = Octave, .level = 0.8, .cutoffFrom = 1.4, .cutoffTo = 1.4},
    {.instrument = Instr::Lead, .pattern = &Finale},
    {.instrument = Instr::Bell, .pattern = &Finale, .transpose = Octave, .level = 0.55},
};
constexpr Part BuildParts[] = {
    {.instrument = Instr::Kick, .pattern = &KickBuild},
    {.instrument = Instr::Snare, .pattern = &SnareRoll},
    {.instrument = Instr::ClosedHat, .pattern = &HatsSixteenth, .level = 1.1},
    {.instrument = Instr::Bass, .pattern = &BassPedal, .cutoffFrom = 0, .cutoffTo = 1.2},
    {.instrument = Instr::Pad, .pattern = &PadBuild, .cutoffFrom = 0.4, .cutoffTo = 1.8},
    {.instrument = Instr::Lead, .pattern = &BuildHold, .cutoffFrom = -0.5, .cutoffTo = 1},
    {.instrument = Instr::Riser, .pattern = &RiserBuild},
};
constexpr Part HitParts[] = {
    {.instrument = Instr::Crash, .pattern = &CrashOnce, .level = 1.1},
    {.instrument = Instr::Kick, .pattern = &KickOnce},
    {.instrument = Instr::Bass, .pattern = &BassStab},
    {.instrument = Instr::Pad, .pattern = &PadHit, .cutoffFrom = 1.2, .cutoffTo = 1.2},
    {.instrument = Instr::Lead, .pattern = &LastNote},
    {.instrument = Instr::Pluck, .pattern = &ArpFall, .transpose = Octave, .cutoffFrom = 1, .cutoffTo = 0},
};
constexpr Part ClosingParts[] = {
    {.instrument = Instr::SoftPad, .pattern = &PadClosing},
    {.instrument = Instr::SoftBass, .pattern = &BassClosing, .level = 0.8},
    {.instrument = Instr::Bell, .pattern = &ArpEighth, .transpose = Octave, .level = 0.55},
    {.instrument = Instr::SoftLead, .pattern = &Closing},
};

constexpr Section Sections[] = {
    {"intro", 0, 5761, 64, MainChords, IntroParts},
    {"groove", 5761, 11531, 64, MainChords, GrooveParts},
    {"verse", 11531, 17301, 64, MainChords, VerseParts},
    {"climb", 17301, 22731, 60, ClimbChords, ClimbParts},
    {"break", 22731, 23921, 13, BreakChords, BreakParts},
    {"chorus 1", 23921, 29701, 64, MainChords, ChorusAParts},
    {"chorus 2", 29701, 35481, 64, MainChords, ChorusBParts},
    {"bridge", 35481, 41251, 64, BridgeChords, BridgeParts},
    {"chorus 3", 41251, 47011, 64, MainChords, ChorusCParts},
    {"chorus 4", 47011, 52801, 64, MainChords, ChorusDParts},
    {"finale", 52801, 56841, 44, FinaleChords, FinaleParts},
    {"build", 56841, 57741, 10, BuildChords, BuildParts},
    {"hit", 57741, 59001, 14, HitChords, HitParts},
    {"closing", 59001, 70550, 128, ClosingChords, ClosingParts},
};

}  // namespace

const std::span<const Section> Score = Sections;

}  // namespace synth
