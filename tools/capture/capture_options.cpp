#include "capture_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <string_view>

#include "installed_data.h"
#include "output_file.h"

const char* const CaptureUsage =
    "usage: quenrik-capture OUT [--size WxH] [--fps N] [--seed S] [--frames-log FILE]\n"
    "                           [--from MS] [--to MS]\n"
    "       quenrik-capture --render-only [--size WxH] [--fps N] [--from MS] [--to MS]\n"
    "Renders the show headless on a virtual music clock. It reads data/ in the folder it runs\n"
    "in, or the installed show's data/ when there is none.\n"
    "  OUT               a .mp4 or .mkv file (H.264 and the show's MP3), a device or pipe\n"
    "                    such as /dev/stdout (Matroska, written as it goes), or a folder for\n"
    "                    numbered PNG frames (an existing folder, or a name ending in '/')\n"
    "  --size WxH        frame size (default 1280x720; even sizes for video)\n"
    "  --fps N           frames per second, 1 to 66, or a fraction such as 200/3 (frames\n"
    "                    exactly 15 ms apart); default 60; frame n shows floor(n*1000/fps) ms\n"
    "  --seed S          seed of the shake's generator (0 to 4294967295); default: the clock\n"
    "  --frames-log FILE one line per written frame: frame clock_ms background overlay\n"
    "  --from MS         write frames from this music time on (earlier ones still run)\n"
    "  --to MS           write frames before this music time (default and at most 67000)\n"
    "  --render-only     draw the frames and write nothing (for speed measurements)\n"
    "Exit codes: 0 done, 1 failure (no file is left behind, none replaced), 64 bad\n"
    "command line, 128+N stopped by signal N.\n";

namespace {

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size();
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), text.end() - suffix.size(),
                    [](char lower, char c) { return std::tolower(static_cast<unsigned char>(c)) == lower; });
}

std::string ParseSize(std::string_view text, CaptureOptions& options) {
  const std::size_t x = text.find('x');
  int width = 0;
  int height = 0;
  if (x == std::string_view::npos || !ParseNumber(text.substr(0, x), width) ||
      !ParseNumber(text.substr(x + 1), height))
    return "--size wants WIDTHxHEIGHT, such as 1280x720, not \"" + std::string(text) + "\"";
  if (width < 1 || height < 1 || width > CaptureMaxSide || height > CaptureMaxSide)
    return "--size " + std::string(text) + ": each side must be 1 to " + std::to_string(CaptureMaxSide);
  options.width = width;
  options.height = height;
  return {};
}

std::string ParseRate(std::string_view text, CaptureOptions& options) {
  const std::size_t slash = text.find('/');
  FrameRate rate{0, 1};
  const bool parsed = slash == std::string_view::npos
                          ? ParseNumber(text, rate.num)
                          : ParseNumber(text.substr(0, slash), rate.num) && ParseNumber(text.substr(slash + 1), rate.den);
  if (!parsed || rate.num < 1 || rate.den < 1 || rate.num > CaptureMaxRateTerm || rate.den > CaptureMaxRateTerm)
    return "--fps wants a whole number or a fraction N/D, not \"" + std::string(text) + "\"";
  // 1 <= num / den <= 1000 / FrameSpacingMs, in integers.
  if (rate.num < CaptureMinFps * rate.den || rate.num * FrameSpacingMs > 1000 * rate.den)
    return "--fps " + std::string(text) + " is out of range: 1 to 66 frames per second, at most 200/3 " +
           "(frames are at least " + std::to_string(FrameSpacingMs) + " ms of music apart, as in the show)";
  options.rate = rate;
  return {};
}

std::string ParseMs(std::string_view name, std::string_view text, std::int32_t& value) {
  if (!ParseNumber(text, value) || value < 0 || value > ShowEndMs)
    return std::string(name) + " wants a music time in ms from 0 to " + std::to_string(ShowEndMs) + ", not \"" +
           std::string(text) + "\"";
  return {};
}

std::string ClassifyOutput(CaptureOptions& options) {
  const std::string& out = options.output;
  std::error_code ec;
  if (out.ends_with('/') || std::filesystem::is_directory(out, ec)) {
    options.kind = OutputKind::PngFolder;
    return {};
  }
  const bool inPlace = WritesInPlace(out);
  if (EndsWithIgnoringCase(out, ".mp4")) {
    if (inPlace)
      return "\"" + out + "\" is a device, a pipe or the standard output, and MP4 needs a file it can go back in " +
             "(its index is written last): give a file name, or send Matroska to a device or pipe not named .mp4";
    options.kind = OutputKind::Video;
    options.format = VideoFormat::Mp4;
    return {};
  }
  if (EndsWithIgnoringCase(out, ".mkv") || inPlace) {
    options.kind = OutputKind::Video;
    options.format = VideoFormat::Matroska;
    return {};
  }
  return "OUT must end in .mp4 or .mkv, be a device or pipe, or name a folder (an existing one, or end in '/'): \"" +
         out + "\"";
}

}  // namespace

std::string ParseCaptureOptions(std::span<const char* const> args, CaptureOptions& options) {
  options = CaptureOptions{};
  bool renderOnly = false;
  bool haveOutput = false;
  bool seenSize = false, seenRate = false, seenSeed = false, seenLog = false, seenFrom = false, seenTo = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "--render-only") {
      renderOnly = true;
      continue;
    }
    if (arg.starts_with("--")) {
      std::string_view name = arg;
      std::string_view value;
      if (const std::size_t equals = arg.find('='); equals != std::string_view::npos) {
        name = arg.substr(0, equals);
        value = arg.substr(equals + 1);
      } else {
        if (name != "--size" && name != "--fps" && name != "--seed" && name != "--frames-log" && name != "--from" &&
            name != "--to")
          return "unknown option " + std::string(arg);
        if (i + 1 >= args.size()) return std::string(name) + " needs a value";
        value = args[++i];
      }
      auto once = [&](bool& seen) {
        const bool first = !seen;
        seen = true;
        return first;
      };
      std::string error;
      if (name == "--size") {
        if (!once(seenSize)) return "--size given twice";
        error = ParseSize(value, options);
      } else if (name == "--fps") {
        if (!once(seenRate)) return "--fps given twice";
        error = ParseRate(value, options);
      } else if (name == "--seed") {
        if (!once(seenSeed)) return "--seed given twice";
        std::uint32_t seed = 0;
        if (!ParseNumber(value, seed))
          return "--seed wants a whole number from 0 to 4294967295, not \"" + std::string(value) + "\"";
        options.seed = seed;
      } else if (name == "--frames-log") {
        if (!once(seenLog)) return "--frames-log given twice";
        if (value.empty()) return "--frames-log needs a file name";
        options.framesLog = FromStartFolder(std::string(value));
      } else if (name == "--from") {
        if (!once(seenFrom)) return "--from given twice";
        error = ParseMs("--from", value, options.fromMs);
      } else if (name == "--to") {
        if (!once(seenTo)) return "--to given twice";
        error = ParseMs("--to", value, options.toMs);
      } else {
        return "unknown option " + std::string(name);
      }
      if (!error.empty()) return error;
      continue;
    }
    if (haveOutput) return "more than one OUT: \"" + options.output + "\" and \"" + std::string(arg) + "\"";
    if (arg.empty()) return "OUT is empty";
    options.output = FromStartFolder(std::string(arg));
    haveOutput = true;
  }

  if (renderOnly) {
    if (haveOutput) return "--render-only writes nothing: leave out OUT";
    if (seenLog) return "--render-only writes nothing: leave out --frames-log";
    options.kind = OutputKind::None;
  } else {
    if (!haveOutput) return "OUT is missing";
    if (std::string error = ClassifyOutput(options); !error.empty()) return error;
  }
  if (options.kind == OutputKind::Video && (options.width % 2 || options.height % 2))
    return "--size " + std::to_string(options.width) + "x" + std::to_string(options.height) +
           ": video frames need an even width and height (4:2:0 colour)";
  if (options.fromMs >= options.toMs)
    return "--from " + std::to_string(options.fromMs) + " must lie before --to " + std::to_string(options.toMs);
  if (WrittenFrames(options).Count() < 1)
    return "no frame at " + FormatRate(options.rate) + " fps lies in " + std::to_string(options.fromMs) + " ... " +
           std::to_string(options.toMs) + " ms";
  return {};
}

std::int32_t FrameClock(std::int64_t frame, FrameRate rate) {
  return static_cast<std::int32_t>(frame * 1000 * rate.den / rate.num);
}

std::int64_t FirstFrameAtOrAfter(std::int32_t ms, FrameRate rate) {
  // The smallest n with n * 1000 * den / num >= ms: ceil(ms * num / (1000 * den)).
  const std::int64_t divisor = 1000 * rate.den;
  return (std::int64_t{ms} * rate.num + divisor - 1) / divisor;
}

FrameRange WrittenFrames(const CaptureOptions& options) {
  return {FirstFrameAtOrAfter(options.fromMs, options.rate), FirstFrameAtOrAfter(options.toMs, options.rate)};
}

std::string FormatRate(FrameRate rate) {
  return rate.den == 1 ? std::to_string(rate.num) : std::to_string(rate.num) + "/" + std::to_string(rate.den);
}
