#include "pictures.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int Supersample = 3;  // rendering is done at 3 x 3 samples per pixel
constexpr int Hi = PictureSize * Supersample;
// Ink stays this far from the picture's edge, so that outline and glow end
// inside it and the texture's edge (repeated by GL_REPEAT) is black.
constexpr double Margin = 40.0;

struct Rgb {
  float r = 0, g = 0, b = 0;
};
constexpr Rgb Colour(int r, int g, int b) { return {r / 255.0f, g / 255.0f, b / 255.0f}; }

// Fill colours from the top of a shape (t = 0) over its middle to its bottom.
struct Gradient {
  Rgb top, middle, bottom;
};

// Distances in output pixels, measured outward from the shape's edge.
struct InkStyle {
  Rgb rim;
  float rimWidth;  // bright band just inside the edge
  float gapWidth;  // black band between the edge and the outline
  Rgb outline;
  float outlineWidth;
  Rgb glow;          // at its brightest next to the outline
  float glowRadius;  // the glow reaches exactly zero this far beyond the outline
};

// Hot sunrise fill for the logo and the headings.
constexpr Gradient LogoGradient{Colour(255, 246, 170), Colour(255, 150, 42), Colour(232, 40, 112)};
// White to a pale warm tone for the poem, white over gold to fire for the final shout.
constexpr Gradient CardGradient{Colour(255, 255, 255), Colour(255, 248, 232), Colour(255, 214, 170)};
constexpr Gradient ShoutGradient{Colour(255, 255, 255), Colour(255, 236, 150), Colour(255, 150, 60)};

// Neon sign: white-hot rim, black gap, cyan tube, blue haze.
constexpr InkStyle LogoInk{Colour(255, 255, 236), 2.0f, 3.0f, Colour(70, 200, 255), 2.5f, Colour(30, 55, 190), 26.0f};
// Text: no gap (thin strokes stay solid), a magenta outline and a violet
// haze that lift the letters off the busy background.
constexpr InkStyle CardInk{Colour(255, 255, 255), 0.0f, 0.0f, Colour(240, 70, 150), 3.0f, Colour(90, 25, 150), 16.0f};

constexpr float Reach(const InkStyle& style) { return style.gapWidth + style.outlineWidth + style.glowRadius; }
static_assert(Reach(LogoInk) < Margin && Reach(CardInk) < Margin, "the glow must end inside the margin");

// Glyph sizes in output pixels.
constexpr double BodySize = 64.0;
constexpr double AccentSize = 58.0;
constexpr double ShoutSize = 132.0;
constexpr double CapHeight = 0.73;  // DejaVu Sans capital height per pixel size
constexpr double Descent = 0.26;    // room below the baseline per pixel size
constexpr double LineGap = 0.3;     // space between one line's descent and the next capital

// What fills the shapes of one row of the canvas.
struct RowFill {
  const Gradient* gradient = &CardGradient;
  float t = 0.5f;
};

struct Canvas {
  Plane coverage{Hi, Hi};
  std::vector<RowFill> rows = std::vector<RowFill>(Hi);
};

// Rows from top to bottom (output pixels) take the gradient from t = 0 to 1;
// the reach above and below carries the end colours on.
void SetGradientRows(Canvas& canvas, double top, double bottom, double reachAbove, double reachBelow,
                     const Gradient& gradient) {
  const int first = std::max(0, int(std::floor((top - reachAbove) * Supersample)));
  const int last = std::min(Hi - 1, int(std::ceil((bottom + reachBelow) * Supersample)));
  for (int y = first; y <= last; ++y) {
    const double t = ((y + 0.5) / Supersample - top) / (bottom - top);
    canvas.rows[y] = {&gradient, float(std::clamp(t, 0.0, 1.0))};
  }
}

Rgb Mix(Rgb a, Rgb b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

Rgb GradientAt(const Gradient& gradient, float t) {
  return t < 0.5f ? Mix(gradient.top, gradient.middle, 2.0f * t) : Mix(gradient.middle, gradient.bottom, 2.0f * t - 1.0f);
}

// 1 where the signed distance is below the edge, a one-sample ramp across it.
float Below(float distance, float edge) { return std::clamp(0.5f - (distance - edge) * Supersample, 0.0f, 1.0f); }

// Turns the canvas into light: every sample's colour depends on its distance
// to the ink's edge.
ColourPlanes Shade(const Canvas& canvas, const InkStyle& style) {
  const Plane distance = SignedDistance(canvas.coverage);
  ColourPlanes out(Hi, Hi);
  const float outlineEnd = style.gapWidth + style.outlineWidth;
  for (int y = 0; y < Hi; ++y) {
    const RowFill& row = canvas.rows[y];
    const Rgb fill = GradientAt(*row.gradient, row.t);
    for (int x = 0; x < Hi; ++x) {
      const float d = distance.at(x, y) / Supersample;
      const float inside = Below(d, 0.0f);
      const float core = Below(d, -style.rimWidth);
      const float tube = Below(d, outlineEnd) - Below(d, style.gapWidth);
      const float beyond = 1.0f - Below(d, outlineEnd);
      const float reach = std::max(d - outlineEnd, 0.0f) / style.glowRadius;
      const float fade = reach < 1.0f ? (1.0f - reach) * (1.0f - reach) * (1.0f - reach) : 0.0f;
      const float haze = beyond * fade;
      out.r.at(x, y) = fill.r * core + style.rim.r * (inside - core) + style.outline.r * tube + style.glow.r * haze;
      out.g.at(x, y) = fill.g * core + style.rim.g * (inside - core) + style.outline.g * tube + style.glow.g * haze;
      out.b.at(x, y) = fill.b * core + style.rim.b * (inside - core) + style.outline.b * tube + style.glow.b * haze;
    }
  }
  return out;
}

// ---- The group's letters, built from straight strokes ----------------------
//
// Design units, y down, a capital 1.8 high; the letters lean forward (the top
// moves right by Lean per unit of height) and speed streaks trail behind the Z.

constexpr double LetterHeight = 2.2;
constexpr double Lean = 0.2;
constexpr double Stroke = 0.42;

using Shape = std::vector<Point>;

std::vector<Shape> ZemShapes(bool withStreaks) {
  constexpr double H = LetterHeight, S = Stroke;
  constexpr double zLeft = 0.0, eLeft = 1.46, mLeft = 2.78;
  std::vector<Shape> shapes = {
      // Z: top bar, diagonal, bottom bar in one outline.
      {{zLeft, 0}, {zLeft + 1.2, 0}, {zLeft + 1.2, S}, {zLeft + 0.5, H - S}, {zLeft + 1.2, H - S},
       {zLeft + 1.2, H}, {zLeft, H}, {zLeft, H - S}, {zLeft + 0.7, S}, {zLeft, S}},
      // E with a shorter middle arm.
      {{eLeft, 0}, {eLeft + 1.06, 0}, {eLeft + 1.06, S}, {eLeft + S, S}, {eLeft + S, H / 2 - S / 2},
       {eLeft + 0.88, H / 2 - S / 2}, {eLeft + 0.88, H / 2 + S / 2}, {eLeft + S, H / 2 + S / 2},
       {eLeft + S, H - S}, {eLeft + 1.06, H - S}, {eLeft + 1.06, H}, {eLeft, H}},
      // M: two stems joined by a V that reaches down past the middle.
      {{mLeft, 0}, {mLeft + 0.44, 0}, {mLeft + 0.77, 0.72}, {mLeft + 1.1, 0}, {mLeft + 1.54, 0},
       {mLeft + 1.54, H}, {mLeft + 1.12, H}, {mLeft + 1.12, 0.9}, {mLeft + 0.77, 1.6}, {mLeft + 0.42, 0.9},
       {mLeft + 0.42, H}, {mLeft, H}},
  };
  if (withStreaks) {
    // Speed streaks trailing behind the Z, in line with its bars and middle.
    const auto streak = [](double left, double right, double top, double height) {
      return Shape{{left, top}, {right, top}, {right, top + height}, {left, top + height}};
    };
    shapes.push_back(streak(-0.95, -0.24, 0.12, 0.18));
    shapes.push_back(streak(-0.65, -0.24, H / 2 - 0.09, 0.18));
    shapes.push_back(streak(-1.2, -0.24, H - 0.3, 0.18));
  }
  return shapes;
}

// Leans the shapes, then scales and moves them so that their outer box is
// `width` output pixels wide and centred at (centreX, centreY).
// Returns the letters' top and bottom in output pixels.
std::pair<double, double> PlaceShapes(Canvas& canvas, std::vector<Shape> shapes, double centreX, double centreY,
                                      double width) {
  double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
  for (Shape& shape : shapes)
    for (Point& p : shape) {
      p.x += Lean * (LetterHeight - p.y);
      left = std::min(left, p.x);
      right = std::max(right, p.x);
      top = std::min(top, p.y);
      bottom = std::max(bottom, p.y);
    }
  const double scale = width / (right - left);
  const double offsetX = centreX - (left + right) / 2 * scale;
  const double offsetY = centreY - (top + bottom) / 2 * scale;
  for (Shape& shape : shapes) {
    for (Point& p : shape) p = {(p.x * scale + offsetX) * Supersample, (p.y * scale + offsetY) * Supersample};
    FillPolygon(canvas.coverage, shape);
  }
  return {offsetY, LetterHeight * scale + offsetY};
}

// ---- Text --------------------------------------------------------------------

struct RenderedLine {
  Plane ink;
  InkBox box;
  double size = 0;     // output pixels
  int baseline = 0;    // row of the baseline in `ink`
  LineRole role = LineRole::Body;
};

double RoleSize(LineRole role) {
  switch (role) {
    case LineRole::Accent: return AccentSize;
    case LineRole::Shout: return ShoutSize;
    case LineRole::Body: break;
  }
  return BodySize;
}

const Gradient& RoleGradient(LineRole role) {
  switch (role) {
    case LineRole::Accent: return LogoGradient;
    case LineRole::Shout: return ShoutGradient;
    case LineRole::Body: break;
  }
  return CardGradient;
}

std::string RenderLine(const Font& font, const std::string& text, double size, LineRole role, RenderedLine& line) {
  const double sizeHi = size * Supersample;
  const int pad = int(sizeHi);
  const int width = int(std::ceil(MeasureText(font, text, sizeHi))) + 2 * pad;
  line.ink = Plane(width, int(std::ceil(sizeHi * 2.0)));
  line.baseline = int(std::lround(sizeHi * 1.3));
  line.size = size;
  line.role = role;
  if (std::string error = DrawText(font, text, sizeHi, pad, line.baseline, line.ink); !error.empty())
    return "\"" + text + "\": " + error;
  line.box = FindInk(line.ink);
  if (line.box.Empty()) return "\"" + text + "\": no ink";
  return {};
}

// Copies a line's ink into the canvas so that its ink is centred on the
// picture's middle column and its baseline lands on the given row.
void PasteLine(Canvas& canvas, const RenderedLine& line, int baselineRow) {
  const int inkCentre2 = line.box.left + line.box.right + 1;  // twice the ink's centre column
  const int offsetX = (Hi - inkCentre2) / 2;
  const int offsetY = baselineRow - line.baseline;
  for (int y = line.box.top; y <= line.box.bottom; ++y)
    for (int x = line.box.left; x <= line.box.right; ++x) {
      const int cx = x + offsetX, cy = y + offsetY;
      if (cx < 0 || cy < 0 || cx >= Hi || cy >= Hi) continue;
      float& cell = canvas.coverage.at(cx, cy);
      cell = std::max(cell, line.ink.at(x, y));
    }
}

// Lays the lines out as one centred block whose ink is centred on centreY
// (output pixels). Lines too wide for the margins shrink the whole block.
std::string SetText(Canvas& canvas, const Font& font, const std::vector<CardLine>& lines, double centreY,
                    double scale) {
  constexpr double Usable = PictureSize - 2 * Margin;
  double shrink = scale;
  std::vector<RenderedLine> rendered(lines.size());
  for (int attempt = 0; attempt < 2; ++attempt) {
    double widest = 0.0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (std::string error = RenderLine(font, lines[i].text, RoleSize(lines[i].role) * shrink, lines[i].role,
                                         rendered[i]);
          !error.empty())
        return error;
      widest = std::max(widest, double(rendered[i].box.right - rendered[i].box.left + 1) / Supersample / Usable);
    }
    if (widest <= 1.0) break;
    shrink /= widest * 1.001;
  }
  // Baselines relative to the first one, in samples.
  std::vector<int> baselines(lines.size(), 0);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const double step = (Descent + LineGap) * rendered[i - 1].size + CapHeight * rendered[i].size;
    baselines[i] = baselines[i - 1] + int(std::lround(step * Supersample));
  }
  int inkTop = 1 << 30, inkBottom = -(1 << 30);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    inkTop = std::min(inkTop, baselines[i] - (rendered[i].baseline - rendered[i].box.top));
    inkBottom = std::max(inkBottom, baselines[i] + (rendered[i].box.bottom - rendered[i].baseline));
  }
  const int shift = int(std::lround(centreY * Supersample)) - (inkTop + inkBottom + 1) / 2;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int row = baselines[i] + shift;
    PasteLine(canvas, rendered[i], row);
    const double baseline = double(row) / Supersample, size = rendered[i].size;
    SetGradientRows(canvas, baseline - CapHeight * size, baseline, 0.3 * size, Descent * size,
                    RoleGradient(rendered[i].role));
  }
  return {};
}

// ---- The pictures ------------------------------------------------------------

void DrawLogo(Canvas& canvas) {
  const auto [top, bottom] = PlaceShapes(canvas, ZemShapes(true), PictureSize / 2.0, PictureSize / 2.0,
                                         PictureSize - 2 * Margin);
  SetGradientRows(canvas, top, bottom, 20.0, 20.0, LogoGradient);
}

std::string DrawLoading(Canvas& canvas, const ArtFonts& fonts) {
  const auto [top, bottom] = PlaceShapes(canvas, ZemShapes(true), PictureSize / 2.0, 200.0, 330.0);
  SetGradientRows(canvas, top, bottom, 10.0, 10.0, LogoGradient);
  RenderedLine word;
  if (std::string error = RenderLine(fonts.boldOblique, "loading", 76.0, LineRole::Accent, word); !error.empty())
    return error;
  const int baselineRow = int(std::lround((bottom + 110.0) * Supersample));
  PasteLine(canvas, word, baselineRow);
  const double baseline = double(baselineRow) / Supersample;
  SetGradientRows(canvas, baseline - CapHeight * word.size, baseline, 0.3 * word.size, Descent * word.size,
                  LogoGradient);
  return {};
}

// The ink, its outline and its glow must end inside the picture.
std::string CheckMargins(const Canvas& canvas) {
  const InkBox box = FindInk(canvas.coverage);
  if (box.Empty()) return "the picture is empty";
  const double low = Margin * Supersample, high = (PictureSize - Margin) * Supersample;
  if (box.left < low || box.top < low || box.right >= high || box.bottom >= high)
    return "ink reaches into the " + std::to_string(int(Margin)) + "-pixel margin";
  return {};
}

}  // namespace

std::string OpenArtFonts(const std::string& fontDirectory, ArtFonts& fonts) {
  if (std::string error = OpenFont(fontDirectory + "/DejaVuSans-Bold.ttf", fonts.bold); !error.empty()) return error;
  return OpenFont(fontDirectory + "/DejaVuSans-BoldOblique.ttf", fonts.boldOblique);
}

namespace {
// Three transform steps and 8-bit values: decoded within 4 grey levels of the
// rendering (PSNR about 60 dB) and the open background exactly black, where
// more steps leave stray levels of 1 in it and fewer value bits double the
// error and light up stray background pixels.
constexpr HwlEncodeOptions PictureCoding{2, 8};
using L = CardLine;
constexpr LineRole Accent = LineRole::Accent;
constexpr LineRole Shout = LineRole::Shout;
// The closing page shows its cards at 14 units instead of 20: larger type
// (as far as the width allows) keeps them as legible as the poem.
constexpr double Closing = 1.25;
}  // namespace

// The poem runs over cards 1 to 9 and ends on 99; 10 and 11 are the closing
// page. Card 1 rests low on the screen with its lower part cut off by the
// view's edge, so its text sits in the upper part of the card.
const std::array<ArtPicture, 14> ArtPictures = {{
    {"zem_logo.hwl", ArtKind::Logo, {}, 256, 1.0, PictureCoding},
    {"loading.hwl", ArtKind::Loading, {}, 256, 1.0, PictureCoding},
    {"text_1.hwl", ArtKind::Card, {L{"the screen"}, L{"hums at night"}}, 150, 1.0, PictureCoding},
    {"text_2.hwl", ArtKind::Card, {L{"a signal"}, L{"from far away"}}, 256, 1.0, PictureCoding},
    {"text_3.hwl", ArtKind::Card, {L{"leave the"}, L{"clock behind"}}, 256, 1.0, PictureCoding},
    {"text_4.hwl", ArtKind::Card, {L{"the door"}, L{"is open"}}, 256, 1.0, PictureCoding},
    {"text_5.hwl", ArtKind::Card, {L{"step out"}, L{"into the light"}}, 256, 1.0, PictureCoding},
    {"text_6.hwl", ArtKind::Card, {L{"no map"}, L{"no way back"}}, 256, 1.0, PictureCoding},
    {"text_7.hwl", ArtKind::Card, {L{"only the beat"}, L{"to follow"}}, 256, 1.0, PictureCoding},
    {"text_8.hwl", ArtKind::Card, {L{"faster"}, L{"than fear"}}, 256, 1.0, PictureCoding},
    {"text_9.hwl", ArtKind::Card, {L{"further"}, L{"than night"}}, 256, 1.0, PictureCoding},
    {"text_99.hwl", ArtKind::Card, {L{"RUN", Shout}, L{"AWAY", Shout}}, 256, 1.0, PictureCoding},
    {"text_10.hwl", ArtKind::Card, {L{"credits", Accent}, L{"code: ZEM"}, L{"music: ZEM"}, L{"graphics: ZEM"}}, 256,
     Closing, PictureCoding},
    {"text_11.hwl", ArtKind::Card, {L{"thank you"}, L{"for running"}, L{"with us"}}, 256, Closing, PictureCoding},
}};

std::string RenderPicture(const ArtPicture& picture, const ArtFonts& fonts, RgbImage& image) {
  Canvas canvas;
  const InkStyle* style = &CardInk;
  switch (picture.kind) {
    case ArtKind::Logo:
      DrawLogo(canvas);
      style = &LogoInk;
      break;
    case ArtKind::Loading:
      if (std::string error = DrawLoading(canvas, fonts); !error.empty()) return error;
      style = &LogoInk;
      break;
    case ArtKind::Card: {
      std::vector<CardLine> lines;
      for (const CardLine& line : picture.lines)
        if (line.text) lines.push_back(line);
      if (std::string error = SetText(canvas, fonts.bold, lines, picture.centreY, picture.textScale); !error.empty())
        return error;
      break;
    }
  }
  if (std::string error = CheckMargins(canvas); !error.empty()) return error;
  image = DownsampleToRgb(Shade(canvas, *style), Supersample);
  // The background squares map the texture's right edge to the left: store
  // the logo mirrored so that it reads correctly on screen.
  if (picture.kind == ArtKind::Logo) MirrorLeftRight(image);
  return {};
}
