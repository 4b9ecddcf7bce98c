// State shared by the show's layers, set up once at start-up and alive for
// the whole run. One record per group of layers.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <vector>

// Two tables of 1280 doubles, indexed from 1 (entry 0 is unused):
// cx[i] = 2 cos((i - 1) 0.005), sy[i] = 2 sin((i - 1) 0.005).
constexpr int CircleTableSize = 1280;
struct CircleTableRecord {
  std::array<double, CircleTableSize + 1> cx{};
  std::array<double, CircleTableSize + 1> sy{};
};
extern CircleTableRecord CircleTable;
// Angle accumulated in double precision, 0.005 radian per entry.
void FillCircleTable();

// The logo stack's animation state (background layers B1 ... B13).
struct BackgroundState {
  std::int32_t TumbleAngle = 0;  // degrees, +5 per frame, never wrapped
  double SpinAngle = 0.0;        // degrees, +0.2 per frame
  double AxisX = 0.2;
  double AxisY = 0.0;
  double AxisZ = 0.8;            // never reset
  std::int32_t OrbitStep = 1;    // CircleTable index 1 ... 360
  double LayerAlpha = 0.0;       // alpha of the stack; the closing fade lowers it
  std::int32_t FadeRate = 2;     // fade-in step is FadeRate * 0.001 per frame
  double Spread = 0.0;           // burst depth offset; long layers hold it at 1
};
extern BackgroundState Background;

// The text cards' shared state (overlay and closing layers).
struct CardPositionRecord {
  double X = -10.0;
  double Y = -25.0;
};
struct OverlayState {
  CardPositionRecord CardPosition;
  double PhaseA = 1.0;  // frame counter of entering layers; 1 marks a first frame
  double PhaseB = 1.0;  // frame counter of leaving layers
  std::mt19937 ShakeRandom;  // the shake's generator, seeded once at start-up
};
extern OverlayState Overlay;

// Seed the shake's generator (from the clock in the show, fixed in captures).
void SeedShakeRandom(std::uint32_t seed);
// Start values of the overlay state before the first frame:
// PhaseA = PhaseB = 1, CardPosition = (-10, -25).
void ResetOverlayState();
