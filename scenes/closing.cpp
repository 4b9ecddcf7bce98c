// The closing sequence: the shaking card of text image 99, the closing page
// with text images 10 and 11, and its fade-out.
#include <random>

#include "gl.h"
#include "image_textures.h"
#include "layers.h"
#include "show_state.h"
#include "text_card.h"

using namespace gl;

namespace {

constexpr double ShakeFloatDivisor = 6.0;   // float radius 1/3, as the text cards
constexpr double PageFloatDivisor = 5.0;    // closing page: float radius 0.4
constexpr double SecondCardDivisor = 3.0;   // text image 11's own float on the page
constexpr double FadeFloatDivisor = 6.0;    // both floats while fading
constexpr float SecondCardX = 13.0f;        // text image 11 sits right of and below image 10
constexpr float SecondCardY = -12.0f;
constexpr double PageLastPhase = 1100.0;    // PhaseA wraps to 1 after 1101 frames
constexpr double FadeStep = 0.007;          // LayerAlpha per frame of the fade
constexpr CardPositionRecord PagePosition{-8.0, 5.0};
constexpr int ShakeSteps = 20;              // offsets -1.0, -0.9, ..., 0.9

// The second card's own float, on top of the first card's matrix.
void PlaceSecondCard(int k, double divisor) {
  glTranslatef(SecondCardX, SecondCardY, 0);
  glTranslatef(static_cast<float>(CircleTable.cx[k] / divisor), static_cast<float>(CircleTable.sy[k] / divisor), 0);
}

// A shake step in [0, ShakeSteps): the generator's 32-bit output scaled by
// multiplying and rejecting (Lemire's method). Spelled out rather than
// std::uniform_int_distribution, whose algorithm each standard library
// chooses for itself: this is the one libstdc++ uses, so every build (Linux,
// Windows, the browser's libc++) draws the same shake from the same seed.
int ShakeStep(std::mt19937& random) {
  constexpr std::uint32_t range = ShakeSteps;
  std::uint64_t product = std::uint64_t{static_cast<std::uint32_t>(random())} * range;
  if (static_cast<std::uint32_t>(product) < range) {
    const std::uint32_t threshold = (0u - range) % range;
    while (static_cast<std::uint32_t>(product) < threshold)
      product = std::uint64_t{static_cast<std::uint32_t>(random())} * range;
  }
  return static_cast<int>(product >> 32);
}

}  // namespace

void ShakeText99() {
  OverlayState& s = Overlay;
  if (s.PhaseB == 1.0) s.PhaseB = s.PhaseA;
  const double j = ShakeStep(s.ShakeRandom) / 10.0 - 1.0;
  const int k = CircleIndex(s.PhaseB);
  // The same offset on both axes: the card jumps along the diagonal.
  PlaceCard(s.CardPosition.X + CircleTable.cx[k] / ShakeFloatDivisor + j,
            s.CardPosition.Y + CircleTable.sy[k] / ShakeFloatDivisor + j);
  DrawCard(Picture::Text99, CardHalfSize, 1.0);
  s.PhaseB += 1;
  s.PhaseA = 1;
}

void ClosingPage() {
  OverlayState& s = Overlay;
  if (s.PhaseA == 1.0) s.CardPosition = PagePosition;
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  const int k = CircleIndex(s.PhaseA);
  PlaceCard(s.CardPosition.X + CircleTable.cx[k] / PageFloatDivisor,
            s.CardPosition.Y + CircleTable.sy[k] / PageFloatDivisor);
  DrawCard(Picture::Text10, SmallCardHalfSize, 1.0);
  PlaceSecondCard(k, SecondCardDivisor);
  DrawCard(Picture::Text11, SmallCardHalfSize, 1.0);
  if (s.PhaseA <= PageLastPhase)
    s.PhaseA += 1;
  else
    s.PhaseA = 1;
  s.PhaseB = 1;
}

void ClosingFade() {
  OverlayState& s = Overlay;
  double& alpha = Background.LayerAlpha;
  // First frame: image 10 keeps the page's phase in PhaseB, image 11's own
  // float restarts in PhaseA, and the fade starts from full brightness.
  if (s.PhaseB == 1.0) {
    s.PhaseB = s.PhaseA;
    s.PhaseA = 1;
    alpha = 1.0;
  }
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  const int kB = CircleIndex(s.PhaseB);
  PlaceCard(s.CardPosition.X + CircleTable.cx[kB] / FadeFloatDivisor,
            s.CardPosition.Y + CircleTable.sy[kB] / FadeFloatDivisor);
  DrawCard(Picture::Text10, SmallCardHalfSize, alpha);
  PlaceSecondCard(CircleIndex(s.PhaseA), FadeFloatDivisor);
  DrawCard(Picture::Text11, SmallCardHalfSize, alpha);
  s.PhaseB += 1;
  // Stops at the first value at or below 0 (slightly negative).
  if (alpha > 0) alpha -= FadeStep;
  s.PhaseA += 1;
}
