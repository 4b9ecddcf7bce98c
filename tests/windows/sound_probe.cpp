// Runs the music module the way the show does and writes what it saw, so that
// the Linux build (libmpg123, SDL2) and the Windows build (ACM, waveOut) can
// be compared on the same files.
//   sound_probe decode IN.mp3 OUT.raw   the decoded 16-bit stereo PCM
//   sound_probe clock IN.mp3 SECONDS    "wall_ms clock_ms" lines while playing
//   sound_probe clock-log IN.mp3 SECONDS
//                                       "clock_ms steady_ns" lines: each new reading
//                                       and the steady clock's time then (on Linux
//                                       CLOCK_MONOTONIC; under Wine the performance
//                                       counter, CLOCK_MONOTONIC_RAW), for av_sync
//   sound_probe compare IN.mp3 OTHER.raw MAX_FRAME_SHIFT MAX_SAMPLE_DIFF
//                                       decodes IN here and compares it with
//                                       the other build's decoding
//   sound_probe make DIR                the test MP3s (Linux, with LAME)
//   sound_probe wait SECONDS            does nothing for that long (under Wine it
//                                       keeps the virtual desktop up between runs)
// Exit code: 0; the module's error code; 1 when the comparison fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "sound.h"
#include "sound_platform.h"

#ifdef QUENRIK_PROBE_CAN_ENCODE
#include "mp3_maker.h"
#endif

namespace {

constexpr int FramesPerSecond = SoundMixRate;
// Where the test files' tone starts, and the level that counts as loud.
constexpr int ToneStartFrame = 4410;  // 100 ms
constexpr int LoudLevel = 6000;

int Decode(const char* in, const char* out) {
  std::vector<std::int16_t> pcm;
  if (int error = DecodeMp3File(in, pcm); error != SoundErrorNone) {
    std::fprintf(stderr, "decode %s: %s\n", in, SoundErrorText(error));
    return error;
  }
  std::FILE* file = std::fopen(out, "wb");
  if (file == nullptr || std::fwrite(pcm.data(), sizeof pcm[0], pcm.size(), file) != pcm.size() ||
      std::fclose(file) != 0) {
    std::fprintf(stderr, "decode: cannot write %s\n", out);
    return 1;
  }
  std::printf("%s: %zu frames\n", in, pcm.size() / SoundChannelsPerFrame);
  return 0;
}

// The show's calls, then the clock polled about every half millisecond
// (steadyLog: every 0.2 ms); a line whenever it changed.
int Clock(const char* in, double seconds, bool steadyLog) {
  SoundSetOutput(SoundOutputPlatform);
  SoundSetDriver(0);
  SoundStream* stream = nullptr;
  // The wall clock starts before the play call, so a reading taken late (a
  // busy machine) still has a wall time no smaller than the music played.
  std::chrono::steady_clock::time_point start;
  if (!SoundInit(SoundMixRate, 16, 0) || (stream = SoundStreamOpenFile(in, 0x2B, 0)) == nullptr ||
      (start = std::chrono::steady_clock::now(), SoundStreamPlay(-1, stream) < 0)) {
    const int error = SoundGetError();
    std::fprintf(stderr, "Error: %s\n", SoundErrorText(error));
    SoundClose();
    return error;
  }
  if (steadyLog) std::printf("# output %s\n", SoundOutputName());
  const auto end = start + std::chrono::duration<double>(seconds);
  std::int32_t last = -1;
  // The wall time is taken after each reading, so it is never behind it.
  for (;;) {
    const std::int32_t clock = SoundStreamGetTime(stream);
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) break;
    if (clock != last && steadyLog) {
      std::printf("%d %lld\n", clock,
                  static_cast<long long>(
                      std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count()));
    } else if (clock != last) {
      const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(now - start).count();
      std::printf("%.3f %d\n", static_cast<double>(wall) / 1000.0, clock);
    }
    last = clock;
    std::this_thread::sleep_for(std::chrono::microseconds(steadyLog ? 200 : 500));
  }
  SoundStreamClose(stream);
  SoundClose();
  return 0;
}

int FirstLoudFrame(const std::vector<std::int16_t>& pcm) {
  for (std::size_t i = 0; i < pcm.size(); i += SoundChannelsPerFrame) {
    if (std::abs(pcm[i]) >= LoudLevel) return static_cast<int>(i / SoundChannelsPerFrame);
  }
  return -1;
}

int Compare(const char* in, const char* otherPath, int maxShift, int maxSampleDiff) {
  std::vector<std::int16_t> here;
  if (int error = DecodeMp3File(in, here); error != SoundErrorNone) {
    std::fprintf(stderr, "compare %s: %s\n", in, SoundErrorText(error));
    return error;
  }
  std::ifstream file(otherPath, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::vector<std::int16_t> other(bytes.size() / sizeof(std::int16_t));
  std::memcpy(other.data(), bytes.data(), other.size() * sizeof(std::int16_t));

  const long hereFrames = static_cast<long>(here.size() / SoundChannelsPerFrame);
  const long otherFrames = static_cast<long>(other.size() / SoundChannelsPerFrame);
  const int hereLoud = FirstLoudFrame(here), otherLoud = FirstLoudFrame(other);
  int maxDiff = 0;
  for (std::size_t i = 0; i < std::min(here.size(), other.size()); ++i) {
    maxDiff = std::max(maxDiff, std::abs(here[i] - other[i]));
  }
  std::printf("%s: frames %ld / %ld, first loud frame %d / %d, largest sample difference %d\n", in, hereFrames,
              otherFrames, hereLoud, otherLoud, maxDiff);
  const bool agree = otherFrames > 0 && std::labs(hereFrames - otherFrames) <= maxShift && hereLoud >= 0 &&
                     std::abs(hereLoud - otherLoud) <= maxShift && (maxSampleDiff < 0 || maxDiff <= maxSampleDiff);
  if (!agree) std::fprintf(stderr, "compare %s: the two decodings disagree\n", in);
  return agree ? 0 : 1;
}

#ifdef QUENRIK_PROBE_CAN_ENCODE
// One second each, silent for 100 ms, then a 1 kHz tone; and six seconds of
// tone for the clock.
int Make(const std::string& dir) {
  struct TestFile {
    const char* name;
    int channels, rate, seconds;
  };
  const TestFile files[] = {
      {"stereo44.mp3", 2, 44100, 1},
      {"mono44.mp3", 1, 44100, 1},
      {"stereo22.mp3", 2, 22050, 1},
      {"long.mp3", 2, 44100, 6},
  };
  for (const TestFile& test : files) {
    const int frames = test.rate * test.seconds;
    const int silent = ToneStartFrame * test.rate / FramesPerSecond;
    const std::vector<unsigned char> mp3 = EncodeMp3(SilenceThenTone(silent, frames, test.channels), test.channels,
                                                     test.rate);
    std::ofstream out(dir + "/" + test.name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(mp3.data()), static_cast<std::streamsize>(mp3.size()));
    if (!out) {
      std::fprintf(stderr, "make: cannot write %s/%s\n", dir.c_str(), test.name);
      return 1;
    }
  }
  return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "decode") == 0) return Decode(argv[2], argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "clock") == 0) return Clock(argv[2], std::atof(argv[3]), false);
  if (argc == 4 && std::strcmp(argv[1], "clock-log") == 0) return Clock(argv[2], std::atof(argv[3]), true);
  if (argc == 6 && std::strcmp(argv[1], "compare") == 0)
    return Compare(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
  if (argc == 3 && std::strcmp(argv[1], "wait") == 0) {
    std::this_thread::sleep_for(std::chrono::duration<double>(std::atof(argv[2])));
    return 0;
  }
#ifdef QUENRIK_PROBE_CAN_ENCODE
  if (argc == 3 && std::strcmp(argv[1], "make") == 0) return Make(argv[2]);
#endif
  std::fprintf(stderr,
               "usage: sound_probe decode IN.mp3 OUT.raw | clock IN.mp3 SECONDS | clock-log IN.mp3 SECONDS |"
               " compare IN.mp3 OTHER.raw MAX_FRAME_SHIFT MAX_SAMPLE_DIFF | make DIR | wait SECONDS\n");
  return 64;
}
