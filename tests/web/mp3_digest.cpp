// mp3_digest FILE [PCM]: decodes the MP3 as the show's music module does
// (DecodeMp3File: gapless, 16-bit stereo at 44.1 kHz), prints
// "frames=N pcm=DIGEST" (FNV-1a over the samples' bytes) and the time it
// took on stderr, and writes the samples to PCM when given. Built natively
// and for WebAssembly, so the browser's decoder is compared with the
// desktop's library (tests/web/web_test.mjs, case mp3_samples).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "sound.h"
#include "sound_platform.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: mp3_digest FILE [PCM]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::int16_t> pcm;
  if (const int error = DecodeMp3File(argv[1], pcm); error != SoundErrorNone) {
    std::printf("error %d %s\n", error, SoundErrorText(error));
    return 1;
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::uint64_t hash = 0xCBF29CE484222325u;
  const auto* bytes = reinterpret_cast<const unsigned char*>(pcm.data());
  for (std::size_t i = 0; i < pcm.size() * sizeof(std::int16_t); ++i) hash = (hash ^ bytes[i]) * 0x100000001B3u;
  if (argc == 3) {
    std::FILE* out = std::fopen(argv[2], "wb");
    const bool written = out && std::fwrite(pcm.data(), sizeof(std::int16_t), pcm.size(), out) == pcm.size();
    if (!out || std::fclose(out) != 0 || !written) {
      std::fprintf(stderr, "mp3_digest: cannot write %s\n", argv[2]);
      return 1;
    }
  }
  std::printf("frames=%zu pcm=%016llx\n", pcm.size() / SoundChannelsPerFrame, static_cast<unsigned long long>(hash));
  std::fprintf(stderr, "mp3_digest: decoded in %.0f ms\n", ms);
  return 0;
}
