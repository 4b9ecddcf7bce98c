// Small HWL files made with the encoder, in a scratch "data" directory that
// is the working directory for the duration of a test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "hwl.h"
#include "image_textures.h"

class ScratchDataDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::random_device random;
    root_ = std::filesystem::temp_directory_path() / ("quenrik-show-test-" + std::to_string(random()));
    std::filesystem::create_directories(root_ / "data");
    std::filesystem::current_path(root_);
  }
  void TearDown() override {
    StopDecodingPictures();  // a test may leave the pictures decoding
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(root_);
  }

  // A width x height colour picture; seed 1 ... gives a gradient, seed 0 pure red.
  static void WriteColourFile(const std::string& name, int width, int height, int seed) {
    std::vector<std::uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
      rgb[i] = seed == 0 ? 255 : static_cast<std::uint8_t>(i * seed);
      rgb[i + 1] = seed == 0 ? 0 : static_cast<std::uint8_t>(i / 3);
      rgb[i + 2] = seed == 0 ? 0 : static_cast<std::uint8_t>(seed * 17);
    }
    Write(name, rgb, width, height, 3);
  }
  // Every picture of the show's table gets its own size, so the uploads show
  // which file went where.
  static void WriteAllShowPictures() {
    int index = 0;
    for (const PictureFile& file : ShowPictureFiles) {
      const std::string name = std::filesystem::path(file.fileName).filename().string();
      WriteColourFile(name, 4 * (index + 1), 4, index);
      ++index;
    }
  }
  static void WriteGreyFile(const std::string& name, int width, int height) {
    std::vector<std::uint8_t> grey(static_cast<size_t>(width) * height, 128);
    Write(name, grey, width, height, 1);
  }

 private:
  static void Write(const std::string& name, const std::vector<std::uint8_t>& pixels, int width, int height,
                    int channels) {
    HwlEncodeOptions options;
    options.levels = 1;  // sizes only need to be multiples of 4
    std::vector<std::uint8_t> file;
    const HwlStatus status = EncodeHwlImage(pixels, width, height, channels, options, file);
    ASSERT_TRUE(status) << status.message;
    std::ofstream("data/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  }

  std::filesystem::path previous_;
  std::filesystem::path root_;
};
