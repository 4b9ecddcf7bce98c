// hwl: inspect, decode and encode HWL images from the command line.
//
// Exit codes: 0 success; 2, 100, 201, 203 the codec's status (an input
// cannot be opened or read, file ends early, file breaks the format, the
// picture is above the pixel limit or the encoder rejects it, out of
// memory); 1 any other failure (unreadable PNG, output not writable or the
// same file as the input, a file whose bitsPerPixel holds no pixels); 64 a
// bad command line. Outputs never destroy what was there (output_file.h).
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <string>
#include <string_view>
#include <vector>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "hwl.h"
#include "output_file.h"
#include "png_io.h"

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 64;  // sysexits.h EX_USAGE

const std::string UsageText =
    "usage:\n"
    "  hwl info FILE.hwl                  print the header fields, one per line\n"
    "  hwl decode FILE.hwl OUT [--max-pixels N]\n"
    "                                     decode to OUT: a PNG when OUT ends in .png (grey or RGB),\n"
    "                                     else the raw pixel buffer (W*H bytes grey, W*H*4 bytes\n"
    "                                     blue, green, red, 0 colour)\n"
    "  hwl encode IN.png OUT.hwl [--levels L] [--bits B] [--grey] [--max-pixels N]\n"
    "                                     encode a PNG (alpha composited onto black); --grey stores\n"
    "                                     one luma plane; defaults: levels " +
    std::to_string(HwlEncodeOptions{}.levels) + ", bits " + std::to_string(HwlEncodeOptions{}.valueBits) + "\n"
    "  hwl --help                         this text\n"
    "--max-pixels: the largest picture taken, default " + std::to_string(HwlDefaultMaxPixels) + " (16384 x 16384)\n"
    "exit codes: 0 ok, 2 an input cannot be opened or read, 100 file ends early, 201 bad HWL file or\n"
    "            picture the encoder cannot take, or above the pixel limit, 203 out of memory,\n"
    "            1 other failures (unreadable PNG, output not writable or the same file as the\n"
    "            input, a file with no pixels), 64 bad command line\n";

int Usage(const std::string& problem) {
  std::cerr << "hwl: " << problem << "\n" << UsageText;
  return ExitUsage;
}

int Fail(int code, const std::string& message) {
  std::cerr << "hwl: " << message << "\n";
  return code;
}

// A picture above the pixel limit, told with the way to raise it.
int FailAboveLimit(const HwlStatus& status) { return Fail(status.code, status.message + " (--max-pixels N raises it)"); }

bool HasPixels(const HwlHeader& header) { return header.bitsPerPixel == 8 || header.bitsPerPixel == 24; }

bool EndsWith(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  std::string lower(text.substr(text.size() - tail.size()));
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return lower == tail;
}

// What a command line holds once parsed.
struct CommandLine {
  std::vector<std::string> files;
  HwlEncodeOptions encode;
  bool grey = false;
  std::uint64_t maxPixels = HwlDefaultMaxPixels;
};

// An option: a flag, or one taking a number within [low, high].
struct Option {
  std::string_view name;
  bool number;
  std::uint64_t low, high;
  void (*set)(CommandLine& line, std::uint64_t value);
};
constexpr Option MaxPixels{"--max-pixels", true, 1, HwlFormatMaxPixels,
                           [](CommandLine& l, std::uint64_t v) { l.maxPixels = v; }};
constexpr Option DecodeOptions[] = {MaxPixels};
constexpr Option EncodeOptions[] = {
    {"--levels", true, 0, 16, [](CommandLine& l, std::uint64_t v) { l.encode.levels = int(v); }},
    {"--bits", true, 1, 8, [](CommandLine& l, std::uint64_t v) { l.encode.valueBits = int(v); }},
    {"--grey", false, 0, 0, [](CommandLine& l, std::uint64_t) { l.grey = true; }},
    MaxPixels,
};

// Options may stand anywhere among the files. Returns an empty string or the problem.
std::string Parse(const std::vector<std::string>& args, std::span<const Option> options, CommandLine& line) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.starts_with("--")) {
      line.files.push_back(arg);
      continue;
    }
    const Option* option = nullptr;
    for (const Option& o : options)
      if (o.name == arg) option = &o;
    if (option == nullptr) return "unknown option " + arg;
    std::uint64_t value = 0;
    if (option->number) {
      if (i + 1 == args.size()) return arg + " needs a number";
      const std::string& text = args[++i];
      const auto [at, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (error != std::errc() || at != text.data() + text.size() || value < option->low || value > option->high)
        return arg + " must be " + std::to_string(option->low) + " to " + std::to_string(option->high) + ", not '" +
               text + "'";
    }
    option->set(line, value);
  }
  return {};
}

std::string WriteBytes(std::FILE* out, const std::vector<std::uint8_t>& bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return "write error";
  return {};
}

std::string MagicText(const std::array<std::uint8_t, 3>& magic) {
  std::string text;
  for (std::uint8_t b : magic) {
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      text += char(b);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
      text += escaped;
    }
  }
  return text;
}

int Info(const CommandLine& line) {
  if (line.files.size() != 1) return Usage("info takes one file");
  const std::string& name = line.files[0];
  HwlHeader header;
  if (HwlStatus status = ReadHwlHeader(name, header); !status) return Fail(status.code, status.message);
  std::error_code error;
  const auto size = std::filesystem::file_size(name, error);
  std::cout << "magic: " << MagicText(header.magic) << "\n"
            << "width: " << header.width << "\n"
            << "height: " << header.height << "\n"
            << "bitsPerPixel: " << int(header.bitsPerPixel) << "\n"
            << "levels: " << int(header.levels) << "\n";
  for (int p = 0; p < 3; ++p) std::cout << "symbolCount[" << p << "]: " << header.symbolCount[p] << "\n";
  for (int p = 0; p < 3; ++p) std::cout << "valueCount[" << p << "]: " << header.valueCount[p] << "\n";
  std::cout << "valueBits: " << int(header.valueBits) << "\n";
  if (!error) std::cout << "fileSize: " << size << "\n";
  return 0;
}

// decode and encode take one input and one output, which must not be the
// input; 0 when they are as they should be, else the exit code.
int CheckFiles(const CommandLine& line, const std::string& usage) {
  if (line.files.size() != 2) return Usage(usage);
  if (std::string reason = CheckOutputName(line.files[1], std::span(line.files).first(1)); !reason.empty())
    return Fail(ExitFailure, reason);
  return 0;
}

int Decode(const CommandLine& line) {
  if (int code = CheckFiles(line, "decode takes an HWL file and an output file"); code != 0) return code;
  const std::string& name = line.files[0];
  const std::string& target = line.files[1];
  const std::span<const std::string> inputs = std::span(line.files).first(1);
  HwlHeader header;
  if (HwlStatus status = ReadHwlHeader(name, header); !status) return Fail(status.code, status.message);
  if (HwlStatus status = CheckHwlPixelLimit(header.width, header.height, line.maxPixels, name);
      HasPixels(header) && !status)
    return FailAboveLimit(status);
  std::vector<std::uint8_t> pixels;
  if (HwlStatus status = LoadHwlImage(pixels, header, name, true, {.maxPixels = line.maxPixels}); !status)
    return Fail(status.code, status.message);
  if (!HasPixels(header))
    return Fail(ExitFailure, name + ": bitsPerPixel " + std::to_string(header.bitsPerPixel) +
                                 " holds no pixels; nothing written");

  std::string reason;
  if (EndsWith(target, ".png")) {
    PngPicture picture{header.width, header.height, header.bitsPerPixel == 24 ? 3 : 1, {}};
    const std::size_t count = std::size_t(header.width) * header.height;
    if (picture.channels == 1) {
      picture.pixels = std::move(pixels);
    } else {
      picture.pixels.resize(count * 3);
      for (std::size_t i = 0; i < count; ++i)  // buffer bytes blue, green, red, 0
        for (int c = 0; c < 3; ++c) picture.pixels[i * 3 + c] = pixels[i * 4 + 2 - c];
      pixels = std::vector<std::uint8_t>();
    }
    reason = WriteOutput(target, inputs, [&](std::FILE* out) { return WritePng(out, picture); });
  } else {
    reason = WriteOutput(target, inputs, [&](std::FILE* out) { return WriteBytes(out, pixels); });
  }
  return reason.empty() ? 0 : Fail(ExitFailure, reason);
}

int Encode(const CommandLine& line) {
  if (int code = CheckFiles(line, "encode takes a PNG file and an output file"); code != 0) return code;
  const std::string& name = line.files[0];
  const std::string& target = line.files[1];
  const std::span<const std::string> inputs = std::span(line.files).first(1);

  std::error_code error;
  if (std::filesystem::is_directory(name, error)) return Fail(HwlFileNotFound, name + ": cannot be read (Is a directory)");
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(name.c_str(), "rb"), std::fclose);
  if (!in) return Fail(HwlFileNotFound, name + ": cannot be opened (" + std::generic_category().message(errno) + ")");
  // The size is checked against every limit before the pixels are read.
  PngReading reading;
  int width = 0, height = 0;
  if (std::string reason = BeginPng(in.get(), reading, width, height); !reason.empty())
    return Fail(ExitFailure, name + ": " + reason);
  if (HwlStatus status = CheckHwlPixelLimit(width, height, line.maxPixels, name); !status)
    return FailAboveLimit(status);
  if (HwlStatus status = CheckHwlEncodeInput(width, height, line.grey ? 1 : 3, line.encode); !status)
    return Fail(status.code, name + ": " + status.message);
  PngPicture picture;
  if (std::string reason = FinishPng(reading, picture); !reason.empty()) {
    if (std::ferror(in.get()))
      return Fail(HwlFileNotFound, name + ": cannot be read (" + std::generic_category().message(errno) + ")");
    return Fail(ExitFailure, name + ": " + reason);
  }
  reading.reset();
  if (line.grey) ConvertToLuma(picture);

  std::vector<std::uint8_t> file;
  if (HwlStatus status = EncodeHwlImage(picture.pixels, picture.width, picture.height, picture.channels, line.encode, file);
      !status)
    return Fail(status.code, name + ": " + status.message);
  picture.pixels = std::vector<std::uint8_t>();
  const std::string reason = WriteOutput(target, inputs, [&](std::FILE* out) { return WriteBytes(out, file); });
  return reason.empty() ? 0 : Fail(ExitFailure, reason);
}

struct Command {
  std::string_view name;
  int (*run)(const CommandLine& line);
  std::span<const Option> options;
};
const Command Commands[] = {{"info", Info, {}}, {"decode", Decode, DecodeOptions}, {"encode", Encode, EncodeOptions}};

}  // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // Buffers of a picture's size come straight from the system and go back
  // when freed (glibc would otherwise keep up to 64 MB of them), so that the
  // memory in use is the codec's working memory.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
  RemoveOutputsOnSignals();
  if (argc < 2) return Usage("no command");
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << UsageText;
    return 0;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const std::string& arg : args)
    if (arg == "--help" || arg == "-h") {
      std::cout << UsageText;
      return 0;
    }
  for (const Command& entry : Commands)
    if (entry.name == command) {
      CommandLine line;
      if (std::string problem = Parse(args, entry.options, line); !problem.empty()) return Usage(problem);
      try {
        return entry.run(line);
      } catch (const std::bad_alloc&) {  // e.g. a huge PNG
        return Fail(HwlOutOfMemory, "out of memory");
      }
    }
  return Usage("unknown command '" + std::string(command) + "'");
}
