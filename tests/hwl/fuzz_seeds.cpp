// Writes a seed corpus of small well-formed HWL files into a directory.
#include <cstdio>
#include <fstream>
#include <string>

#include "hwl_test_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIRECTORY\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::mt19937 rng(11);
  const auto save = [&](int i, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(dir + "/seed" + std::to_string(i) + ".hwl", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  };
  int i = 0;
  for (; i < 40; ++i) save(i, testhwl::Write(testhwl::RandomFile(rng, 16)));
  for (const int bits : {1, 3, 8}) save(i++, testhwl::Write(testhwl::Analyse(testhwl::Picture(16, 16), 16, 16, 2, bits)));
  return 0;
}
