// quenrik-art: renders the show's pictures and writes them as HWL files.
//
//   quenrik-art [--fonts DIR] [--preview DIR] [--coding LEVELS,BITS] OUTDIR [FILE ...]
//
// Renders every picture (or only the named files, e.g. text_5.hwl), encodes
// it with the project's HWL encoder and writes OUTDIR/FILE. With --preview it
// also writes DIR/NAME.png (the picture as stored) and DIR/NAME.decoded.png
// (what the decoder makes of the file) and DIR/NAME.error.png (the difference,
// four times amplified), and reports how close they are; DIR is made if
// missing, and a preview that cannot be written fails the run like a picture.
// --coding overrides every picture's transform levels and value bits, to try
// other settings (the committed files use the settings of the picture table).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hwl.h"
#include "pictures.h"

namespace {

constexpr const char* DefaultFontDirectory = "/usr/share/fonts/truetype/dejavu";
// A decoded pixel counts as no longer black when a channel is above this.
constexpr int BlackTolerance = 2;

struct Options {
  std::string fontDirectory = DefaultFontDirectory;
  std::string previewDirectory;
  std::string outputDirectory;
  std::vector<std::string> only;
  bool overrideCoding = false;
  HwlEncodeOptions coding;
};

bool ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--coding" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%d,%d", &options.coding.levels, &options.coding.valueBits) != 2) return false;
      options.overrideCoding = true;
    } else if ((arg == "--fonts" || arg == "--preview") && i + 1 < argc) {
      (arg == "--fonts" ? options.fontDirectory : options.previewDirectory) = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      return false;
    } else if (options.outputDirectory.empty()) {
      options.outputDirectory = arg;
    } else {
      options.only.push_back(arg);
    }
  }
  return !options.outputDirectory.empty();
}

bool WriteFile(const std::string& fileName, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(fileName, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

std::string Stem(const std::string& fileName) { return fileName.substr(0, fileName.rfind('.')); }

// Pixels of the picture that are black and have no lit pixel within this
// distance: the open background, which must stay black after coding.
constexpr int OpenDistance = 4;

std::vector<bool> OpenBackground(const RgbImage& image) {
  const int w = image.width, h = image.height;
  auto lit = [&](int x, int y) {
    const std::uint8_t* p = &image.rgb[(std::size_t(y) * w + x) * 3];
    return p[0] != 0 || p[1] != 0 || p[2] != 0;
  };
  std::vector<bool> open(std::size_t(w) * h, true);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (!lit(x, y)) continue;
      for (int dy = -OpenDistance; dy <= OpenDistance; ++dy)
        for (int dx = -OpenDistance; dx <= OpenDistance; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx >= 0 && ny >= 0 && nx < w && ny < h) open[std::size_t(ny) * w + nx] = false;
        }
    }
  return open;
}

// Compares the file as the show decodes it with the rendered picture: PSNR
// over all three channels, the largest error, and how many pixels of the open
// background are no longer black.
std::string Compare(const RgbImage& source, const std::string& fileName, RgbImage& decoded, RgbImage& difference) {
  std::vector<std::uint8_t> pixels;
  HwlHeader header;
  if (HwlStatus status = LoadHwlImage(pixels, header, fileName, true); !status) return "not decoded: " + status.message;
  if (header.width != source.width || header.height != source.height || header.bitsPerPixel != 24)
    return "decoded with the wrong size or depth";
  const std::vector<bool> open = OpenBackground(source);
  decoded = source;
  difference = source;
  double squares = 0.0;
  int lit = 0, haze = 0, worst = 0;
  for (std::size_t i = 0; i < open.size(); ++i) {
    int peak = 0;
    for (int c = 0; c < 3; ++c) {
      const std::uint8_t value = pixels[i * 4 + 2 - c];  // bytes blue, green, red, 0
      decoded.rgb[i * 3 + c] = value;
      const int error = int(value) - int(source.rgb[i * 3 + c]);
      difference.rgb[i * 3 + c] = std::uint8_t(std::min(255, 4 * std::abs(error)));
      squares += double(error) * error;
      worst = std::max(worst, std::abs(error));
      peak = std::max(peak, int(value));
    }
    if (open[i] && peak > BlackTolerance) ++lit;
    if (open[i]) haze = std::max(haze, peak);
  }
  const double mse = squares / double(source.rgb.size());
  char text[200];
  std::snprintf(text, sizeof text, "PSNR %.2f dB, worst error %d, open background: %d pixels above %d, brightest %d",
                mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0, worst, lit, BlackTolerance, haze);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) {
    std::fprintf(stderr, "usage: quenrik-art [--fonts DIR] [--preview DIR] [--coding LEVELS,BITS] OUTDIR [FILE ...]\n");
    return 2;
  }
  ArtFonts fonts;
  if (std::string error = OpenArtFonts(options.fontDirectory, fonts); !error.empty()) {
    std::fprintf(stderr, "quenrik-art: %s\n", error.c_str());
    return 1;
  }
  for (const std::string& name : options.only)
    if (std::none_of(ArtPictures.begin(), ArtPictures.end(), [&](const ArtPicture& p) { return name == p.fileName; })) {
      std::fprintf(stderr, "quenrik-art: no picture is called %s\n", name.c_str());
      return 2;
    }
  if (std::error_code error; !options.previewDirectory.empty() &&
                             !std::filesystem::create_directories(options.previewDirectory, error) && error) {
    std::fprintf(stderr, "quenrik-art: %s: cannot be made (%s)\n", options.previewDirectory.c_str(),
                 error.message().c_str());
    return 1;
  }
  int failures = 0;
  for (const ArtPicture& picture : ArtPictures) {
    const std::string name = picture.fileName;
    if (!options.only.empty() && std::find(options.only.begin(), options.only.end(), name) == options.only.end())
      continue;
    RgbImage image;
    std::vector<std::uint8_t> file;
    std::string error = RenderPicture(picture, fonts, image);
    if (error.empty()) {
      const HwlEncodeOptions& coding = options.overrideCoding ? options.coding : picture.coding;
      HwlStatus status = EncodeHwlImage(image.rgb, image.width, image.height, 3, coding, file);
      if (!status) error = status.message;
    }
    if (error.empty() && !WriteFile(options.outputDirectory + "/" + name, file))
      error = "cannot write " + options.outputDirectory + "/" + name;
    if (!error.empty()) {
      std::fprintf(stderr, "quenrik-art: %s: %s\n", name.c_str(), error.c_str());
      ++failures;
      continue;
    }
    std::string report = std::to_string(file.size()) + " bytes";
    if (!options.previewDirectory.empty()) {
      const std::string base = options.previewDirectory + "/" + Stem(name);
      RgbImage decoded, difference;
      report += ", " + Compare(image, options.outputDirectory + "/" + name, decoded, difference);
      for (const auto& [pngName, png] : {std::pair{base + ".png", &image}, std::pair{base + ".decoded.png", &decoded},
                                         std::pair{base + ".error.png", &difference}})
        if (png->width > 0)
          if (std::string pngError = WritePng(pngName, *png); !pngError.empty()) {
            std::fprintf(stderr, "quenrik-art: %s\n", pngError.c_str());
            ++failures;
          }
    }
    std::printf("%-14s %s\n", name.c_str(), report.c_str());
  }
  return failures == 0 ? 0 : 1;
}
