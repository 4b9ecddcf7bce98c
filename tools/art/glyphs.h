// Text into coverage planes with FreeType.
//
// Glyphs are loaded unhinted and placed at fractional pen positions, so the
// result depends only on the font file and on FreeType's outline rasteriser.
// That rasteriser has changed in small ways between FreeType releases: the
// pictures are byte-reproducible with the same FreeType version and font file
// (they were made with FreeType 2.12.1 and DejaVu 2.37, Debian 12).
#pragma once

#include <memory>
#include <string>

#include "raster.h"

struct FontFace;  // FreeType library and face, released together

struct Font {
  std::shared_ptr<FontFace> face;
};

// Opens a font file; returns an error text, empty on success.
std::string OpenFont(const std::string& fileName, Font& font);

// Horizontal advance of a UTF-8 line in pixels at the given pixel size.
double MeasureText(const Font& font, const std::string& text, double pixelSize);

// Ink box of rendered coverage: the smallest rectangle holding every pixel
// with coverage above zero (empty when right < left).
struct InkBox {
  int left = 0, top = 0, right = -1, bottom = -1;  // inclusive
  bool Empty() const { return right < left; }
};
InkBox FindInk(const Plane& coverage);

// Renders a UTF-8 line with its pen starting at (x, baseline), in pixels of
// the plane, adding its coverage to the plane (the larger value wins).
// Returns an error text, empty on success.
std::string DrawText(const Font& font, const std::string& text, double pixelSize, double x, double baseline,
                     Plane& coverage);

// FreeType's version as "major.minor.patch".
std::string FreeTypeVersion();
