// quenrik-synth: renders the soundtrack and writes it as MP3 (and WAV).
//
//   quenrik-synth OUT.mp3 [--wav OUT.wav]     the track
//   quenrik-synth --solo NAME OUT.wav         one instrument alone, for balancing
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "synth.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: quenrik-synth OUT.mp3 [--wav OUT.wav]\n"
               "       quenrik-synth --solo INSTRUMENT OUT.wav\n");
  return 2;
}

// Peak and RMS in dBFS of interleaved 16-bit PCM, for the log.
void Report(const char* what, const std::vector<std::int16_t>& pcm) {
  double peak = 0, sum = 0;
  for (std::int16_t s : pcm) {
    const double v = s / 32768.0;
    peak = std::max(peak, std::fabs(v));
    sum += v * v;
  }
  const double rms = std::sqrt(sum / static_cast<double>(pcm.size()));
  std::printf("%s: %zu frames, peak %.2f dBFS, RMS %.2f dBFS\n", what, pcm.size() / 2, 20 * std::log10(peak),
              20 * std::log10(rms));
}

int Solo(const std::string& name, const std::string& wavPath) {
  for (int i = 0; i < synth::InstrumentCount; ++i) {
    if (name != synth::Instruments[static_cast<std::size_t>(i)].name) continue;
    const synth::StereoMix mix = synth::RenderMix(static_cast<synth::Instr>(i));
    std::vector<std::int16_t> pcm(mix.left.size() * 2);
    // Same scale as the full mix before its master gain, so levels compare.
    for (std::size_t f = 0; f < mix.left.size(); ++f) {
      pcm[2 * f] = static_cast<std::int16_t>(std::lround(std::fmax(-1, std::fmin(1, mix.left[f])) * 32767));
      pcm[2 * f + 1] = static_cast<std::int16_t>(std::lround(std::fmax(-1, std::fmin(1, mix.right[f])) * 32767));
    }
    Report(name.c_str(), pcm);
    return synth::WriteWav(wavPath, pcm) ? 0 : 1;
  }
  std::fprintf(stderr, "quenrik-synth: no instrument named \"%s\"\n", name.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--solo") == 0) return Solo(argv[2], argv[3]);
  if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--wav") == 0)) return Usage();
  const std::string mp3Path = argv[1];

  const std::vector<std::int16_t> pcm = synth::RenderTrack();
  Report("rendered", pcm);
  if (argc == 4 && !synth::WriteWav(argv[3], pcm)) {
    std::fprintf(stderr, "quenrik-synth: cannot write %s\n", argv[3]);
    return 1;
  }
  std::string error;
  const std::vector<std::uint8_t> mp3 = synth::EncodeMp3(pcm, error);
  if (mp3.empty()) {
    std::fprintf(stderr, "quenrik-synth: %s\n", error.c_str());
    return 1;
  }
  if (!synth::WriteFile(mp3Path, mp3)) {
    std::fprintf(stderr, "quenrik-synth: cannot write %s\n", mp3Path.c_str());
    return 1;
  }
  std::printf("wrote %s: %zu bytes, %d kbps CBR\n", mp3Path.c_str(), mp3.size(), synth::Mp3BitrateKbps);
  return 0;
}
