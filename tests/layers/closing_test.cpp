// The closing sequence: shake, closing page and fade.
#include <gtest/gtest.h>

#include <set>

#include "gl.h"
#include "layer_test_support.h"
#include "layers.h"

namespace {

constexpr double Texture2D = gl::GL_TEXTURE_2D;

double Cx(int k) { return CircleTable.cx[k]; }
double Sy(int k) { return CircleTable.sy[k]; }

std::vector<std::string> SmallCard(unsigned texture, double alpha) {
  return {
      Line("glEnable", {Texture2D}),
      Line("glBindTexture", {Texture2D, double(texture)}),
      Line("glColor4f", {1, 1, 1, F(alpha)}),
      Line("glBegin", {gl::GL_QUADS}),
      Line("glNormal3f", {0, 0, 1}),
      Line("glTexCoord2f", {0, 1}),
      Line("glVertex3f", {-7, -7, 1}),
      Line("glTexCoord2f", {1, 1}),
      Line("glVertex3f", {7, -7, 1}),
      Line("glTexCoord2f", {1, 0}),
      Line("glVertex3f", {7, 7, 1}),
      Line("glTexCoord2f", {0, 0}),
      Line("glVertex3f", {-7, 7, 1}),
      Line("glEnd"),
      Line("glDisable", {Texture2D}),
  };
}

// Both cards of the page: image 10 at (x1, y1), then image 11 shifted by
// (13, -12) and its own float (fx, fy).
std::vector<std::string> PageCalls(double x1, double y1, double fx, double fy, double alpha) {
  std::vector<std::string> lines = {
      Line("glClear", {gl::GL_COLOR_BUFFER_BIT | gl::GL_DEPTH_BUFFER_BIT}),
      Line("glLoadIdentity"),
      Line("glTranslatef", {0, 0, -40}),
      Line("glTranslatef", {F(x1), F(y1), 0}),
  };
  for (const std::string& line : SmallCard(TextName(Picture::Text10), alpha)) lines.push_back(line);
  lines.push_back(Line("glTranslatef", {13, -12, 0}));
  lines.push_back(Line("glTranslatef", {F(fx), F(fy), 0}));
  for (const std::string& line : SmallCard(TextName(Picture::Text11), alpha)) lines.push_back(line);
  return lines;
}

TEST(ClosingSequence, ShakeOffsetsRunFromMinusOneToPointNineOnBothAxes) {
  StartShow();
  Overlay.CardPosition = {0, 0};
  std::set<int> seen;
  for (int i = 0; i < 2000; ++i) {
    Overlay.PhaseA = 1;  // float angle 0: offset (1/3, 0) plus the shake
    Overlay.PhaseB = 1;
    const std::vector<GlCall> calls = CallsOf(ShakeText99);
    const double x = calls.at(2).args.at(0);
    const double y = calls.at(2).args.at(1);
    int found = -1;
    for (int n = 0; n <= 20; ++n)
      if (x == F(1.0 / 3 + (n / 10.0 - 1)) && y == F(n / 10.0 - 1)) found = n;
    ASSERT_GE(found, 0) << "offset (" << x << ", " << y << ") is off the diagonal grid";
    seen.insert(found);
    EXPECT_EQ(calls.at(4).args.at(1), TextName(Picture::Text99));
  }
  EXPECT_EQ(seen.size(), 20u);
  EXPECT_EQ(*seen.begin(), 0);    // -1.0
  EXPECT_EQ(*seen.rbegin(), 19);  // +0.9, never +1.0
}

TEST(ClosingSequence, ShakeTakesOverThePhaseOnceAndKeepsTheCard) {
  StartShow();
  Overlay.CardPosition = {0, 0};
  Overlay.PhaseA = 120;
  ShakeText99();
  EXPECT_EQ(Overlay.PhaseB, 121.0);
  EXPECT_EQ(Overlay.PhaseA, 1.0);
  ShakeText99();
  EXPECT_EQ(Overlay.PhaseB, 122.0);
  EXPECT_EQ(Overlay.CardPosition.X, 0.0);
  EXPECT_EQ(Overlay.CardPosition.Y, 0.0);
}

TEST(ClosingSequence, ClosingPagePlacesBothCardsAndWrapsAfter1101Frames) {
  StartShow();
  Overlay.CardPosition = {0, 0};
  ClosingPage();
  EXPECT_EQ(Lines(), PageCalls(-8 + 2.0 / 5, 5, 2.0 / 3, 0, 1));
  EXPECT_EQ(Overlay.PhaseA, 2.0);
  ClearCalls();
  ClosingPage();
  EXPECT_EQ(Lines(), PageCalls(-8 + Cx(2) / 5, 5 + Sy(2) / 5, Cx(2) / 3, Sy(2) / 3, 1));

  Overlay.PhaseA = 1100;
  ClosingPage();
  EXPECT_EQ(Overlay.PhaseA, 1101.0);
  ClosingPage();
  EXPECT_EQ(Overlay.PhaseA, 1.0);
  EXPECT_EQ(Overlay.PhaseB, 1.0);
}

TEST(ClosingSequence, FadeJumpsOnItsFirstFrameThenFadesBy0007) {
  StartShow();
  for (int i = 0; i < 300; ++i) ClosingPage();
  ASSERT_EQ(Overlay.PhaseA, 301.0);
  Background.LayerAlpha = 0.4;  // whatever the stack reached
  ClearCalls();
  ClosingFade();
  // Image 10: same phase, radius 1/3 instead of 0.4; image 11: own float from angle 0, divisor 6.
  EXPECT_EQ(Lines(), PageCalls(-8 + Cx(301) / 6, 5 + Sy(301) / 6, 2.0 / 6, 0, 1));
  EXPECT_EQ(Overlay.PhaseB, 302.0);
  EXPECT_EQ(Overlay.PhaseA, 2.0);

  double alpha = 1.0 - 0.007;
  for (int frame = 2; frame <= 200; ++frame) {
    const std::vector<GlCall> calls = CallsOf(ClosingFade);
    EXPECT_EQ(calls.at(6).args.at(3), F(alpha)) << "frame " << frame;
    EXPECT_EQ(calls.at(3).args.at(0), F(-8 + Cx(300 + frame) / 6));
    EXPECT_EQ(calls.at(20).args.at(0), F(Cx(frame) / 6));
    if (alpha > 0) alpha -= 0.007;
  }
  // It stops at its first value at or below 0, just under it.
  EXPECT_EQ(Background.LayerAlpha, alpha);
  EXPECT_NEAR(Background.LayerAlpha, -0.001, 1e-9);
}

}  // namespace
