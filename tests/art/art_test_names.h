// How the picture table's entries appear in test names and messages.
#pragma once

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "pictures.h"

inline void PrintTo(const ArtPicture& picture, std::ostream* out) { *out << picture.fileName; }

inline std::string PictureTestName(const testing::TestParamInfo<ArtPicture>& info) {
  std::string name = info.param.fileName;
  name = name.substr(0, name.find('.'));
  std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return name;
}
