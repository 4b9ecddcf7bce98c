// The logo stack layers, call by call and state by state.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "gl.h"
#include "layer_test_support.h"
#include "layers.h"

namespace {

constexpr double ClearBits = gl::GL_COLOR_BUFFER_BIT | gl::GL_DEPTH_BUFFER_BIT;
constexpr double Texture2D = gl::GL_TEXTURE_2D;
constexpr double Quads = gl::GL_QUADS;

double Cx(int k) { return CircleTable.cx[k]; }

// One logo square with the given edges and depth (texture mirrored left to right).
void AddSquare(std::vector<std::string>& out, double lower, double upper, double z) {
  out.push_back(Line("glBegin", {Quads}));
  out.push_back(Line("glNormal3f", {0, 0, 1}));
  out.push_back(Line("glTexCoord2f", {1, 1}));
  out.push_back(Line("glVertex3f", {-10, F(lower), F(z)}));
  out.push_back(Line("glTexCoord2f", {0, 1}));
  out.push_back(Line("glVertex3f", {10, F(lower), F(z)}));
  out.push_back(Line("glTexCoord2f", {0, 0}));
  out.push_back(Line("glVertex3f", {10, F(upper), F(z)}));
  out.push_back(Line("glTexCoord2f", {1, 0}));
  out.push_back(Line("glVertex3f", {-10, F(upper), F(z)}));
  out.push_back(Line("glEnd"));
}

void Repeat(void (*layer)(), int frames) {
  for (int i = 0; i < frames; ++i) layer();
}

TEST(BackgroundLayers, ResetSetsClearColourAndStartValuesButNotSpread) {
  StartShow();
  Background.Spread = 4.0;
  Background.AxisZ = 123.0;
  Background.TumbleAngle = 99;
  ResetBackgroundState();
  EXPECT_EQ(Lines(), std::vector<std::string>{Line("glClearColor", {0, 0, 0, 1})});
  EXPECT_EQ(Background.Spread, 4.0);
  EXPECT_EQ(Background.AxisZ, 0.8);
  EXPECT_EQ(Background.TumbleAngle, 0);
  EXPECT_EQ(Background.OrbitStep, 1);
  EXPECT_EQ(Background.FadeRate, 2);
}

TEST(BackgroundLayers, FirstFrameOfB1DrawsUnturnedTransparentStack) {
  StartShow();
  B1();
  std::vector<std::string> expected = {
      Line("glClear", {ClearBits}),
      Line("glLoadIdentity"),
      Line("glTranslatef", {0, 0, -60}),
      Line("glRotatef", {0, 0, 0, F(0.8)}),
      Line("glRotatef", {0, 0, 0, 0}),
      Line("glRotatef", {0, F(0.2), 0, 0}),
      Line("glEnable", {Texture2D}),
      Line("glBindTexture", {Texture2D, LogoName}),
      Line("glColor4f", {1, 1, 1, 0}),
  };
  for (int n = 1; n <= 10; ++n) {
    const int k = 20 * n;
    expected.push_back(Line("glRotatef", {0, 0, 0, F(0.8)}));
    expected.push_back(Line("glRotatef", {0, 0, 0, 0}));
    expected.push_back(Line("glRotatef", {0, F(0.2), 0, 0}));
    AddSquare(expected, Cx(k) - 10, Cx(k) + 10, 2 * n);
  }
  expected.push_back(Line("glDisable", {Texture2D}));
  EXPECT_EQ(Lines(), expected);

  EXPECT_DOUBLE_EQ(Background.LayerAlpha, 0.002);
  EXPECT_EQ(Background.TumbleAngle, 5);
  EXPECT_DOUBLE_EQ(Background.SpinAngle, 0.2);
  EXPECT_EQ(Background.OrbitStep, 2);
  EXPECT_DOUBLE_EQ(Background.AxisX, 0.6);
  EXPECT_EQ(Background.AxisY, 0.0);  // sy[1] = 0
  EXPECT_EQ(Background.AxisZ, 0.8);
  EXPECT_EQ(Background.Spread, 1.0);
}

// B3 and B4: translations, texture and bind, one turn about (0, AxisX, 0),
// colour; each square turned by its key about the same axis, rising 4 units.
TEST(BackgroundLayers, B3BindsBeforeItsSingleTurnAndRestartsTheFadeAfterABurst) {
  StartShow();
  Repeat(B1, 3);
  Repeat(B2, 2);
  ASSERT_EQ(Background.Spread, 3.0);
  const double axisX = Background.AxisX;
  const double tumble = Background.TumbleAngle;
  ClearCalls();
  B3();
  std::vector<std::string> expected = {
      Line("glClear", {ClearBits}),
      Line("glLoadIdentity"),
      Line("glTranslatef", {0, 0, -60}),
      Line("glTranslatef", {0, -20, 0}),
      Line("glEnable", {Texture2D}),
      Line("glBindTexture", {Texture2D, LogoName}),
      Line("glRotatef", {tumble, 0, F(axisX), 0}),
      Line("glColor4f", {1, 1, 1, 0}),  // the fade starts again
  };
  for (int n = 1; n <= 10; ++n) {
    expected.push_back(Line("glRotatef", {20.0 * n, 0, F(axisX), 0}));
    AddSquare(expected, 4 * n - 10, 4 * n + 10, 2 * n);
  }
  expected.push_back(Line("glDisable", {Texture2D}));
  EXPECT_EQ(Lines(), expected);
  EXPECT_DOUBLE_EQ(Background.LayerAlpha, 0.002);
  EXPECT_EQ(Background.Spread, 1.0);
}

TEST(BackgroundLayers, B7TurnsEachSquareAboutZAndYOnly) {
  StartShow();
  Repeat(B7, 5);
  const BackgroundState before = Background;
  ClearCalls();
  B7();
  const double spin = F(before.SpinAngle);
  std::vector<std::string> expected = {
      Line("glClear", {ClearBits}),
      Line("glLoadIdentity"),
      Line("glTranslatef", {0, 0, -60}),
      Line("glRotatef", {25, 0, 0, F(before.AxisZ)}),
      Line("glRotatef", {25, 0, F(before.AxisY), 0}),
      Line("glRotatef", {25, F(before.AxisX), 0, 0}),
      Line("glEnable", {Texture2D}),
      Line("glBindTexture", {Texture2D, LogoName}),
      Line("glColor4f", {1, 1, 1, F(before.LayerAlpha)}),
  };
  for (int n = 1; n <= 10; ++n) {
    expected.push_back(Line("glRotatef", {spin, 0, 0, F(before.AxisZ)}));
    expected.push_back(Line("glRotatef", {spin, 0, F(before.AxisY), 0}));
    AddSquare(expected, n - 10.0, n + 10.0, 2 * n);
  }
  expected.push_back(Line("glDisable", {Texture2D}));
  EXPECT_EQ(Lines(), expected);
}

// Per member: extra translation, turns before the stack and per square, and
// the first vertex's height and depth of every square, with Spread at 3 (a
// burst under way).
struct MemberShape {
  const char* name;
  void (*layer)();
  bool shifted;  // a second glTranslatef
  double shiftX, shiftY;
  int keyStep;
  int outerTurns;
  int turnsPerSquare;
  std::function<double(int n, int k)> lower;  // lower edge
  std::function<double(int n, int k)> depth;
};

TEST(BackgroundLayers, EveryMemberPlacesItsSquaresByItsOwnRule) {
  const double spread = 3.0;
  const auto twoN = [](int n, int) { return 2.0 * n; };
  const auto plusSpread = [&](int n, int) { return 2.0 * n + spread; };
  const auto minusSpread = [&](int n, int) { return 2.0 * n - spread; };
  const auto cxEdge = [](int, int k) { return Cx(k) - 10; };
  const std::vector<MemberShape> shapes = {
      {"B1", B1, false, 0, 0, 20, 3, 3, cxEdge, twoN},
      {"B2", B2, true, 7, 0, 20, 3, 3, cxEdge, plusSpread},
      {"B3", B3, true, 0, -20, 20, 1, 1, [](int, int k) { return k / 5.0 - 10; }, twoN},
      {"B4", B4, true, 0, -20, 20, 1, 1, [](int, int k) { return k / 5.0 - 10; }, minusSpread},
      {"B5", B5, false, 0, 0, 20, 3, 3, cxEdge, [](int n, int k) { return 2.0 * n - Cx(k); }},
      {"B6", B6, false, 0, 0, 20, 3, 3, cxEdge, minusSpread},
      {"B7", B7, false, 0, 0, 10, 3, 2, [](int n, int) { return n - 10.0; }, twoN},
      {"B8", B8, false, 0, 0, 10, 3, 2, [](int n, int) { return n - 10.0; }, plusSpread},
      {"B9", B9, false, 0, 0, 10, 3, 2, [](int n, int) { return n * Cx(10 * n) - 10; }, twoN},
      {"B10", B10, false, 0, 0, 10, 3, 2, [](int n, int) { return n * Cx(10 * n) - 10; }, plusSpread},
      {"B11", B11, false, 0, 0, 10, 3, 2, [](int n, int) { return Cx(10 * n) - n - 10; }, twoN},
      {"B12", B12, false, 0, 0, 10, 3, 2, [](int n, int) { return Cx(10 * n) - n - 10; }, plusSpread},
      {"B13", B13, false, 0, 0, 10, 3, 2, [](int, int k) { return (-10 - k / Cx(k)) + 1; }, twoN},
  };
  for (const MemberShape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    StartShow();
    Background.Spread = spread;
    const std::vector<GlCall> calls = CallsOf(shape.layer);
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(FormatCall(calls[2]), Line("glTranslatef", {0, 0, -60}));
    EXPECT_EQ(FormatCall(calls[3]) == Line("glTranslatef", {shape.shiftX, shape.shiftY, 0}), shape.shifted);
    // Walk the squares: the rotations since the last quad, then the quad.
    int n = 0;
    int turns = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].name == "glRotatef") ++turns;
      if (calls[i].name != "glBegin") continue;
      ++n;
      const int k = shape.keyStep * n;
      EXPECT_EQ(turns, shape.turnsPerSquare + (n == 1 ? shape.outerTurns : 0)) << "square " << n;
      turns = 0;
      ASSERT_LT(i + 3, calls.size());
      const GlCall& vertex = calls[i + 3];
      ASSERT_EQ(vertex.name, "glVertex3f");
      EXPECT_EQ(vertex.args[1], F(shape.lower(n, k))) << "square " << n;
      EXPECT_EQ(vertex.args[2], F(shape.depth(n, k))) << "square " << n;
    }
    EXPECT_EQ(n, 10);
  }
}

TEST(BackgroundLayers, B13ComputesEachEdgeAsItsOwnSum) {
  StartShow();
  const std::vector<GlCall> calls = CallsOf(B13);
  int n = 0;
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].name != "glBegin") continue;
    ++n;
    const int k = 10 * n;
    EXPECT_EQ(calls[i + 3].args[1], F((-10 - k / Cx(k)) + 1));
    EXPECT_EQ(calls[i + 7].args[1], F((10 - k / Cx(k)) + 1));
  }
  EXPECT_EQ(n, 10);
  // B13 raises Spread like a burst, so the long layer after it fades in anew.
  EXPECT_EQ(Background.Spread, 1.0);  // 0 at start, + 1
  B13();
  EXPECT_EQ(Background.Spread, 2.0);
  const double alpha = Background.LayerAlpha;
  ASSERT_GT(alpha, 0.0);
  B11();
  EXPECT_DOUBLE_EQ(Background.LayerAlpha, 0.002);
}

TEST(BackgroundLayers, OnlyLongLayersOtherThanB1RestartTheFade) {
  StartShow();
  Repeat(B1, 10);
  Repeat(B2, 3);
  EXPECT_NEAR(Background.LayerAlpha, 0.026, 1e-12);  // bursts keep fading in
  B1();
  EXPECT_NEAR(Background.LayerAlpha, 0.028, 1e-12);  // B1 never restarts
  for (void (*longLayer)() : {B3, B5, B7, B9, B11}) {
    Repeat(B2, 2);
    longLayer();
    EXPECT_DOUBLE_EQ(Background.LayerAlpha, 0.002);
    longLayer();  // Spread is 1 now: no second restart
    EXPECT_DOUBLE_EQ(Background.LayerAlpha, 0.004);
  }
}

TEST(BackgroundLayers, AlphaOvershootsOnceAboveOneAndStays) {
  StartShow();
  Repeat(B1, 600);
  const double top = Background.LayerAlpha;
  EXPECT_GT(top, 1.0);
  EXPECT_LT(top, 1.0021);
  double expected = 0.0;  // the same steps, written out
  while (expected <= 1.0) expected += 2 * 0.001;
  EXPECT_EQ(top, expected);
  const std::vector<GlCall> calls = CallsOf(B1);
  EXPECT_EQ(calls[8].name, "glColor4f");
  EXPECT_EQ(calls[8].args[3], F(top));  // passed above 1 as it is
  EXPECT_EQ(Background.LayerAlpha, top);
}

TEST(BackgroundLayers, OrbitWrapsAfter360FramesAndResetsXAndYButNotZ) {
  StartShow();
  Repeat(B7, 359);
  EXPECT_EQ(Background.OrbitStep, 360);
  double expectedZ = 0.8;
  for (int i = 1; i <= 360; ++i) expectedZ += 2 * std::sin((i - 1) * 0.005);
  B7();
  EXPECT_EQ(Background.OrbitStep, 1);
  EXPECT_EQ(Background.AxisX, 0.01);
  EXPECT_EQ(Background.AxisY, 0.03);
  EXPECT_NEAR(Background.AxisZ, expectedZ, 1e-9);
  EXPECT_GT(Background.AxisZ, 400.0);
  // B1's family resets to 0.1, 0.1.
  StartShow();
  Repeat(B1, 360);
  EXPECT_EQ(Background.AxisX, 0.1);
  EXPECT_EQ(Background.AxisY, 0.1);
}

TEST(BackgroundLayers, TumbleAngleGrowsWithoutWrapping) {
  StartShow();
  Repeat(B9, 1000);
  EXPECT_EQ(Background.TumbleAngle, 5000);
  const std::vector<GlCall> calls = CallsOf(B9);
  EXPECT_EQ(FormatCall(calls[3]).rfind("glRotatef(5000,", 0), 0u) << FormatCall(calls[3]);
  EXPECT_NEAR(Background.SpinAngle, 0.2 * 1001, 1e-9);
}

}  // namespace
