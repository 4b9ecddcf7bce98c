// Writes a small stand-in for the show's pictures into DIR/data: fourteen HWL
// files made with the encoder (the loading picture bright, so a screenshot
// shows it). End-to-end tests use it when the repository's data/ is not
// complete. Usage: make_show_data DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hwl.h"
#include "image_textures.h"

namespace {

constexpr int PictureSide = 64;  // a multiple of 2^(levels + 1) for the default options

bool WritePicture(const std::filesystem::path& path, int seed) {
  std::vector<std::uint8_t> rgb(PictureSide * PictureSide * 3);
  for (int y = 0; y < PictureSide; ++y)
    for (int x = 0; x < PictureSide; ++x) {
      std::uint8_t* pixel = &rgb[(y * PictureSide + x) * 3];
      pixel[0] = static_cast<std::uint8_t>(128 + 127 * ((x / 8 + y / 8 + seed) % 2));
      pixel[1] = static_cast<std::uint8_t>(x * 4);
      pixel[2] = static_cast<std::uint8_t>(y * 4);
    }
  std::vector<std::uint8_t> file;
  const HwlStatus status = EncodeHwlImage(rgb, PictureSide, PictureSide, 3, HwlEncodeOptions{}, file);
  if (!status) {
    std::fprintf(stderr, "make_show_data: %s\n", status.message.c_str());
    return false;
  }
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_show_data DIR\n");
    return 2;
  }
  const std::filesystem::path root(argv[1]);
  std::filesystem::create_directories(root / "data");
  int seed = 0;
  if (!WritePicture(root / LoadingPictureFile, seed++)) return 1;
  for (const PictureFile& file : ShowPictureFiles)
    if (!WritePicture(root / file.fileName, seed++)) return 1;
  return 0;
}
