// hwl: inspect, decode and encode HWL images from the command line.
//
// Exit codes: 0 success; 2, 100, 201, 203 the codec's status (file cannot be
// opened, file ends early, file breaks the format or the encoder rejects the
// picture, out of memory); 1 any other failure (unreadable PNG, output not writable, a file
// whose bitsPerPixel holds no pixels); 64 a bad command line.
// Output files are written to a temporary beside the target and renamed into
// place only when complete, so a failure leaves no file and never clobbers
// an existing one.
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "hwl.h"
#include "png_io.h"

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 64;  // sysexits.h EX_USAGE

const std::string UsageText =
    "usage:\n"
    "  hwl info FILE.hwl                  print the header fields, one per line\n"
    "  hwl decode FILE.hwl OUT            decode to OUT: a PNG when OUT ends in .png (grey or RGB),\n"
    "                                     else the raw pixel buffer (W*H bytes grey, W*H*4 bytes\n"
    "                                     blue, green, red, 0 colour)\n"
    "  hwl encode IN.png OUT.hwl [--levels L] [--bits B] [--grey]\n"
    "                                     encode a PNG (alpha composited onto black); --grey stores\n"
    "                                     one luma plane; defaults: levels " +
    std::to_string(HwlEncodeOptions{}.levels) + ", bits " + std::to_string(HwlEncodeOptions{}.valueBits) + "\n"
    "  hwl --help                         this text\n"
    "exit codes: 0 ok, 2 file cannot be opened, 100 file ends early, 201 bad HWL file or picture\n"
    "            the encoder cannot take, 203 out of memory, 1 other failures (unreadable PNG,\n"
    "            output not writable, a file with no pixels), 64 bad command line\n";

int Usage(const std::string& problem) {
  std::cerr << "hwl: " << problem << "\n" << UsageText;
  return ExitUsage;
}

int Fail(int code, const std::string& message) {
  std::cerr << "hwl: " << message << "\n";
  return code;
}

bool EndsWith(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  std::string lower(text.substr(text.size() - tail.size()));
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return lower == tail;
}

// Writes a file through a temporary in the target's directory; returns an
// empty string on success, else the reason (and no file is left behind).
std::string WriteAtomically(const std::string& target, const std::function<std::string(std::FILE*)>& write) {
  std::string temp = target + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return target + ": cannot create a temporary file beside it";
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);  // the permissions an ordinary create would give
  std::FILE* out = fdopen(fd, "wb");
  if (out == nullptr) {
    close(fd);
    unlink(temp.c_str());
    return target + ": cannot write";
  }
  std::string reason = write(out);
  if (std::ferror(out) && reason.empty()) reason = "write error";
  if (std::fclose(out) != 0 && reason.empty()) reason = "write error";
  if (reason.empty() && std::rename(temp.c_str(), target.c_str()) != 0) reason = "cannot rename into place";
  if (!reason.empty()) {
    unlink(temp.c_str());
    return target + ": " + reason;
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

int Info(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("info takes one file");
  const std::string& name = args[0];
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

int Decode(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("decode takes an HWL file and an output file");
  const std::string& name = args[0];
  const std::string& target = args[1];
  HwlHeader header;
  std::vector<std::uint8_t> pixels;
  if (HwlStatus status = LoadHwlImage(pixels, header, name, true); !status) return Fail(status.code, status.message);
  if (header.bitsPerPixel != 8 && header.bitsPerPixel != 24)
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
    }
    reason = WriteAtomically(target, [&](std::FILE* out) { return WritePng(out, picture); });
  } else {
    reason = WriteAtomically(target, [&](std::FILE* out) { return WriteBytes(out, pixels); });
  }
  return reason.empty() ? 0 : Fail(ExitFailure, reason);
}

bool ParseInt(const std::string& text, int low, int high, int& value) {
  const char* end = text.data() + text.size();
  auto [at, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && at == end && value >= low && value <= high;
}

int Encode(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  HwlEncodeOptions options;
  bool grey = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--grey") {
      grey = true;
    } else if (arg == "--levels" || arg == "--bits") {
      if (i + 1 == args.size()) return Usage(arg + " needs a number");
      const bool levels = arg == "--levels";
      if (!ParseInt(args[++i], levels ? 0 : 1, levels ? 16 : 8, levels ? options.levels : options.valueBits))
        return Usage(arg + " must be " + (levels ? "0 to 16" : "1 to 8") + ", not '" + args[i] + "'");
    } else if (arg.starts_with("--")) {
      return Usage("unknown option " + arg);
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) return Usage("encode takes a PNG file and an output file");

  PngPicture picture;
  std::FILE* in = std::fopen(files[0].c_str(), "rb");
  if (in == nullptr) return Fail(HwlFileNotFound, files[0] + ": cannot open");
  const std::string pngError = ReadPng(in, picture);
  std::fclose(in);
  if (!pngError.empty()) return Fail(ExitFailure, files[0] + ": " + pngError);
  if (grey) ConvertToLuma(picture);

  std::vector<std::uint8_t> file;
  if (HwlStatus status = EncodeHwlImage(picture.pixels, picture.width, picture.height, picture.channels, options, file);
      !status)
    return Fail(status.code, files[0] + ": " + status.message);
  const std::string reason = WriteAtomically(files[1], [&](std::FILE* out) { return WriteBytes(out, file); });
  return reason.empty() ? 0 : Fail(ExitFailure, reason);
}

struct Command {
  std::string_view name;
  int (*run)(const std::vector<std::string>& args);
};
constexpr Command Commands[] = {{"info", Info}, {"decode", Decode}, {"encode", Encode}};

}  // namespace

int main(int argc, char** argv) {
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
      try {
        return entry.run(args);
      } catch (const std::bad_alloc&) {  // e.g. a huge PNG
        return Fail(HwlOutOfMemory, "out of memory");
      }
    }
  return Usage("unknown command '" + std::string(command) + "'");
}
