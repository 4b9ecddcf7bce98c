// The show's fourteen pictures: what each one shows and how it is coded.
//
// Every picture is light drawn on pure black (the show adds the pictures to
// the frame, so black is transparent), 512 x 512, rendered at three times
// that size and averaged down. Shapes and text become one coverage plane,
// then a signed distance field, and a style turns distances into colour:
// gradient fill, bright rim, dark gap, outline and a glow that ends at a
// fixed distance so that the background stays exactly black.
#pragma once

#include <array>
#include <string>

#include "glyphs.h"
#include "hwl.h"
#include "raster.h"

constexpr int PictureSize = 512;  // square, a power of two for OpenGL 1.1 textures

enum class ArtKind { Logo, Loading, Card };

// How a line of a text card is drawn.
enum class LineRole {
  Body,    // the poem's lines, large and white
  Accent,  // headings, smaller and in the logo's colours
  Shout,   // the final statement, very large
};

struct CardLine {
  const char* text = nullptr;  // nullptr ends the card's lines
  LineRole role = LineRole::Body;
};

constexpr int MaxCardLines = 4;

struct ArtPicture {
  const char* fileName;  // below data/
  ArtKind kind;
  std::array<CardLine, MaxCardLines> lines;  // text cards only
  int centreY;                               // where the text block's middle goes, in pixels from the top
  double textScale;                          // type size relative to the usual one (the width may shrink it)
  HwlEncodeOptions coding;
};

// The fonts, opened once: the body face and its oblique for the loading word.
struct ArtFonts {
  Font bold;
  Font boldOblique;
};

// Opens the DejaVu fonts from a directory; returns an error text, empty on success.
std::string OpenArtFonts(const std::string& fontDirectory, ArtFonts& fonts);

// The fourteen pictures, in the order the show loads them (logo, loading, cards).
extern const std::array<ArtPicture, 14> ArtPictures;

// Renders one picture as it goes into the file (the logo already mirrored
// left to right, because the background squares mirror it back).
// Returns an error text, empty on success.
std::string RenderPicture(const ArtPicture& picture, const ArtFonts& fonts, RgbImage& image);
