#include "glyphs.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

struct FontFace {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  ~FontFace() {
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
  }
};

namespace {

constexpr FT_Int32 LoadFlags = FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;
constexpr double SubPixel = 64.0;  // FreeType positions are 26.6 fixed point

// Code points of a UTF-8 string; malformed bytes become U+FFFD.
std::vector<char32_t> DecodeUtf8(const std::string& text) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(code);
    i += length;
  }
  return out;
}

bool SetSize(FT_Face face, double pixelSize) {
  return FT_Set_Char_Size(face, 0, FT_F26Dot6(std::lround(pixelSize * SubPixel)), 72, 72) == 0;
}

// Kerning between two glyphs in pixels (the font's legacy kerning table, if any).
double Kerning(FT_Face face, FT_UInt left, FT_UInt right, double pixelSize) {
  if (!FT_HAS_KERNING(face) || left == 0) return 0.0;
  FT_Vector delta{};
  if (FT_Get_Kerning(face, left, right, FT_KERNING_UNSCALED, &delta) != 0) return 0.0;
  return double(delta.x) * pixelSize / double(face->units_per_EM);
}

// Unhinted advance in pixels of the glyph just loaded.
double Advance(FT_Face face) { return double(face->glyph->linearHoriAdvance) / 65536.0; }

}  // namespace

std::string OpenFont(const std::string& fileName, Font& font) {
  auto face = std::make_shared<FontFace>();
  if (FT_Init_FreeType(&face->library) != 0) return "FreeType cannot start";
  if (FT_New_Face(face->library, fileName.c_str(), 0, &face->face) != 0) return fileName + ": cannot open font";
  font.face = face;
  return {};
}

double MeasureText(const Font& font, const std::string& text, double pixelSize) {
  FT_Face face = font.face->face;
  if (!SetSize(face, pixelSize)) return 0.0;
  double pen = 0.0;
  FT_UInt previous = 0;
  for (char32_t code : DecodeUtf8(text)) {
    const FT_UInt glyph = FT_Get_Char_Index(face, code);
    pen += Kerning(face, previous, glyph, pixelSize);
    if (FT_Load_Glyph(face, glyph, LoadFlags) == 0) pen += Advance(face);
    previous = glyph;
  }
  return pen;
}

InkBox FindInk(const Plane& coverage) {
  InkBox box{coverage.width, coverage.height, -1, -1};
  for (int y = 0; y < coverage.height; ++y)
    for (int x = 0; x < coverage.width; ++x)
      if (coverage.at(x, y) > 0.0f) {
        box.left = std::min(box.left, x);
        box.right = std::max(box.right, x);
        box.top = std::min(box.top, y);
        box.bottom = std::max(box.bottom, y);
      }
  if (box.right < 0) return InkBox{};
  return box;
}

std::string DrawText(const Font& font, const std::string& text, double pixelSize, double x, double baseline,
                     Plane& coverage) {
  FT_Face face = font.face->face;
  if (!SetSize(face, pixelSize)) return "cannot set font size";
  double pen = x;
  FT_UInt previous = 0;
  for (char32_t code : DecodeUtf8(text)) {
    const FT_UInt glyph = FT_Get_Char_Index(face, code);
    if (glyph == 0) return "the font has no glyph for U+" + std::to_string(unsigned(code));
    pen += Kerning(face, previous, glyph, pixelSize);
    previous = glyph;
    if (FT_Load_Glyph(face, glyph, LoadFlags) != 0) return "cannot load a glyph";
    const double advance = Advance(face);
    // Whole pixels go to the bitmap's place, the fraction into the outline.
    const double originX = std::floor(pen), originY = std::floor(baseline);
    FT_Outline_Translate(&face->glyph->outline, FT_Pos(std::lround((pen - originX) * SubPixel)),
                         -FT_Pos(std::lround((baseline - originY) * SubPixel)));
    if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) return "cannot render a glyph";
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    const int left = int(originX) + face->glyph->bitmap_left;
    const int top = int(originY) - face->glyph->bitmap_top;
    for (unsigned row = 0; row < bitmap.rows; ++row)
      for (unsigned column = 0; column < bitmap.width; ++column) {
        const int px = left + int(column), py = top + int(row);
        if (px < 0 || py < 0 || px >= coverage.width || py >= coverage.height) continue;
        const float value = float(bitmap.buffer[std::ptrdiff_t(row) * bitmap.pitch + column]) / 255.0f;
        float& cell = coverage.at(px, py);
        cell = std::max(cell, value);
      }
    pen += advance;
  }
  return {};
}

std::string FreeTypeVersion() {
  return std::to_string(FREETYPE_MAJOR) + "." + std::to_string(FREETYPE_MINOR) + "." + std::to_string(FREETYPE_PATCH);
}
