// Raster planes for the picture maker: float planes, a signed distance field
// from a coverage plane, box downsampling, 8-bit RGB images and PNG output.
//
// Everything here uses only +, -, *, / and sqrt, which IEEE-754 rounds the same
// way on every machine, so a picture computed from the same inputs comes out
// bit-identical anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A width x height plane of floats, row 0 first.
struct Plane {
  int width = 0;
  int height = 0;
  std::vector<float> v;

  Plane() = default;
  Plane(int w, int h, float fill = 0.0f) : width(w), height(h), v(std::size_t(w) * std::size_t(h), fill) {}
  float& at(int x, int y) { return v[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
  float at(int x, int y) const { return v[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
};

// Signed distance in pixels from each pixel centre to the edge of the shape
// whose coverage is at least one half: negative inside, positive outside.
// Exact Euclidean distance transform on the thresholded plane (two passes of
// the lower envelope of parabolas), corrected by half a pixel toward the edge.
Plane SignedDistance(const Plane& coverage);

// A point in pixels of a plane (x to the right, y down).
struct Point {
  double x = 0.0, y = 0.0;
};

// Sets to 1 every pixel of the plane whose centre lies inside the polygon
// (even-odd rule), leaving the others as they are: several calls make a union.
void FillPolygon(Plane& coverage, const std::vector<Point>& polygon);

// An RGB image with 8-bit channels, interleaved R, G, B, row 0 first.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

// Linear light values 0..1 in three planes, not yet quantised.
struct ColourPlanes {
  Plane r, g, b;
  ColourPlanes() = default;
  ColourPlanes(int w, int h) : r(w, h), g(w, h), b(w, h) {}
};

// Averages factor x factor blocks and rounds to 8 bits (values clamped to 0..1).
RgbImage DownsampleToRgb(const ColourPlanes& planes, int factor);

// Mirrors an image left to right.
void MirrorLeftRight(RgbImage& image);

// Writes an 8-bit RGB PNG; returns an error text, empty on success.
std::string WritePng(const std::string& fileName, const RgbImage& image);
