#include "raster.h"

#include "png_io.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>


namespace {

// Squared distance of a pixel with no target pixel at all: far above any real
// one (2 x 4096^2) yet small enough that differences of squares stay exact.
constexpr double Far = 1e12;
constexpr double Boundary = 1e30;  // the envelope's outer interval ends

// One-dimensional squared distance transform of f (Felzenszwalb and
// Huttenlocher): d[q] = min over p of (q - p)^2 + f[p].
void Transform1D(const std::vector<double>& f, std::vector<double>& d, std::vector<int>& v, std::vector<double>& z) {
  const int n = int(f.size());
  // Where the parabolas rooted at q and p cross; both f values are at most
  // Far, so this never reaches -Boundary and k never drops below 0.
  auto crossing = [&f](int q, int p) { return ((f[q] + double(q) * q) - (f[p] + double(p) * p)) / (2.0 * (q - p)); };
  int k = 0;
  v[0] = 0;
  z[0] = -Boundary;
  z[1] = Boundary;
  for (int q = 1; q < n; ++q) {
    double s = crossing(q, v[k]);
    while (s <= z[k]) s = crossing(q, v[--k]);
    ++k;
    v[k] = q;
    z[k] = s;
    z[k + 1] = Boundary;
  }
  k = 0;
  for (int q = 0; q < n; ++q) {
    while (z[k + 1] < q) ++k;
    const double dq = double(q - v[k]);
    d[q] = dq * dq + f[v[k]];
  }
}

// Squared distance from every pixel to the nearest pixel where target is true.
std::vector<double> SquaredDistanceTo(const std::vector<bool>& target, int width, int height) {
  std::vector<double> grid(std::size_t(width) * std::size_t(height));
  for (std::size_t i = 0; i < grid.size(); ++i) grid[i] = target[i] ? 0.0 : Far;
  const int longest = std::max(width, height);
  std::vector<double> f(longest), d(longest), z(longest + 1);
  std::vector<int> v(longest);
  f.resize(height);
  d.resize(height);
  for (int x = 0; x < width; ++x) {
    for (int y = 0; y < height; ++y) f[y] = grid[std::size_t(y) * width + x];
    Transform1D(f, d, v, z);
    for (int y = 0; y < height; ++y) grid[std::size_t(y) * width + x] = d[y];
  }
  f.resize(width);
  d.resize(width);
  for (int y = 0; y < height; ++y) {
    std::copy_n(&grid[std::size_t(y) * width], width, f.begin());
    Transform1D(f, d, v, z);
    std::copy_n(d.begin(), width, &grid[std::size_t(y) * width]);
  }
  return grid;
}

}  // namespace

Plane SignedDistance(const Plane& coverage) {
  const std::size_t count = coverage.v.size();
  std::vector<bool> inside(count);
  for (std::size_t i = 0; i < count; ++i) inside[i] = coverage.v[i] >= 0.5f;
  std::vector<bool> outside(count);
  for (std::size_t i = 0; i < count; ++i) outside[i] = !inside[i];
  const std::vector<double> toInside = SquaredDistanceTo(inside, coverage.width, coverage.height);
  const std::vector<double> toOutside = SquaredDistanceTo(outside, coverage.width, coverage.height);
  Plane result(coverage.width, coverage.height);
  for (std::size_t i = 0; i < count; ++i) {
    // Pixel centres lie half a pixel from the edge between them.
    result.v[i] = inside[i] ? float(-(std::sqrt(toOutside[i]) - 0.5)) : float(std::sqrt(toInside[i]) - 0.5);
  }
  return result;
}

void FillPolygon(Plane& coverage, const std::vector<Point>& polygon) {
  const std::size_t n = polygon.size();
  std::vector<double> crossings;
  for (int y = 0; y < coverage.height; ++y) {
    const double centre = y + 0.5;
    crossings.clear();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
      const Point& a = polygon[j];
      const Point& b = polygon[i];
      if ((a.y <= centre && centre < b.y) || (b.y <= centre && centre < a.y))
        crossings.push_back(a.x + (centre - a.y) * (b.x - a.x) / (b.y - a.y));
    }
    std::sort(crossings.begin(), crossings.end());
    for (std::size_t k = 0; k + 1 < crossings.size(); k += 2) {
      // Pixels whose centre x + 0.5 lies in [from, to).
      const int first = std::max(0, int(std::ceil(crossings[k] - 0.5)));
      const int last = std::min(coverage.width, int(std::ceil(crossings[k + 1] - 0.5)));
      for (int x = first; x < last; ++x) coverage.at(x, y) = 1.0f;
    }
  }
}

RgbImage DownsampleToRgb(const ColourPlanes& planes, int factor) {
  RgbImage image;
  image.width = planes.r.width / factor;
  image.height = planes.r.height / factor;
  image.rgb.resize(std::size_t(image.width) * std::size_t(image.height) * 3);
  const double area = double(factor) * factor;
  const Plane* channels[3] = {&planes.r, &planes.g, &planes.b};
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      for (int c = 0; c < 3; ++c) {
        double sum = 0.0;
        for (int sy = 0; sy < factor; ++sy)
          for (int sx = 0; sx < factor; ++sx) sum += channels[c]->at(x * factor + sx, y * factor + sy);
        const double level = std::clamp(sum / area, 0.0, 1.0) * 255.0;
        image.rgb[(std::size_t(y) * image.width + x) * 3 + c] = std::uint8_t(std::floor(level + 0.5));
      }
  return image;
}

void MirrorLeftRight(RgbImage& image) {
  for (int y = 0; y < image.height; ++y) {
    std::uint8_t* row = &image.rgb[std::size_t(y) * image.width * 3];
    for (int x = 0; x < image.width / 2; ++x)
      for (int c = 0; c < 3; ++c) std::swap(row[x * 3 + c], row[(image.width - 1 - x) * 3 + c]);
  }
}

std::string WritePng(const std::string& fileName, const RgbImage& image) {
  return WritePngFile(fileName, image.width, image.height, 3, image.rgb.data());
}
