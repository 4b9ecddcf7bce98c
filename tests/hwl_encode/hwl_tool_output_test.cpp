// The hwl program's outputs and limits, run as a separate process: outputs
// that never destroy (devices and pipes written in place, modes and links
// kept, an input never overwritten, temporaries removed on every signal),
// and the pixel limit and the PNG checks applied before anything of the
// picture's size is allocated.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "hwl.h"
#include "hwl_test_writer.h"
#include "test_pictures.h"
#include "tool_test_files.h"

namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr long SmallRssKb = 200 * 1024;  // the sanitizer's own shadow memory and quarantine
constexpr int BigSide = 1024;            // decoding runs some ten times slower
#else
constexpr long SmallRssKb = 32 * 1024;
constexpr int BigSide = 2048;
#endif
// The pixels of a BigSide x BigSide picture, and the limit just below.
const std::string BigPixels = std::to_string(BigSide * BigSide), BelowBig = std::to_string(BigSide * BigSide - 1);
using Bytes = std::vector<std::uint8_t>;

using tool_test::ReadFile;
using tool_test::WriteFile;

// How a run of the program ended.
struct Ended {
  int code = -1;    // exit code, or -1
  int signal = 0;   // the signal that ended it, or 0
  long maxRssKb = 0;
  std::string err;  // its standard error
};

// Resource limits and signal settings of a child.
struct Setting {
  rlim_t fileSizeLimit = RLIM_INFINITY;
  int ignored = 0;  // a signal the child starts with ignored, as nohup does
};

// Starts hwl with every signal at its default (a test runner may have
// changed some) and no core files; stdout goes to `out` when given.
pid_t Start(const std::vector<std::string>& args, const fs::path& err, const fs::path& out = {},
            Setting setting = {}) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  for (int s = 1; s < NSIG; ++s) signal(s, SIG_DFL);
  if (setting.ignored != 0) signal(setting.ignored, SIG_IGN);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  const rlimit noCore{0, 0}, size{setting.fileSizeLimit, setting.fileSizeLimit};
  setrlimit(RLIMIT_CORE, &noCore);
  setrlimit(RLIMIT_FSIZE, &size);
  const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(errFd, 2);
  if (!out.empty()) {
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(outFd, 1);
  }
  std::vector<char*> argv{const_cast<char*>(HWL_TOOL_PATH)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(HWL_TOOL_PATH, argv.data());
  _exit(127);
}

// True while the child has not ended (it is not reaped).
bool Running(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

Ended Wait(pid_t pid, const fs::path& err) {
  int status = 0;
  rusage usage{};
  Ended e;
  if (wait4(pid, &status, 0, &usage) != pid) return e;
  if (WIFEXITED(status)) e.code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) e.signal = WTERMSIG(status);
  e.maxRssKb = usage.ru_maxrss;
  const Bytes text = ReadFile(err);
  e.err.assign(text.begin(), text.end());
  return e;
}

class HwlToolOutput : public testing::Test {
 protected:
  void TearDown() override { fs::remove(err); }

  Ended Run(const std::vector<std::string>& args, const fs::path& out = {}, Setting setting = {}) {
    return Wait(Start(args, err, out, setting), err);
  }

  std::string P(const std::string& name) const { return (dir / name).string(); }

  std::vector<std::string> Listing() const { return scratch.Listing(); }

  bool AnyPartial() const {
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.path().filename().string().find(".partial-") != std::string::npos) return true;
    return false;
  }

  // A small colour file and its raw decoding.
  Bytes SmallHwl(const std::string& name) {
    std::vector<std::uint8_t> file;
    EXPECT_TRUE(EncodeHwlImage(test_pictures::Card(32, 32, 3), 32, 32, 3, {}, file));
    WriteFile(dir / name, file);
    std::vector<std::uint8_t> pixels;
    HwlHeader header;
    EXPECT_TRUE(DecodeHwlImage(file, pixels, header, name, true));
    return pixels;
  }

  tool_test::ScratchDir scratch{"hwl_output"};
  const fs::path dir = scratch.path;
  // The program's standard error, kept outside the directory whose names are checked.
  const fs::path err = fs::temp_directory_path() / (dir.filename().string() + ".err");
};

TEST_F(HwlToolOutput, DevicesPipesAndStandardOutputAreWrittenInPlace) {
  const Bytes raw = SmallHwl("in.hwl");
  // A device: its own node with the numbers of /dev/null (creating one needs root).
  if (mknod(P("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    const Ended e = Run({"decode", P("in.hwl"), P("null")});
    EXPECT_EQ(e.code, 0) << e.err;
    EXPECT_TRUE(fs::is_character_file(dir / "null")) << "the device must stay a device";
  }
  // A pipe: the reader gets the bytes, the pipe stays a pipe.
  ASSERT_EQ(mkfifo(P("fifo").c_str(), 0600), 0);
  Bytes received;
  std::thread reader([&] { received = ReadFile(dir / "fifo"); });
  const Ended piped = Run({"decode", P("in.hwl"), P("fifo")});
  reader.join();
  EXPECT_EQ(piped.code, 0) << piped.err;
  EXPECT_EQ(received, raw);
  EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);
  // /dev/stdout when the shell appends to a file: written through the
  // descriptor, after what was there.
  WriteFile(dir / "log", Bytes{'o', 'l', 'd'});
  const Ended appended = Run({"decode", P("in.hwl"), "/dev/stdout"}, dir / "log");
  EXPECT_EQ(appended.code, 0) << appended.err;
  Bytes expected{'o', 'l', 'd'};
  expected.insert(expected.end(), raw.begin(), raw.end());
  EXPECT_EQ(ReadFile(dir / "log"), expected);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_FALSE(AnyPartial());
}

TEST_F(HwlToolOutput, ReplacedFilesKeepTheirModeAndLinks) {
  const Bytes raw = SmallHwl("in.hwl");
  WriteFile(dir / "private.raw", Bytes{'x'});
  fs::permissions(dir / "private.raw", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Run({"decode", P("in.hwl"), P("private.raw")}).code, 0);
  EXPECT_EQ(ReadFile(dir / "private.raw"), raw);
  EXPECT_EQ(fs::status(dir / "private.raw").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // A link to a file elsewhere: the file is replaced, the link stays.
  fs::create_directory(dir / "sub");
  WriteFile(dir / "sub" / "real.raw", Bytes{'x'});
  fs::create_symlink("sub/real.raw", dir / "link.raw");
  EXPECT_EQ(Run({"decode", P("in.hwl"), P("link.raw")}).code, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.raw"));
  EXPECT_EQ(ReadFile(dir / "sub" / "real.raw"), raw);
  // A new file gets the permissions of an ordinary create.
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(Run({"decode", P("in.hwl"), P("new.raw")}).code, 0);
  EXPECT_EQ(mode_t(fs::status(dir / "new.raw").permissions() & fs::perms::all), 0666 & ~mask);
  EXPECT_FALSE(AnyPartial());
  EXPECT_FALSE(fs::exists(dir / "sub" / ".real.partial")) << "temporaries go beside the file replaced";
}

TEST_F(HwlToolOutput, AnOutputThatIsTheInputIsRefused) {
  SmallHwl("in.hwl");
  const Bytes before = ReadFile(dir / "in.hwl");
  fs::create_hard_link(dir / "in.hwl", dir / "hard.hwl");
  fs::create_symlink("in.hwl", dir / "soft.hwl");
  const std::pair<std::string, std::string> cases[] = {
      {P("in.hwl"), P("in.hwl")}, {P("in.hwl"), dir.string() + "/./sub/../in.hwl"}, {P("in.hwl"), P("hard.hwl")},
      {P("soft.hwl"), P("in.hwl")}, {P("in.hwl"), P("soft.hwl")}};
  fs::create_directory(dir / "sub");
  for (const auto& [in, out] : cases) {
    SCOPED_TRACE(in + " -> " + out);
    const Ended e = Run({"decode", in, out});
    EXPECT_EQ(e.code, 1);
    EXPECT_NE(e.err.find("is the same file as"), std::string::npos) << e.err;
    EXPECT_EQ(ReadFile(dir / "in.hwl"), before);
  }
  EXPECT_FALSE(AnyPartial());
}

// Every catchable signal that ends the program removes the temporary and
// leaves the old output as it was; the program still ends by that signal.
TEST_F(HwlToolOutput, SignalsRemoveTheTemporary) {
  // 16 MB of raw pixels to write (4 MB under the sanitizers): long enough
  // to be seen being written.
  WriteFile(dir / "big.hwl", testhwl::Write(testhwl::AllZeroRuns(BigSide, BigSide, 24, 0)));
  const Bytes old{'o', 'l', 'd'};
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGXFSZ};
  for (const int sig : signals) {
    SCOPED_TRACE(strsignal(sig));
    WriteFile(dir / "out.raw", old);
    // Caught while the temporary exists: stopped there, signalled, let go.
    bool caught = false;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
      const pid_t pid = Start({"decode", P("big.hwl"), P("out.raw")}, err);
      while (!AnyPartial() && Running(pid)) std::this_thread::yield();
      // SIGSTOP takes effect asynchronously: only once the program has
      // really stopped may the temporary be trusted to still be there.
      kill(pid, SIGSTOP);
      siginfo_t info{};
      caught = waitid(P_PID, id_t(pid), &info, WSTOPPED | WEXITED | WNOWAIT) == 0 &&
               info.si_code == CLD_STOPPED && AnyPartial();
      kill(pid, sig);
      kill(pid, SIGCONT);
      const Ended e = Wait(pid, err);
      if (!caught) continue;
      EXPECT_EQ(e.signal, sig) << e.err;
    }
    EXPECT_TRUE(caught) << "the output was never seen being written";
    EXPECT_FALSE(AnyPartial());
    EXPECT_EQ(ReadFile(dir / "out.raw"), old);
  }
  // A real file size limit: the write itself raises SIGXFSZ.
  WriteFile(dir / "out.raw", old);
  const Ended limited = Run({"decode", P("big.hwl"), P("out.raw")}, {}, {.fileSizeLimit = 1 << 20});
  EXPECT_EQ(limited.signal, SIGXFSZ);
  EXPECT_FALSE(AnyPartial());
  EXPECT_EQ(ReadFile(dir / "out.raw"), old);
  // A signal the program was started with ignored (nohup) stays ignored.
  const pid_t pid = Start({"decode", P("big.hwl"), P("out.raw")}, err, {}, {.ignored = SIGHUP});
  while (!AnyPartial() && Running(pid)) std::this_thread::yield();
  kill(pid, SIGHUP);
  EXPECT_EQ(Wait(pid, err).code, 0);
  EXPECT_EQ(fs::file_size(dir / "out.raw"), std::uintmax_t(BigSide) * BigSide * 4);
}

// A PNG made by libpng, then given another size in its header (with a
// correct checksum) and cut or padded to `length` bytes.
Bytes ForgedPng(png_uint_32 width, png_uint_32 height, std::size_t length) {
  const Bytes pixels(16 * 16, 0);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = image.height = 16;
  image.format = PNG_FORMAT_GRAY;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
  Bytes png(size);
  png_image_write_to_memory(&image, png.data(), &size, 0, pixels.data(), 0, nullptr);
  png.resize(size);
  // Signature (8), IHDR length and type (8), then width and height.
  for (int i = 0; i < 4; ++i) {
    png[16 + i] = std::uint8_t(width >> (24 - 8 * i));
    png[20 + i] = std::uint8_t(height >> (24 - 8 * i));
  }
  const std::uint32_t crc = std::uint32_t(crc32(0, png.data() + 12, 17));
  for (int i = 0; i < 4; ++i) png[29 + i] = std::uint8_t(crc >> (24 - 8 * i));
  png.resize(length, 0);
  return png;
}


TEST_F(HwlToolOutput, LimitsAreCheckedBeforeAnythingOfThePicturesSize) {
  // Forged PNG headers: a file too short for its size is refused at once,
  // whatever the pixel limit; one long enough, by the limit.
  WriteFile(dir / "huge.png", ForgedPng(65535, 65535, 270));
  WriteFile(dir / "cut.png", ForgedPng(32764, 32764, 175));
  WriteFile(dir / "long.png", ForgedPng(16400, 16400, 40000));
  for (const char* name : {"huge.png", "cut.png"})
    for (const std::uint64_t limit : {HwlDefaultMaxPixels, HwlFormatMaxPixels}) {
      SCOPED_TRACE(name);
      const Ended e = Run({"encode", P(name), P("out.hwl"), "--max-pixels", std::to_string(limit)});
      EXPECT_EQ(e.code, 1) << e.err;
      EXPECT_NE(e.err.find("too short for a"), std::string::npos) << e.err;
      EXPECT_LT(e.maxRssKb, SmallRssKb);
    }
  Ended e = Run({"encode", P("long.png"), P("out.hwl")});
  EXPECT_EQ(e.code, 201) << e.err;
  EXPECT_NE(e.err.find("more than the limit of 268435456 (--max-pixels N raises it)"), std::string::npos) << e.err;
  EXPECT_LT(e.maxRssKb, SmallRssKb);
  // A PNG cut short after its header is told as such.
  const auto card = test_pictures::Card(64, 64, 3);
  png_image cut{};
  cut.version = PNG_IMAGE_VERSION;
  cut.width = cut.height = 64;
  cut.format = PNG_FORMAT_RGB;
  ASSERT_TRUE(png_image_write_to_file(&cut, P("half.png").c_str(), 0, card.data(), 0, nullptr));
  fs::resize_file(dir / "half.png", fs::file_size(dir / "half.png") / 2);
  e = Run({"encode", P("half.png"), P("out.hwl")});
  EXPECT_EQ(e.code, 1);
  EXPECT_NE(e.err.find("half.png: file ends early, truncated"), std::string::npos) << e.err;
  // A picture the encoder cannot take is refused before its pixels are read.
  const Bytes black(2048 * 2048, 0);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = image.height = 2046;
  image.format = PNG_FORMAT_GRAY;
  ASSERT_TRUE(png_image_write_to_file(&image, P("odd.png").c_str(), 0, black.data(), 0, nullptr));
  e = Run({"encode", P("odd.png"), P("out.hwl")});
  EXPECT_EQ(e.code, 201) << e.err;
  EXPECT_LT(e.maxRssKb, SmallRssKb);
  e = Run({"encode", P("odd.png"), P("out.hwl"), "--levels", "0", "--max-pixels", "4186115"});
  EXPECT_EQ(e.code, 201) << e.err;
  EXPECT_NE(e.err.find("2046 x 2046 is 4186116 pixels, more than the limit of 4186115"), std::string::npos) << e.err;
  // An HWL file above the limit: its header is all that is read.
  WriteFile(dir / "big.hwl", testhwl::Write(testhwl::AllZeroRuns(BigSide, BigSide, 24, 0)));
  e = Run({"decode", P("big.hwl"), P("out.raw"), "--max-pixels", BelowBig});
  EXPECT_EQ(e.code, 201) << e.err;
  EXPECT_NE(e.err.find("more than the limit of " + BelowBig + " (--max-pixels N raises it)"), std::string::npos)
      << e.err;
  EXPECT_LT(e.maxRssKb, SmallRssKb);
  EXPECT_EQ(Run({"decode", P("big.hwl"), P("out.raw"), "--max-pixels", BigPixels}).code, 0);
  EXPECT_EQ(Listing(),
            (std::vector<std::string>{"big.hwl", "cut.png", "half.png", "huge.png", "long.png", "odd.png", "out.raw"}));
}

// Inputs that cannot be read are named with the system's reason and exit 2.
TEST_F(HwlToolOutput, UnreadableInputsAreNamedWithTheReason) {
  fs::create_directory(dir / "folder");
  const std::vector<std::vector<std::string>> runs = {{"encode", P("folder"), P("out.hwl")},
                                                      {"decode", P("folder"), P("out.raw")},
                                                      {"info", P("folder")}};
  for (const auto& args : runs) {
    const Ended e = Run(args);
    EXPECT_EQ(e.code, 2) << args[0];
    EXPECT_NE(e.err.find(P("folder") + ": cannot be "), std::string::npos) << e.err;
    EXPECT_NE(e.err.find("(Is a directory)"), std::string::npos) << e.err;
  }
  for (const char* command : {"encode", "decode"}) {
    const Ended e = Run({command, P("missing"), P("out")});
    EXPECT_EQ(e.code, 2);
    EXPECT_NE(e.err.find(P("missing") + ": cannot be opened (No such file or directory)"), std::string::npos) << e.err;
  }
  const Ended e = Run({"decode", P("missing.hwl"), P("nowhere/out.raw")});
  EXPECT_EQ(e.code, 2) << "the input is looked at first";
  SmallHwl("in.hwl");
  const Ended unwritable = Run({"decode", P("in.hwl"), P("nowhere/out.raw")});
  EXPECT_EQ(unwritable.code, 1);
  EXPECT_NE(unwritable.err.find("(No such file or directory)"), std::string::npos) << unwritable.err;
  EXPECT_EQ(Listing(), (std::vector<std::string>{"folder", "in.hwl"}));
}

}  // namespace
