// Runs the programs' start-up step and reports where it left the program:
//   installed_data_probe always|unless-data-here
// prints the working directory, then FromStartFolder of "out.mp4" and of
// "/abs/out.mp4", one per line. The tests copy it into made-up install trees.
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "installed_data.h"

int main(int argc, char** argv) {
  if (argc != 2) return 64;
  const std::string_view mode = argv[1];
  UseInstalledData(mode == "always" ? InstalledDataUse::Always : InstalledDataUse::UnlessDataHere);
  std::printf("%s\n%s\n%s\n", std::filesystem::current_path().c_str(), FromStartFolder("out.mp4").c_str(),
              FromStartFolder("/abs/out.mp4").c_str());
  return 0;
}
