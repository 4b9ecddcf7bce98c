#include "show_state.h"

#include <cmath>

CircleTableRecord CircleTable;
BackgroundState Background;
OverlayState Overlay;

void FillCircleTable() {
  double angle = 0.0;
  for (int i = 1; i <= CircleTableSize; ++i) {
    CircleTable.cx[i] = 2.0 * std::cos(angle);
    CircleTable.sy[i] = 2.0 * std::sin(angle);
    angle += 0.005;
  }
}

void SeedShakeRandom(std::uint32_t seed) { Overlay.ShakeRandom.seed(seed); }

void ResetOverlayState() {
  Overlay.PhaseA = 1.0;
  Overlay.PhaseB = 1.0;
  Overlay.CardPosition = {-10.0, -25.0};
}
