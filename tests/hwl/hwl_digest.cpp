// Decoded results as digests, for comparing builds on different processors
// (tools/test-hwl-portable.sh): the plain x86 build writes the corpus, then
// every build prints the same lines for it.
//
//   hwl_digest corpus DIR   write the comparison corpus into DIR
//   hwl_digest FILE...      per file: its name, a digest of the decoded pixels
//                           and one of the synthesised sample planes (bits)
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "hwl_decode.h"
#include "hwl_test_paths.h"
#include "hwl_test_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint64_t Fnv(const void* data, std::size_t size, std::uint64_t h = 0xCBF29CE484222325u) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) h = (h ^ bytes[i]) * 0x100000001B3u;
  return h;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

// Random files of every shape; a third with band scales anywhere in the
// double range (factors up to 2^960, samples down to subnormals); natural
// pictures analysed at few and many bits.
bool WriteCorpus(const std::string& dir) {
  std::mt19937 rng(20261209);
  for (int i = 0; i < 90; ++i) {
    testhwl::File f = testhwl::RandomFile(rng, i % 10 == 0 ? 160 : 64);
    if (i % 3 == 0)
      for (testhwl::Plane& plane : f.planes)
        for (double& scale : plane.scales)
          scale = std::ldexp(std::uniform_real_distribution<double>(1, 2)(rng),
                             std::uniform_int_distribution<int>(-960, 1023)(rng));
    if (!WriteFile(dir + "/random_" + std::to_string(i) + ".hwl", testhwl::Write(f))) return false;
  }
  const auto picture = testhwl::Picture(256, 256);
  for (const int bits : {2, 5, 8})
    for (const int levels : {0, 3, 6})
      if (!WriteFile(dir + "/picture_" + std::to_string(bits) + "_" + std::to_string(levels) + ".hwl",
                     testhwl::Write(testhwl::Analyse(picture, 256, 256, levels, bits))))
        return false;
  return true;
}

// "name pixels=... samples=..." or "name error CODE".
void PrintDigest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const Bytes file{std::istreambuf_iterator<char>(in), {}};
  const std::string name = path.substr(path.find_last_of('/') + 1);
  Bytes pixels;
  HwlHeader h;
  const HwlStatus status = DecodeHwlImage(file, pixels, h, name, true);
  if (!status) {
    std::printf("%s error %d\n", name.c_str(), status.code);
    return;
  }
  std::uint64_t samples = 0xCBF29CE484222325u;
  for (const std::vector<double>& plane : LoaderSamplePlanes(file, 2))
    samples = Fnv(plane.data(), plane.size() * sizeof(double), samples);
  std::printf("%s pixels=%016llx samples=%016llx\n", name.c_str(),
              static_cast<unsigned long long>(Fnv(pixels.data(), pixels.size())),
              static_cast<unsigned long long>(samples));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "corpus") == 0) {
    if (WriteCorpus(argv[2])) return 0;
    std::fprintf(stderr, "hwl_digest: cannot write into %s\n", argv[2]);
    return 1;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: hwl_digest corpus DIR | hwl_digest FILE...\n");
    return 64;
  }
  for (int i = 1; i < argc; ++i) PrintDigest(argv[i]);
  return 0;
}
