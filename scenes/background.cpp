// The logo stack: thirteen background layers over one set of animation
// variables. Each member is a row of BackgroundMembers; DrawLogoStack is the
// one procedure that draws the stack and advances the state.
#include <array>

#include "gl.h"
#include "image_textures.h"
#include "layers.h"
#include "show_state.h"

using namespace gl;

namespace {

// The rotations applied once to the whole stack before the squares.
enum class OuterTurn {
  ZYX,  // glRotatef(TumbleAngle) about (0,0,AxisZ), (0,AxisY,0), (AxisX,0,0)
  Y,    // one glRotatef(TumbleAngle, 0, AxisX, 0), issued after the bind
};

// The rotations applied before each square (never undone between squares,
// so square n carries n such groups).
enum class SquareTurn {
  ZYX,    // SpinAngle about (0,0,AxisZ), (0,AxisY,0), (AxisX,0,0)
  ZY,     // SpinAngle about (0,0,AxisZ), (0,AxisY,0)
  YByKey, // k degrees about (0,AxisX,0)
};

// The square's centre height yc; the edges are yc - 10 and yc + 10.
enum class Height {
  Cx,              // cx[k]
  KeyOver5,        // k / 5
  KeyOver10,       // k / 10
  CxTimesKey,      // cx[k] * k / 10
  CxMinusKey,      // cx[k] - k / 10
  OneMinusKeyOverCx,  // edges (-10 - k / cx[k]) + 1 and (10 - k / cx[k]) + 1
};

// The square's depth z.
enum class Depth {
  TwoN,             // 2n
  TwoNPlusSpread,   // 2n + Spread
  TwoNMinusSpread,  // 2n - Spread
  TwoNMinusCx,      // 2n - cx[k]
};

enum class SpreadRule {
  SetToOne,  // long layers
  Raise,     // burst layers (and B13): one unit further each frame
};

struct Vec3 {
  float x, y, z;
};

struct BackgroundMember {
  int keyStep;  // k = keyStep * n
  Vec3 shift;   // extra translation after (0, 0, -60); zero for none
  OuterTurn outer;
  SquareTurn square;
  Height height;
  Depth depth;
  SpreadRule spread;
  bool fadeRestart;  // a long layer after a burst fades in from 0
  double resetAxisX;  // AxisX and AxisY when OrbitStep wraps
  double resetAxisY;
};

constexpr Vec3 NoShift{0, 0, 0};

// k  shift  outer  per-square  yc  z  Spread  fade restart  reset AxisX, AxisY
constexpr std::array<BackgroundMember, 13> BackgroundMembers = {{
    /* B1  */ {20, NoShift, OuterTurn::ZYX, SquareTurn::ZYX, Height::Cx, Depth::TwoN, SpreadRule::SetToOne, false, 0.1, 0.1},
    /* B2  */ {20, {7, 0, 0}, OuterTurn::ZYX, SquareTurn::ZYX, Height::Cx, Depth::TwoNPlusSpread, SpreadRule::Raise, false, 0.1, 0.1},
    /* B3  */ {20, {0, -20, 0}, OuterTurn::Y, SquareTurn::YByKey, Height::KeyOver5, Depth::TwoN, SpreadRule::SetToOne, true, 0.01, 0.03},
    /* B4  */ {20, {0, -20, 0}, OuterTurn::Y, SquareTurn::YByKey, Height::KeyOver5, Depth::TwoNMinusSpread, SpreadRule::Raise, false, 0.01, 0.03},
    /* B5  */ {20, NoShift, OuterTurn::ZYX, SquareTurn::ZYX, Height::Cx, Depth::TwoNMinusCx, SpreadRule::SetToOne, true, 0.1, 0.1},
    /* B6  */ {20, NoShift, OuterTurn::ZYX, SquareTurn::ZYX, Height::Cx, Depth::TwoNMinusSpread, SpreadRule::Raise, false, 0.1, 0.1},
    /* B7  */ {10, NoShift, OuterTurn::ZYX, SquareTurn::ZY, Height::KeyOver10, Depth::TwoN, SpreadRule::SetToOne, true, 0.01, 0.03},
    /* B8  */ {10, NoShift, OuterTurn::ZYX, SquareTurn::ZY, Height::KeyOver10, Depth::TwoNPlusSpread, SpreadRule::Raise, false, 0.01, 0.03},
    /* B9  */ {10, NoShift, OuterTurn::ZYX, SquareTurn::ZY, Height::CxTimesKey, Depth::TwoN, SpreadRule::SetToOne, true, 0.01, 0.03},
    /* B10 */ {10, NoShift, OuterTurn::ZYX, SquareTurn::ZY, Height::CxTimesKey, Depth::TwoNPlusSpread, SpreadRule::Raise, false, 0.01, 0.03},
    /* B11 */ {10, NoShift, OuterTurn::ZYX, SquareTurn::ZY, Height::CxMinusKey, Depth::TwoN, SpreadRule::SetToOne, true, 0.01, 0.03},
    /* B12 */ {10, NoShift, OuterTurn::ZYX, SquareTurn::ZY, Height::CxMinusKey, Depth::TwoNPlusSpread, SpreadRule::Raise, false, 0.01, 0.03},
    /* B13 */ {10, NoShift, OuterTurn::ZYX, SquareTurn::ZY, Height::OneMinusKeyOverCx, Depth::TwoN, SpreadRule::Raise, false, 0.01, 0.03},
}};

constexpr int SquareCount = 10;
constexpr double SquareHalfSize = 10.0;
constexpr float StackDistance = -60.0f;  // the stack sits 60 units in front of the camera
constexpr int OrbitSteps = 360;          // OrbitStep runs 1 ... 360
static_assert(OrbitSteps <= CircleTableSize);
static_assert(SquareCount * 20 <= CircleTableSize);  // the largest key stays inside the table
constexpr std::int32_t TumbleStep = 5;   // degrees per frame
constexpr double SpinStep = 0.2;         // degrees per frame
constexpr double FadeStepUnit = 0.001;   // LayerAlpha rises by FadeRate units per frame

struct Edges {
  double lower, upper;
};

// Both edges are formed in double precision from the member's rule.
Edges SquareEdges(Height rule, int k) {
  const double cx = CircleTable.cx[k];
  double yc = 0.0;
  switch (rule) {
    case Height::Cx: yc = cx; break;
    case Height::KeyOver5: yc = k / 5.0; break;
    case Height::KeyOver10: yc = k / 10.0; break;
    case Height::CxTimesKey: yc = cx * k / 10.0; break;
    case Height::CxMinusKey: yc = cx - k / 10.0; break;
    case Height::OneMinusKeyOverCx:
      // Each edge is its own sum, in this order (cx[k] >= 1.75 for k <= 100).
      return {(-SquareHalfSize - k / cx) + 1.0, (SquareHalfSize - k / cx) + 1.0};
  }
  return {yc - SquareHalfSize, yc + SquareHalfSize};
}

double SquareDepth(Depth rule, int n, int k) {
  switch (rule) {
    case Depth::TwoN: return 2.0 * n;
    case Depth::TwoNPlusSpread: return 2.0 * n + Background.Spread;
    case Depth::TwoNMinusSpread: return 2.0 * n - Background.Spread;
    case Depth::TwoNMinusCx: return 2.0 * n - CircleTable.cx[k];
  }
  return 0.0;
}

void TurnSquare(SquareTurn rule, int k) {
  const BackgroundState& s = Background;
  const auto spin = static_cast<float>(s.SpinAngle);
  switch (rule) {
    case SquareTurn::ZYX:
      glRotatef(spin, 0, 0, static_cast<float>(s.AxisZ));
      glRotatef(spin, 0, static_cast<float>(s.AxisY), 0);
      glRotatef(spin, static_cast<float>(s.AxisX), 0, 0);
      break;
    case SquareTurn::ZY:
      glRotatef(spin, 0, 0, static_cast<float>(s.AxisZ));
      glRotatef(spin, 0, static_cast<float>(s.AxisY), 0);
      break;
    case SquareTurn::YByKey:
      glRotatef(static_cast<float>(k), 0, static_cast<float>(s.AxisX), 0);
      break;
  }
}

// One square: texture mirrored left to right, first image row at the top.
void DrawSquare(const Edges& edges, double depth) {
  const auto lower = static_cast<float>(edges.lower);
  const auto upper = static_cast<float>(edges.upper);
  const auto z = static_cast<float>(depth);
  const auto half = static_cast<float>(SquareHalfSize);
  glBegin(GL_QUADS);
  glNormal3f(0, 0, 1);
  glTexCoord2f(1, 1);
  glVertex3f(-half, lower, z);
  glTexCoord2f(0, 1);
  glVertex3f(half, lower, z);
  glTexCoord2f(0, 0);
  glVertex3f(half, upper, z);
  glTexCoord2f(1, 0);
  glVertex3f(-half, upper, z);
  glEnd();
}

void AdvanceBackground(const BackgroundMember& member) {
  BackgroundState& s = Background;
  s.SpinAngle += SpinStep;
  s.AxisX += CircleTable.cx[s.OrbitStep] / 5;
  s.AxisY += CircleTable.sy[s.OrbitStep] / 5;
  s.AxisZ += CircleTable.sy[s.OrbitStep];  // not divided, and never reset
  if (s.OrbitStep < OrbitSteps) {
    s.OrbitStep += 1;
  } else {
    s.OrbitStep = 1;
    s.AxisX = member.resetAxisX;
    s.AxisY = member.resetAxisY;
  }
  s.TumbleAngle += TumbleStep;  // never wrapped
  if (member.spread == SpreadRule::SetToOne)
    s.Spread = 1.0;
  else
    s.Spread += 1.0;
  // Tested before the step, so the alpha stops at its first value above 1.
  if (s.LayerAlpha <= 1.0) s.LayerAlpha += s.FadeRate * FadeStepUnit;
}

void DrawLogoStack(const BackgroundMember& member) {
  BackgroundState& s = Background;
  if (member.fadeRestart && s.Spread > 1.0) s.LayerAlpha = 0.0;

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  glTranslatef(0, 0, StackDistance);
  if (member.shift.x != 0 || member.shift.y != 0 || member.shift.z != 0)
    glTranslatef(member.shift.x, member.shift.y, member.shift.z);

  const auto tumble = static_cast<float>(s.TumbleAngle);
  const GLuint logo = PictureRecord(Picture::Logo).texture;
  const auto alpha = static_cast<float>(s.LayerAlpha);
  if (member.outer == OuterTurn::ZYX) {
    glRotatef(tumble, 0, 0, static_cast<float>(s.AxisZ));
    glRotatef(tumble, 0, static_cast<float>(s.AxisY), 0);
    glRotatef(tumble, static_cast<float>(s.AxisX), 0, 0);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, logo);
  } else {
    // This pair binds first and turns after, with AxisX as the y component.
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, logo);
    glRotatef(tumble, 0, static_cast<float>(s.AxisX), 0);
  }
  glColor4f(1, 1, 1, alpha);

  for (int n = 1; n <= SquareCount; ++n) {
    const int k = member.keyStep * n;
    TurnSquare(member.square, k);
    DrawSquare(SquareEdges(member.height, k), SquareDepth(member.depth, n, k));
  }
  glDisable(GL_TEXTURE_2D);

  AdvanceBackground(member);
}

const BackgroundMember& Member(int number) { return BackgroundMembers[number - 1]; }

}  // namespace

void ResetBackgroundState() {
  glClearColor(0, 0, 0, 1);
  BackgroundState& s = Background;
  s.SpinAngle = 0.0;
  s.AxisX = 0.2;
  s.AxisY = 0.0;
  s.AxisZ = 0.8;
  s.OrbitStep = 1;
  s.TumbleAngle = 0;
  s.LayerAlpha = 0.0;
  s.FadeRate = 2;
  // Spread keeps its value: only the layers set it.
}

void B1() { DrawLogoStack(Member(1)); }
void B2() { DrawLogoStack(Member(2)); }
void B3() { DrawLogoStack(Member(3)); }
void B4() { DrawLogoStack(Member(4)); }
void B5() { DrawLogoStack(Member(5)); }
void B6() { DrawLogoStack(Member(6)); }
void B7() { DrawLogoStack(Member(7)); }
void B8() { DrawLogoStack(Member(8)); }
void B9() { DrawLogoStack(Member(9)); }
void B10() { DrawLogoStack(Member(10)); }
void B11() { DrawLogoStack(Member(11)); }
void B12() { DrawLogoStack(Member(12)); }
void B13() { DrawLogoStack(Member(13)); }
