// The text cards: first frames, stops on the resting lines, leaving.
#include <gtest/gtest.h>

#include <cmath>

#include "gl.h"
#include "layer_test_support.h"
#include "layers.h"

namespace {

constexpr double Texture2D = gl::GL_TEXTURE_2D;

double Cx(int k) { return CircleTable.cx[k]; }
double Sy(int k) { return CircleTable.sy[k]; }

std::vector<std::string> CardCalls(double x, double y, unsigned texture) {
  return {
      Line("glLoadIdentity"),
      Line("glTranslatef", {0, 0, -40}),
      Line("glTranslatef", {F(x), F(y), 0}),
      Line("glEnable", {Texture2D}),
      Line("glBindTexture", {Texture2D, double(texture)}),
      Line("glColor4f", {1, 1, 1, 1}),
      Line("glBegin", {gl::GL_QUADS}),
      Line("glNormal3f", {0, 0, 1}),
      Line("glTexCoord2f", {0, 1}),
      Line("glVertex3f", {-10, -10, 1}),
      Line("glTexCoord2f", {1, 1}),
      Line("glVertex3f", {10, -10, 1}),
      Line("glTexCoord2f", {1, 0}),
      Line("glVertex3f", {10, 10, 1}),
      Line("glTexCoord2f", {0, 0}),
      Line("glVertex3f", {-10, 10, 1}),
      Line("glEnd"),
      Line("glDisable", {Texture2D}),
  };
}

// The card centre passed to the second glTranslatef of a layer's frame.
std::pair<double, double> CardCentre(const std::vector<GlCall>& calls) {
  return {calls.at(2).args.at(0), calls.at(2).args.at(1)};
}

TEST(TextCards, EnterText2StartsAt9And25WithFloatOffsetOneThird) {
  StartShow();
  Overlay.CardPosition = {-3, -3};  // wherever the previous card went
  EnterText2();
  EXPECT_EQ(Lines(), CardCalls(9 + 1.0 / 3, 25, TextName(Picture::Text2)));
  EXPECT_EQ(Overlay.CardPosition.X, 9.0);
  EXPECT_EQ(Overlay.CardPosition.Y, 24.0);  // the step follows the drawing
  EXPECT_EQ(Overlay.PhaseA, 2.0);
  EXPECT_EQ(Overlay.PhaseB, 1.0);
  // Frames 2 ... 19 move down one unit each; the 19th shows the resting line.
  for (int frame = 2; frame <= 19; ++frame) {
    const auto [x, y] = CardCentre(CallsOf(EnterText2));
    EXPECT_EQ(x, F(9 + Cx(frame) / 6));
    EXPECT_EQ(y, F(25 - (frame - 1) + Sy(frame) / 6)) << "frame " << frame;
  }
  EXPECT_EQ(Overlay.CardPosition.Y, 7.0);
  const auto [x, y] = CardCentre(CallsOf(EnterText2));
  EXPECT_EQ(y, F(7 + Sy(20) / 6));
  EXPECT_EQ(Overlay.CardPosition.Y, 7.0);
}

TEST(TextCards, EnterText4StopsExactlyOnMinus9And1) {
  StartShow();
  for (int frame = 1; frame <= 16; ++frame) EnterText4();
  EXPECT_EQ(Overlay.CardPosition.X, -9.0);
  EXPECT_EQ(Overlay.CardPosition.Y, 1.0);
  for (int frame = 0; frame < 50; ++frame) EnterText4();
  EXPECT_EQ(Overlay.CardPosition.X, -9.0);
  EXPECT_EQ(Overlay.CardPosition.Y, 1.0);
  EXPECT_EQ(Overlay.PhaseA, 67.0);
}

// Each entering member from its first frame: start, resting position and the
// number of frames that show the card moving.
TEST(TextCards, EveryEnteringCardRestsWhereItShould) {
  struct Expected {
    const char* name;
    void (*layer)();
    Picture text;
    double startX, startY, restX, restY;
    int movingFrames;
  };
  const Expected members[] = {
      {"EnterText1", EnterText1, Picture::Text1, -10, -25, -10, -13, 12},
      {"EnterText2", EnterText2, Picture::Text2, 9, 25, 9, 7, 18},
      {"EnterText3", EnterText3, Picture::Text3, 6, -20, 6, -8, 12},
      {"EnterText4", EnterText4, Picture::Text4, -25, 25, -9, 1, 16},
      {"EnterText5", EnterText5, Picture::Text5, -25, 0, 0, 0, 25},
      {"EnterText6", EnterText6, Picture::Text6, 9, 25, 9, 7, 18},
      {"EnterText7", EnterText7, Picture::Text7, -25, 25, -9, 1, 16},
      {"EnterText8", EnterText8, Picture::Text8, -10, -25, -10, -7, 18},
      {"EnterText9", EnterText9, Picture::Text9, 9, 25, 9, 7, 18},
      {"EnterText99", EnterText99, Picture::Text99, -25, 0, 0, 0, 25},
  };
  for (const Expected& m : members) {
    SCOPED_TRACE(m.name);
    StartShow();  // the timeline's start position (-10, -25) serves EnterText1
    std::vector<GlCall> calls = CallsOf(m.layer);
    EXPECT_EQ(calls.at(4).args.at(1), TextName(m.text));
    EXPECT_EQ(CardCentre(calls), std::make_pair(F(m.startX + 1.0 / 3), F(m.startY)));
    int moving = 1;
    double lastX = m.startX, lastY = m.startY;
    for (int frame = 2; frame < 60; ++frame) {
      m.layer();
      const CardPositionRecord& p = Overlay.CardPosition;
      if (p.X == lastX && p.Y == lastY) break;
      ++moving;
      lastX = p.X;
      lastY = p.Y;
    }
    EXPECT_EQ(moving, m.movingFrames);
    EXPECT_EQ(Overlay.CardPosition.X, m.restX);
    EXPECT_EQ(Overlay.CardPosition.Y, m.restY);
  }
}

TEST(TextCards, EnterText1KeepsThePositionTheTimelineSet) {
  StartShow();
  Overlay.CardPosition = {3, -20};
  EnterText1();
  EXPECT_EQ(Overlay.CardPosition.X, 3.0);
  EXPECT_EQ(Overlay.CardPosition.Y, -19.0);
}

TEST(TextCards, LeavingLayerCarriesOnTheFloatPhaseAndSlidesWithoutLimit) {
  StartShow();
  for (int i = 0; i < 50; ++i) EnterText1();
  ASSERT_EQ(Overlay.PhaseA, 51.0);
  ASSERT_EQ(Overlay.PhaseB, 1.0);
  ClearCalls();
  LeaveText1();
  EXPECT_EQ(Lines(), CardCalls(-10 + Cx(51) / 6, -13 + Sy(51) / 6, TextName(Picture::Text1)));
  EXPECT_EQ(Overlay.PhaseB, 52.0);
  EXPECT_EQ(Overlay.PhaseA, 1.0);
  EXPECT_EQ(Overlay.CardPosition.X, -11.0);
  for (int i = 0; i < 46; ++i) LeaveText1();
  EXPECT_EQ(Overlay.CardPosition.X, -57.0);
  EXPECT_EQ(Overlay.PhaseB, 98.0);

  struct Direction {
    void (*layer)();
    double dx, dy;
  };
  const Direction directions[] = {{LeaveText1, -1, 0}, {LeaveText2, 1, 0}, {LeaveText3, 1, 0},
                                  {LeaveText4, 0, 1},  {LeaveText5, -1, 0}, {LeaveText6, 1, 0},
                                  {LeaveText7, 0, 1},  {LeaveText8, -1, 0}, {LeaveText9, 1, 0}};
  for (int i = 0; i < 9; ++i) {
    StartShow();
    Overlay.CardPosition = {0, 0};
    const std::vector<GlCall> calls = CallsOf(directions[i].layer);
    EXPECT_EQ(calls.at(4).args.at(1), 101 + i);  // text images 1 ... 9
    EXPECT_EQ(Overlay.CardPosition.X, directions[i].dx) << "LeaveText" << i + 1;
    EXPECT_EQ(Overlay.CardPosition.Y, directions[i].dy) << "LeaveText" << i + 1;
  }
}

TEST(TextCards, LeavingLayerThatMissedItsFirstFrameCountsOn) {
  StartShow();
  Overlay.PhaseA = 30;
  Overlay.PhaseB = 7;
  const auto [x, y] = CardCentre(CallsOf(LeaveText2));
  EXPECT_EQ(x, F(-10 + Cx(7) / 6));
  EXPECT_EQ(y, F(-25 + Sy(7) / 6));
  EXPECT_EQ(Overlay.PhaseB, 8.0);
}

TEST(TextCards, EnteringLayerWithoutFirstFrameKeepsThePreviousCard) {
  StartShow();
  for (int i = 0; i < 40; ++i) EnterText1();  // at rest on (-10, -13)
  const std::vector<GlCall> calls = CallsOf(EnterText2);
  EXPECT_EQ(calls.at(4).args.at(1), TextName(Picture::Text2));
  EXPECT_EQ(CardCentre(calls), std::make_pair(F(-10 + Cx(41) / 6), F(-13 + Sy(41) / 6)));
  EXPECT_EQ(Overlay.CardPosition.X, -10.0);  // -13 is not above 7: no move
  EXPECT_EQ(Overlay.CardPosition.Y, -13.0);
  EXPECT_EQ(Overlay.PhaseA, 42.0);
}

}  // namespace
