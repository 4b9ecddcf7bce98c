// The text cards: nineteen layers over the shared card state. Entering
// layers glide a card from the edge of the view to its resting line;
// leaving layers slide it out. Each member is a row of a table, and one
// procedure per kind (EnterCard, LeaveCard) does the work.
#include <algorithm>
#include <array>
#include <optional>

#include "gl.h"
#include "image_textures.h"
#include "layers.h"
#include "show_state.h"
#include "text_card.h"

using namespace gl;

int CircleIndex(double counter) {
  const auto index = static_cast<int>(counter);  // truncation toward zero
  return std::clamp(index, 1, CircleTableSize);
}

void PlaceCard(double x, double y) {
  glLoadIdentity();
  glTranslatef(0, 0, CardDistance);
  glTranslatef(static_cast<float>(x), static_cast<float>(y), 0);
}

void DrawCard(Picture picture, double halfSize, double alpha) {
  const auto h = static_cast<float>(halfSize);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, PictureRecord(picture).texture);
  glColor4f(1, 1, 1, static_cast<float>(alpha));
  glBegin(GL_QUADS);
  glNormal3f(0, 0, 1);
  glTexCoord2f(0, 1);
  glVertex3f(-h, -h, 1);
  glTexCoord2f(1, 1);
  glVertex3f(h, -h, 1);
  glTexCoord2f(1, 0);
  glVertex3f(h, h, 1);
  glTexCoord2f(0, 0);
  glVertex3f(-h, h, 1);
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

namespace {

constexpr double FloatDivisor = 6.0;  // the float circle's radius is 2 / 6

struct Point {
  double x, y;
};

enum class Coordinate { X, Y };
enum class Test {
  Below,  // moves while the coordinate < the resting line
  Above,  // moves while the coordinate > the resting line
};

struct EnterMember {
  Picture text;
  std::optional<Point> start;  // none: keep the position the timeline set
  Coordinate moving;
  Test test;
  double restingLine;
  Point step;  // added to the card position while it moves
};

struct LeaveMember {
  Picture text;
  Point step;  // every frame, without limit
};

constexpr Point Left{-1, 0};
constexpr Point Right{1, 0};
constexpr Point Up{0, 1};
constexpr Point Down{0, -1};
constexpr Point DownRight{1, -1.5};

using enum Coordinate;
using enum Test;

// text  start  moving coordinate  test  resting line  step
constexpr std::array<EnterMember, 10> EnterMembers = {{
    /* EnterText1  */ {Picture::Text1, std::nullopt, Y, Below, -13, Up},
    /* EnterText2  */ {Picture::Text2, Point{9, 25}, Y, Above, 7, Down},
    /* EnterText3  */ {Picture::Text3, Point{6, -20}, Y, Below, -8, Up},
    /* EnterText4  */ {Picture::Text4, Point{-25, 25}, X, Below, -9, DownRight},
    /* EnterText5  */ {Picture::Text5, Point{-25, 0}, X, Below, 0, Right},
    /* EnterText6  */ {Picture::Text6, Point{9, 25}, Y, Above, 7, Down},
    /* EnterText7  */ {Picture::Text7, Point{-25, 25}, X, Below, -9, DownRight},
    /* EnterText8  */ {Picture::Text8, Point{-10, -25}, Y, Below, -7, Up},
    /* EnterText9  */ {Picture::Text9, Point{9, 25}, Y, Above, 7, Down},
    /* EnterText99 */ {Picture::Text99, Point{-25, 0}, X, Below, 0, Right},
}};

// text  direction
constexpr std::array<LeaveMember, 9> LeaveMembers = {{
    /* LeaveText1 */ {Picture::Text1, Left},
    /* LeaveText2 */ {Picture::Text2, Right},
    /* LeaveText3 */ {Picture::Text3, Right},
    /* LeaveText4 */ {Picture::Text4, Up},
    /* LeaveText5 */ {Picture::Text5, Left},
    /* LeaveText6 */ {Picture::Text6, Right},
    /* LeaveText7 */ {Picture::Text7, Up},
    /* LeaveText8 */ {Picture::Text8, Left},
    /* LeaveText9 */ {Picture::Text9, Right},
}};

// Place the card at its position plus the float offset of counter k.
void PlaceFloatingCard(int k) {
  const CardPositionRecord& p = Overlay.CardPosition;
  PlaceCard(p.X + CircleTable.cx[k] / FloatDivisor, p.Y + CircleTable.sy[k] / FloatDivisor);
}

bool StillMoving(const EnterMember& member) {
  const CardPositionRecord& p = Overlay.CardPosition;
  const double value = member.moving == X ? p.X : p.Y;
  return member.test == Below ? value < member.restingLine : value > member.restingLine;
}

void EnterCard(const EnterMember& member) {
  OverlayState& s = Overlay;
  if (s.PhaseA == 1.0 && member.start) s.CardPosition = {member.start->x, member.start->y};
  PlaceFloatingCard(CircleIndex(s.PhaseA));
  // The step follows the translation: a frame shows the position from
  // before its step, and the card stops exactly on the resting line.
  if (StillMoving(member)) {
    s.CardPosition.X += member.step.x;
    s.CardPosition.Y += member.step.y;
  }
  DrawCard(member.text, CardHalfSize, 1.0);
  s.PhaseA += 1;
  s.PhaseB = 1;
}

void LeaveCard(const LeaveMember& member) {
  OverlayState& s = Overlay;
  // The first frame carries on the float phase of the entering layer.
  if (s.PhaseB == 1.0) s.PhaseB = s.PhaseA;
  PlaceFloatingCard(CircleIndex(s.PhaseB));
  DrawCard(member.text, CardHalfSize, 1.0);
  s.PhaseB += 1;
  s.CardPosition.X += member.step.x;
  s.CardPosition.Y += member.step.y;
  s.PhaseA = 1;
}

}  // namespace

void EnterText1() { EnterCard(EnterMembers[0]); }
void EnterText2() { EnterCard(EnterMembers[1]); }
void EnterText3() { EnterCard(EnterMembers[2]); }
void EnterText4() { EnterCard(EnterMembers[3]); }
void EnterText5() { EnterCard(EnterMembers[4]); }
void EnterText6() { EnterCard(EnterMembers[5]); }
void EnterText7() { EnterCard(EnterMembers[6]); }
void EnterText8() { EnterCard(EnterMembers[7]); }
void EnterText9() { EnterCard(EnterMembers[8]); }
void EnterText99() { EnterCard(EnterMembers[9]); }
void LeaveText1() { LeaveCard(LeaveMembers[0]); }
void LeaveText2() { LeaveCard(LeaveMembers[1]); }
void LeaveText3() { LeaveCard(LeaveMembers[2]); }
void LeaveText4() { LeaveCard(LeaveMembers[3]); }
void LeaveText5() { LeaveCard(LeaveMembers[4]); }
void LeaveText6() { LeaveCard(LeaveMembers[5]); }
void LeaveText7() { LeaveCard(LeaveMembers[6]); }
void LeaveText8() { LeaveCard(LeaveMembers[7]); }
void LeaveText9() { LeaveCard(LeaveMembers[8]); }
