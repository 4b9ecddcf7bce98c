// quenrik-capture run as a program, headless: determinism, the frames log,
// the video file's streams and A/V sync, frames against the layers'
// reference renderings, outputs that never destroy what was there, and
// every failure and signal leaving no file behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture_test_files.h"
#include "frame_compare.h"
#include "mp3_maker.h"
#include "timeline.h"

namespace fs = std::filesystem;
using namespace capture_test;

namespace {

const std::string Program = QUENRIK_CAPTURE_PROGRAM;
const std::string SourceRoot = QUENRIK_SOURCE_ROOT;  // holds data/
const std::string ReferenceDir = QUENRIK_REFERENCE_DIR;

constexpr int SampleRate = 44100;

struct Launch {
  std::vector<std::string> args;
  std::string folder = SourceRoot;        // working directory
  std::vector<std::string> environment;   // NAME=VALUE added
  rlim_t fileSizeLimit = RLIM_INFINITY;   // bytes any one file may grow to
  bool sizeSignal = false;                // a write past the limit raises SIGXFSZ, else it fails with EFBIG
  int ignored = 0;                        // a signal it starts with ignored, as nohup does
  bool closedStderr = false;              // stderr a pipe nobody reads (as "| head" leaves it)
  std::string stdoutPath;                 // stdout appended to this file, when given
};

// Starts the program with stderr into errPath, every signal at its default
// (but launch.ignored) and no core files.
pid_t Start(const Launch& launch, const std::string& errPath) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(launch.folder.c_str()) != 0) _exit(120);
  for (const std::string& variable : launch.environment) putenv(const_cast<char*>(variable.c_str()));
  for (int s = 1; s < NSIG; ++s) signal(s, SIG_DFL);
  if (launch.ignored != 0) signal(launch.ignored, SIG_IGN);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  if (launch.fileSizeLimit != RLIM_INFINITY) {
    const rlimit limit{launch.fileSizeLimit, launch.fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    if (!launch.sizeSignal) signal(SIGXFSZ, SIG_IGN);
  }
  if (!launch.stdoutPath.empty()) {
    const int out = open(launch.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(123);
  }
  if (launch.closedStderr) {
    int ends[2];
    if (pipe(ends) != 0 || dup2(ends[1], STDERR_FILENO) < 0) _exit(121);
    close(ends[0]);
    close(ends[1]);
  } else if (!freopen(errPath.c_str(), "w", stderr)) {
    _exit(121);
  }
  std::vector<char*> argv{const_cast<char*>(Program.c_str())};
  for (const std::string& arg : launch.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(Program.c_str(), argv.data());
  _exit(122);
}

// The exit code, or 128 + the signal that ended it.
int Finish(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct Result {
  int code = -1;
  std::string err;
};

Result RunCapture(const Launch& launch) {
  TempDir logs;
  const std::string errPath = logs / "stderr";
  Result result;
  result.code = Finish(Start(launch, errPath));
  result.err = ReadText(errPath);
  return result;
}

Launch WithArgs(std::vector<std::string> args) {
  Launch launch;
  launch.args = std::move(args);
  return launch;
}

Result RunCapture(std::vector<std::string> args) { return RunCapture(WithArgs(std::move(args))); }

#define ASSERT_RAN(result) ASSERT_EQ((result).code, 0) << (result).err

// --- PNG frames -------------------------------------------------------------

std::string FrameName(long long frame) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%06lld.png", frame);
  return name;
}

// --- ffprobe and ffmpeg -----------------------------------------------------

bool HaveFfmpeg() { return std::system("ffprobe -version >/dev/null 2>&1 && ffmpeg -version >/dev/null 2>&1") == 0; }

std::string Capture(const std::string& command) {
  std::string out;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

using Fields = std::map<std::string, std::string>;

// One record per line of ffprobe's compact output: "stream|key=value|...".
std::vector<Fields> Probe(const std::string& file) {
  const std::string out = Capture(
      "ffprobe -v error -count_packets -show_entries "
      "stream=codec_type,codec_name,width,height,r_frame_rate,avg_frame_rate,nb_read_packets,sample_rate,channels,"
      "start_time,duration:format=duration,nb_streams -of compact '" +
      file + "'");
  std::vector<Fields> records;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    Fields fields;
    std::istringstream parts(line);
    std::string part;
    std::getline(parts, part, '|');
    fields["record"] = part;
    while (std::getline(parts, part, '|')) {
      const std::size_t equals = part.find('=');
      if (equals != std::string::npos) fields[part.substr(0, equals)] = part.substr(equals + 1);
    }
    records.push_back(fields);
  }
  return records;
}

// The file's (first) audio stream decoded to 16-bit stereo, as players hear it.
std::vector<std::int16_t> DecodeAudio(const std::string& file, const TempDir& temp) {
  const std::string raw = temp / "audio.raw";
  std::system(("ffmpeg -v error -y -i '" + file + "' -map 0:a:0 -f s16le -ac 2 -ar 44100 '" + raw + "'").c_str());
  const std::string bytes = ReadText(raw);
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  fs::remove(raw);
  return samples;
}

// The offset (in sample frames, within +-range) at which the captured audio
// best matches the music starting at `musicFrame`, and the mean difference there.
struct Alignment {
  int offset = 0;
  double meanDifference = 0;
};
Alignment Align(const std::vector<std::int16_t>& captured, std::size_t capturedFrame,
                const std::vector<std::int16_t>& music, std::size_t musicFrame, int range) {
  constexpr std::size_t Window = 4096;  // sample frames compared
  Alignment best{0, 1e30};
  for (int offset = -range; offset <= range; ++offset) {
    const std::size_t c = 2 * (capturedFrame + range + offset);
    const std::size_t m = 2 * (musicFrame + range);
    if (c + 2 * Window > captured.size() || m + 2 * Window > music.size()) continue;
    double sum = 0;
    for (std::size_t i = 0; i < 2 * Window; ++i) sum += std::abs(int(captured[c + i]) - int(music[m + i]));
    if (sum / (2 * Window) < best.meanDifference) best = {offset, sum / (2 * Window)};
  }
  return best;
}

double Loudness(const std::vector<std::int16_t>& music, std::size_t frame) {
  double sum = 0;
  for (std::size_t i = 2 * frame; i < std::min(music.size(), 2 * frame + 8192); ++i) sum += std::abs(int(music[i]));
  return sum / 8192;
}

// --- determinism --------------------------------------------------------------

TEST(CaptureRun, SameSeedGivesIdenticalFrames) {
  TempDir temp;
  for (const char* name : {"a/", "b/"})
    ASSERT_RAN(RunCapture({temp / name, "--size", "160x120", "--to", "2000", "--seed", "7"}));
  const std::vector<std::string> a = Entries(temp / "a"), b = Entries(temp / "b");
  ASSERT_EQ(a.size(), 120u);  // 2 s at 60 fps
  ASSERT_EQ(a, b);
  EXPECT_EQ(a.front(), "frame_000000.png");
  EXPECT_EQ(a.back(), "frame_000119.png");
  for (const std::string& name : a)
    EXPECT_EQ(ReadText(temp / ("a/" + name)), ReadText(temp / ("b/" + name))) << name;
}

TEST(CaptureRun, SeedsDifferOnlyInTheShakeWindow) {
  TempDir temp;
  // 25 fps: frames 40 ms apart, so the run up to 56000 ms stays short.
  for (const char* seed : {"1", "2"})
    ASSERT_RAN(RunCapture({temp / (std::string("s") + seed + "/"), "--size", "160x120", "--fps", "25", "--from", "56000",
                    "--to", "58500", "--seed", seed}));
  const std::vector<std::string> names = Entries(temp / "s1");
  ASSERT_EQ(names.size(), 63u);  // 56000 ... 58480 ms
  ASSERT_EQ(names, Entries(temp / "s2"));
  int shaken = 0, differing = 0;
  for (const std::string& name : names) {
    const long long frame = std::stoll(name.substr(6, 6));
    const long long clock = frame * 40;
    const bool same = ReadText(temp / ("s1/" + name)) == ReadText(temp / ("s2/" + name));
    if (clock >= 56841 && clock <= 57740) {
      ++shaken;
      differing += !same;
    } else {
      EXPECT_TRUE(same) << name << " at " << clock << " ms differs outside the shake";
    }
  }
  EXPECT_EQ(shaken, 22);
  // The offsets are drawn from 20 values: a few frames may match by chance.
  EXPECT_GE(differing, shaken * 3 / 4) << differing << " of " << shaken << " shaken frames differ";
}

// --- the whole show: frames log, streams, length, sync ------------------------

TEST(CaptureRun, WholeShowVideoHasTheRightStreamsLengthLogAndSync) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
  TempDir temp;
  const std::string video = temp / "show.mp4", log = temp / "frames.txt";
  ASSERT_RAN(RunCapture({video, "--size", "160x120", "--seed", "3", "--frames-log", log}));
  EXPECT_EQ(Entries(temp.path), (std::vector<std::string>{"frames.txt", "show.mp4"}));

  // The log: every frame before the show's end, at floor(n * 1000 / 60) ms,
  // with the timeline's layers for that time.
  std::istringstream lines(ReadText(log));
  long long expected = 0;
  std::set<std::int32_t> windowsSeen;
  for (std::string line; std::getline(lines, line); ++expected) {
    std::istringstream fields(line);
    long long frame = -1;
    std::int32_t clock = -1;
    std::string background, overlay;
    ASSERT_TRUE(fields >> frame >> clock >> background >> overlay) << line;
    ASSERT_EQ(frame, expected);
    ASSERT_EQ(clock, static_cast<std::int32_t>(frame * 1000 / 60)) << line;
    const TimelineWindow& window = TimelineWindowAt(clock);
    ASSERT_EQ(background, window.backgroundName) << line;
    ASSERT_EQ(overlay, window.overlayName) << line;
    windowsSeen.insert(window.from);
    if (clock >= 22731 && clock <= 23920) {
      EXPECT_EQ(background + overlay, "--") << line;
    }
  }
  EXPECT_EQ(expected, 4020);  // 67 s x 60; the loop's last frame (67000 ms, nothing drawn) is not written
  EXPECT_EQ(windowsSeen.size(), Timeline.size() - 1);  // every window but the one at the end

  // The streams: H.264 of the asked size and rate, the MP3; 67 s +- one frame.
  const std::vector<Fields> records = Probe(video);
  std::vector<Fields> streams;
  Fields format;
  for (const Fields& r : records) (r.at("record") == "stream" ? streams.push_back(r) : void(format = r));
  ASSERT_EQ(streams.size(), 2u);
  const Fields& v = streams[0]["codec_type"] == "video" ? streams[0] : streams[1];
  const Fields& a = streams[0]["codec_type"] == "video" ? streams[1] : streams[0];
  EXPECT_EQ(v.at("codec_name"), "h264");
  EXPECT_EQ(v.at("width"), "160");
  EXPECT_EQ(v.at("height"), "120");
  EXPECT_EQ(v.at("r_frame_rate"), "60/1");
  EXPECT_EQ(v.at("avg_frame_rate"), "60/1");
  EXPECT_EQ(v.at("nb_read_packets"), "4020");
  EXPECT_EQ(a.at("codec_type"), "audio");
  EXPECT_EQ(a.at("codec_name"), "mp3");
  EXPECT_EQ(a.at("sample_rate"), "44100");
  EXPECT_NEAR(std::stod(v.at("duration")), 67.0, 1.0 / 60);
  EXPECT_NEAR(std::stod(a.at("duration")), 67.0, 1.0 / 60);
  EXPECT_NEAR(std::stod(format.at("duration")), 67.0, 1.0 / 60);
  EXPECT_NEAR(std::stod(v.at("start_time")), 0.0, 1e-6);

  // Sync: the first sample heard is the music's first (gapless decoding of
  // data/run_away.mp3), so the decoded tracks match sample for sample from 0.
  const std::vector<std::int16_t> music = DecodeAudio(SourceRoot + "/data/run_away.mp3", temp);
  const std::vector<std::int16_t> heard = DecodeAudio(video, temp);
  ASSERT_GT(music.size(), std::size_t{70} * SampleRate * 2);
  EXPECT_NEAR(double(heard.size()) / 2 / SampleRate, 67.0, 1.0 / 60);
  for (std::size_t at : {std::size_t{0}, std::size_t{SampleRate}, std::size_t{30} * SampleRate}) {
    ASSERT_GT(Loudness(music, at + 1152), 10) << "the music is silent at " << at;
    const Alignment alignment = Align(heard, at, music, at, 1152);
    EXPECT_EQ(alignment.offset, 0) << "at sample " << at;
    EXPECT_LT(alignment.meanDifference, 1.0) << "at sample " << at;
  }
}

// A range from the middle: the music under the first frame plays at video
// time 0, in MP4 (edit list) and in Matroska (audio starts before the video).
TEST(CaptureRun, RangeFromTheMiddleKeepsSoundInSync) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
  TempDir temp;
  const std::vector<std::int16_t> music = DecodeAudio(SourceRoot + "/data/run_away.mp3", temp);
  for (const char* name : {"part.mp4", "part.mkv"}) {
    const std::string video = temp / name;
    ASSERT_RAN(RunCapture({video, "--size", "64x48", "--fps", "30", "--from", "30000", "--to", "33000", "--seed", "1"}));
    double videoStart = -1;
    for (const Fields& r : Probe(video)) {
      if (r.count("codec_type") && r.at("codec_type") == "video") {
        videoStart = std::stod(r.at("start_time"));
        EXPECT_EQ(r.at("nb_read_packets"), "90") << name;  // 3 s at 30 fps
      }
    }
    ASSERT_GE(videoStart, 0) << name;
    const std::vector<std::int16_t> heard = DecodeAudio(video, temp);
    const std::size_t videoStartFrame = static_cast<std::size_t>(std::lround(videoStart * SampleRate));
    const std::size_t musicFrame = std::size_t{30} * SampleRate;  // frame 900 at 30 fps is 30000 ms
    const Alignment alignment = Align(heard, videoStartFrame, music, musicFrame, 1152);
    // Matroska keeps times in whole milliseconds: the video's start is within 0.5 ms.
    EXPECT_LE(std::abs(alignment.offset), SampleRate / 1000) << name;
    EXPECT_LT(alignment.meanDifference, 1.0) << name;
    if (std::string(name).ends_with(".mp4")) {
      EXPECT_EQ(alignment.offset, 0);
    }
  }
}

// --- frames against the layers' reference renderings -------------------------

// At 200/3 fps frame n shows n x 15 ms, the grid the references were drawn on
// (every earlier frame run), at 640 x 480 with their shake seed.
void CheckReferences(const std::string& from, const std::string& to,
                     const std::vector<std::pair<long long, std::string>>& frames) {
  TempDir temp;
  ASSERT_RAN(RunCapture({temp / "f/", "--size", "640x480", "--fps", "200/3", "--seed", "20240607", "--from", from, "--to", to}));
  for (const auto& [frame, reference] : frames) {
    RgbImage actual, expected;
    ASSERT_TRUE(ReadFramePng(temp / ("f/" + FrameName(frame)), actual)) << FrameName(frame);
    ASSERT_TRUE(ReadFramePng(ReferenceDir + "/" + reference + ".png", expected)) << reference;
    EXPECT_EQ(CompareFrames(actual, expected), "") << reference << " (frame " << frame << ")";
  }
}

TEST(CaptureRun, FramesEqualTheLayersReferenceFrames) {
  CheckReferences("2985", "9001", {{199, "b1_enter_text1_frame200"}, {390, "b2_leave_text1"}, {600, "b3_enter_text2"}});
}

TEST(CaptureRun, FramesEqualTheLayersReferenceFramesOfTheEnd) {
  CheckReferences("57300", "66001", {{3820, "b13_shake_text99"}, {4134, "closing_page"}, {4400, "closing_fade"}});
}

// --- failures ------------------------------------------------------------------

TEST(CaptureRun, BadArgumentsExitWith64AndWriteNothing) {
  TempDir temp;
  const std::vector<std::vector<std::string>> cases = {
      {},
      {temp / "a.avi"},
      {temp / "a.mp4", "--fps", "67"},
      {temp / "a.mp4", "--size", "641x480"},
      {temp / "a.mp4", "--from", "5000", "--to", "4000"},
      {temp / "a.mp4", "--seed", "x"},
      {temp / "a.mp4", "--volume", "11"},
  };
  for (const std::vector<std::string>& args : cases) {
    const Result result = RunCapture(args);
    EXPECT_EQ(result.code, 64) << result.err;
    EXPECT_NE(result.err.find("usage: quenrik-capture OUT"), std::string::npos) << result.err;
  }
  EXPECT_TRUE(Entries(temp.path).empty());
}

TEST(CaptureRun, UnwritableOutputFailsBeforeRendering) {
  TempDir temp;
  std::ofstream(temp / "file") << "not a folder";
  for (const std::string& out : {temp / "missing/show.mp4", temp / "file/show.mp4", temp / "file/frames/"}) {
    const Result result = RunCapture({out, "--size", "64x48", "--to", "1000", "--frames-log", temp / "log.txt"});
    EXPECT_EQ(result.code, 1) << out;
    EXPECT_NE(result.err.find("cannot"), std::string::npos) << result.err;
    EXPECT_EQ(Entries(temp.path), std::vector<std::string>{"file"}) << out;
  }
  const Result log = RunCapture({temp / "show.mp4", "--size", "64x48", "--to", "1000", "--frames-log", temp / "no/log.txt"});
  EXPECT_EQ(log.code, 1);
  EXPECT_NE(log.err.find("no/log.txt"), std::string::npos) << log.err;
  EXPECT_EQ(Entries(temp.path), std::vector<std::string>{"file"});
}

TEST(CaptureRun, MissingDataFailsAndLeavesNothing) {
  TempDir temp;
  // Video: the music is read first; PNG frames: the pictures.
  for (const char* out : {"show.mp4", "frames/"}) {
    Launch launch = WithArgs({out, "--size", "64x48", "--to", "1000", "--frames-log", "log.txt"});
    launch.folder = temp.path.string();
    const Result result = RunCapture(launch);
    EXPECT_EQ(result.code, 1) << out;
    EXPECT_NE(result.err.find("data/"), std::string::npos) << result.err;
    EXPECT_TRUE(Entries(temp.path).empty()) << out;
  }
}

TEST(CaptureRun, NoEglFailsAndLeavesNothing) {
  TempDir temp;
  Launch launch = WithArgs({temp / "show.mp4", "--size", "64x48", "--to", "1000"});
  launch.environment = {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent/egl_vendor.json"};
  const Result result = RunCapture(launch);
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("EGL"), std::string::npos) << result.err;
  EXPECT_TRUE(Entries(temp.path).empty());
}

TEST(CaptureRun, WriteFailureMidwayLeavesNothing) {
  TempDir temp;
  Launch launch = WithArgs({temp / "show.mp4", "--size", "160x120", "--seed", "1", "--frames-log", temp / "log.txt"});
  launch.fileSizeLimit = 300 * 1000;  // the whole show needs about 2 MB
  const Result result = RunCapture(launch);
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("show.mp4: cannot be written (File too large)"), std::string::npos) << result.err;
  EXPECT_TRUE(Entries(temp.path).empty());
}

TEST(CaptureRun, ClosedStderrDoesNotStopTheCapture) {
  TempDir temp;
  Launch launch = WithArgs({temp / "show.mp4", "--size", "64x48", "--to", "2000"});
  launch.closedStderr = true;
  EXPECT_EQ(RunCapture(launch).code, 0);
  EXPECT_EQ(Entries(temp.path), std::vector<std::string>{"show.mp4"});
}

// --- outputs that never destroy ---------------------------------------------------

// A copy of the show's data/ in a folder of its own, so that a capture that
// wrongly wrote over an input would destroy nothing of the source tree.
struct ShowFolder {
  TempDir temp;
  ShowFolder() {
    fs::create_directory(temp / "data");
    for (const auto& entry : fs::directory_iterator(SourceRoot + "/data"))
      fs::copy_file(entry.path(), temp.path / "data" / entry.path().filename());
  }
  std::string operator/(const std::string& name) const { return temp / name; }
  Launch Run(std::vector<std::string> args) const {
    Launch launch = WithArgs(std::move(args));
    launch.folder = temp.path.string();
    return launch;
  }
};

constexpr char MatroskaMagic[] = "\x1a\x45\xdf\xa3";  // the EBML header's ID

// Reads a named pipe on a thread of its own until its writer closes it, or
// until `limit` bytes came (then closes it early).
struct PipeReader {
  std::string path;
  std::size_t limit;
  std::string received;
  std::atomic<bool> done{false};
  std::thread thread;
  explicit PipeReader(std::string pipe, std::size_t most = SIZE_MAX) : path(std::move(pipe)), limit(most) {
    thread = std::thread([this] {
      const int fd = open(path.c_str(), O_RDONLY);
      char buffer[4096];
      for (ssize_t n; received.size() < limit && (n = read(fd, buffer, sizeof buffer)) > 0;) received.append(buffer, n);
      close(fd);
      done = true;
    });
  }
  // What came. A writer that never came (the program failed first) is
  // stood in for, so that the reader does not wait for ever.
  std::string Take() {
    while (!done) {
      const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    thread.join();
    return received;
  }
};

TEST(CaptureRun, OutputsNeverDestroyWhatWasThere) {
  ShowFolder show;
  const std::vector<std::string> quick = {"--size", "64x48", "--to", "500", "--seed", "1"};
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.end(), quick.begin(), quick.end());
    return show.Run(args);
  };
  WriteText(show / "o.mp4", "old");
  chmod((show / "o.mp4").c_str(), 0600);
  fs::create_directory(show / "sub");
  fs::create_hard_link(show / "o.mp4", show / "hard.txt");
  fs::create_symlink("o.mp4", show / "soft.txt");
  const std::vector<std::string> before = Entries(show.temp.path);
  // The frames log and the video are one file, however it is spelled.
  for (const std::string log : {"o.mp4", "sub/../o.mp4", "hard.txt", "soft.txt"}) {
    const Result result = RunCapture(with({"o.mp4", "--frames-log", log}));
    EXPECT_EQ(result.code, 1) << log;
    EXPECT_NE(result.err.find("are the same file; nothing written"), std::string::npos) << result.err;
    EXPECT_EQ(ReadText(show / "o.mp4"), "old") << log;
    EXPECT_EQ(Entries(show.temp.path), before) << log;
  }
  // An output that is one of the show's files.
  const std::string music = ReadText(show / "data/run_away.mp3");
  fs::create_symlink("data/run_away.mp3", show / "music.mkv");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"music.mkv"},
                                               std::vector<std::string>{"x.mp4", "--frames-log", "data/text_5.hwl"}}) {
    const Result result = RunCapture(with(args));
    EXPECT_EQ(result.code, 1) << args[0];
    EXPECT_NE(result.err.find("is the same file as data/"), std::string::npos) << result.err;
  }
  EXPECT_EQ(ReadText(show / "data/run_away.mp3"), music);
  fs::remove(show / "music.mkv");
  EXPECT_EQ(Entries(show.temp.path), before);
  // A file replaced keeps its mode, and the links to it.
  ASSERT_RAN(RunCapture(with({"o.mp4"})));
  EXPECT_EQ(ReadText(show / "o.mp4").substr(4, 4), "ftyp");
  EXPECT_EQ(Mode(show / "o.mp4"), 0600u);
  EXPECT_EQ(ReadText(show / "hard.txt"), "old") << "a hard link keeps the old file";
  EXPECT_EQ(ReadText(show / "soft.txt"), ReadText(show / "o.mp4"));
  EXPECT_EQ(Entries(show.temp.path), before);
  // A pipe gets Matroska as it is written; an MP4 pipe is refused.
  ASSERT_EQ(mkfifo((show / "pipe").c_str(), 0600), 0);
  PipeReader reader(show / "pipe");
  const Result piped = RunCapture(with({"pipe"}));
  const std::string received = reader.Take();
  ASSERT_RAN(piped);
  EXPECT_EQ(received.substr(0, 4), MatroskaMagic);
  EXPECT_EQ(fs::status(show / "pipe").type(), fs::file_type::fifo);
  if (HaveFfmpeg()) {
    WriteText(show / "piped.mkv", received);
    std::string packets;
    for (const Fields& record : Probe(show / "piped.mkv"))
      if (record.count("nb_read_packets")) packets += record.at("codec_type") + "=" + record.at("nb_read_packets") + " ";
    EXPECT_EQ(packets.substr(0, 9), "video=30 ") << packets;
    fs::remove(show / "piped.mkv");
  }
  ASSERT_EQ(mkfifo((show / "pipe.mp4").c_str(), 0600), 0);
  const Result mp4Pipe = RunCapture(with({"pipe.mp4"}));
  EXPECT_EQ(mp4Pipe.code, 64);
  EXPECT_NE(mp4Pipe.err.find("MP4 needs a file it can go back in"), std::string::npos) << mp4Pipe.err;
  // /dev/stdout into a file the shell appends to: written through it.
  Launch toStdout = with({"/dev/stdout"});
  toStdout.stdoutPath = show / "stdout.mkv";
  WriteText(show / "stdout.mkv", "");
  ASSERT_RAN(RunCapture(toStdout));
  EXPECT_EQ(ReadText(show / "stdout.mkv").substr(0, 4), MatroskaMagic);
  for (const char* name : {"pipe", "pipe.mp4", "stdout.mkv"}) fs::remove(show / name);
  EXPECT_EQ(Entries(show.temp.path), before);
}

// All outputs move into place together, once every one is complete: a
// frames log that fails at its last write, or that cannot take its place,
// leaves the frames and the video that were there before.
TEST(CaptureRun, OutputsAreCommittedTogether) {
  TempDir temp;
  fs::create_directory(temp / "frames");
  WriteText(temp / "frames/frame_000000.png", "old frame");
  WriteText(temp / "log.txt", "old log");
  // The log of 2 s at 60 fps, all of it written at the end (it fits the
  // stream's buffer); a limit one byte short of it, above any 16 x 12 frame.
  std::string log;
  for (int frame = 0; frame < 120; ++frame) {
    const TimelineWindow& window = TimelineWindowAt(frame * 1000 / 60);
    log += std::to_string(frame) + " " + std::to_string(frame * 1000 / 60) + " " + window.backgroundName + " " +
           window.overlayName + "\n";
  }
  ASSERT_LT(log.size(), 4096u);
  const std::vector<std::string> args = {temp / "frames", "--size", "16x12", "--to", "2000", "--seed", "1",
                                         "--frames-log", temp / "log.txt"};
  Launch limited = WithArgs(args);
  limited.fileSizeLimit = log.size() - 1;
  const Result full = RunCapture(limited);
  EXPECT_EQ(full.code, 1);
  EXPECT_NE(full.err.find("log.txt: cannot be written (File too large)"), std::string::npos) << full.err;
  EXPECT_EQ(Entries(temp / "frames"), std::vector<std::string>{"frame_000000.png"});
  EXPECT_EQ(ReadText(temp / "frames/frame_000000.png"), "old frame");
  EXPECT_EQ(ReadText(temp / "log.txt"), "old log");
  ASSERT_RAN(RunCapture(WithArgs(args)));
  EXPECT_EQ(Entries(temp / "frames").size(), 120u);
  EXPECT_EQ(ReadText(temp / "log.txt"), log);

  // The log's folder goes away during the capture: the video, already in
  // place when the log's rename fails, is put back.
  WriteText(temp / "show.mp4", "old video");
  fs::create_directory(temp / "logs");
  Launch launch = WithArgs({temp / "show.mp4", "--size", "64x48", "--fps", "30", "--to", "20000", "--frames-log",
                            temp / "logs/frames.txt"});
  const pid_t pid = Start(launch, temp / "stderr");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Entries(temp / "logs").empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  fs::rename(temp / "logs", temp / "moved");
  EXPECT_EQ(Finish(pid), 1);
  const std::string err = ReadText(temp / "stderr");
  EXPECT_NE(err.find("frames.txt: cannot be renamed into place"), std::string::npos) << err;
  EXPECT_EQ(ReadText(temp / "show.mp4"), "old video");
  fs::remove(temp / "stderr");
  fs::remove_all(temp / "moved");
  EXPECT_EQ(Entries(temp.path), (std::vector<std::string>{"frames", "log.txt", "show.mp4"}));
}

// Every signal that ends the program removes what it was writing, and the
// program ends by that signal (128 + N, as a shell reports it).
TEST(CaptureRun, SignalsRemoveEveryTemporary) {
  TempDir temp, logs;
  WriteText(temp / "show.mp4", "old");
  const Launch launch =
      WithArgs({temp / "show.mp4", "--size", "160x120", "--fps", "30", "--frames-log", temp / "log.txt"});
  // Until the folder holds that many entries (it may not exist yet).
  auto waitFor = [](const std::string& folder, std::size_t entries) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto count = [&] {
      std::error_code ec;
      return fs::is_directory(folder, ec) ? Entries(folder).size() : 0;
    };
    while (count() < entries && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return count() >= entries;
  };
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXFSZ}) {
    const pid_t pid = Start(launch, logs / "stderr");
    EXPECT_TRUE(waitFor(temp.path, 3)) << "the old video and two temporaries";
    kill(pid, signal);
    EXPECT_EQ(Finish(pid), 128 + signal) << strsignal(signal) << ": " << ReadText(logs / "stderr");
    EXPECT_EQ(Entries(temp.path), std::vector<std::string>{"show.mp4"}) << strsignal(signal);
    EXPECT_EQ(ReadText(temp / "show.mp4"), "old");
  }
  // PNG frames: the partial folder and the folder the capture made.
  const pid_t png = Start(WithArgs({temp / "frames/", "--size", "64x48"}), logs / "stderr");
  EXPECT_TRUE(waitFor(temp / "frames", 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // some frames written
  kill(png, SIGTERM);
  EXPECT_EQ(Finish(png), 128 + SIGTERM);
  EXPECT_EQ(Entries(temp.path), std::vector<std::string>{"show.mp4"});
  // A real file size limit: the write itself raises SIGXFSZ.
  Launch limited = launch;
  limited.fileSizeLimit = 300 * 1000;
  limited.sizeSignal = true;
  EXPECT_EQ(Finish(Start(limited, logs / "stderr")), 128 + SIGXFSZ);
  EXPECT_EQ(Entries(temp.path), std::vector<std::string>{"show.mp4"});
  EXPECT_EQ(ReadText(temp / "show.mp4"), "old");
  // The reader of the video's pipe goes away: the capture ends as by SIGPIPE.
  ASSERT_EQ(mkfifo((temp / "pipe").c_str(), 0600), 0);
  PipeReader reader(temp / "pipe", 4096);
  const Result broken = RunCapture(WithArgs({temp / "pipe", "--size", "64x48", "--frames-log", temp / "log.txt"}));
  EXPECT_GE(reader.Take().size(), 4096u);
  EXPECT_EQ(broken.code, 128 + SIGPIPE);
  EXPECT_NE(broken.err.find("pipe: cannot be written (Broken pipe); stopped"), std::string::npos) << broken.err;
  fs::remove(temp / "pipe");
  EXPECT_EQ(Entries(temp.path), std::vector<std::string>{"show.mp4"});
  // A signal the capture was started with ignored (nohup) stays ignored.
  Launch nohup = WithArgs({temp / "short.mp4", "--size", "64x48", "--to", "3000"});
  nohup.ignored = SIGHUP;
  const pid_t kept = Start(nohup, logs / "stderr");
  EXPECT_TRUE(waitFor(temp.path, 2));
  kill(kept, SIGHUP);
  EXPECT_EQ(Finish(kept), 0);
  EXPECT_EQ(Entries(temp.path), (std::vector<std::string>{"short.mp4", "show.mp4"}));
}

// --- the show's files -------------------------------------------------------------

// A file the capture cannot use is named, with what is wrong with it; nothing is written.
TEST(CaptureRun, UnusableInputsAreNamedWithTheReason) {
  ShowFolder show;
  const std::string music = show / "data/run_away.mp3";
  fs::rename(music, show / "music.mp3");
  // A WAV file: "RIFF" header and one second of silence.
  std::string wav = "RIFF____WAVEfmt ";
  auto le = [&](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) wav += char(value >> (8 * i));
  };
  le(16, 4), le(1, 2), le(2, 2), le(44100, 4), le(44100 * 4, 4), le(4, 2), le(16, 2);
  wav += "data";
  le(44100 * 4, 4);
  wav += std::string(44100 * 4, '\0');
  std::string noise(8192, '\0');
  for (std::size_t i = 0, x = 12345; i < noise.size(); ++i) noise[i] = char((x = x * 1103515245 + 12345) >> 16);
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[] {}, "No such file or directory"},
      {[&] { WriteText(music, ""); }, "the file is empty"},
      {[&] { fs::create_directory(music); }, "Is a directory"},
      {[&] { WriteText(music, wav); }, "not an MP3 file: it holds pcm_s16le audio in a WAV"},
      {[&] { WriteText(music, noise); }, "no MP3 audio found in it"},
  };
  for (const auto& [make, reason] : cases) {
    make();
    const Result result = RunCapture(show.Run({"out.mp4", "--size", "64x48", "--to", "500", "--frames-log", "log.txt"}));
    EXPECT_EQ(result.code, 1) << reason;
    EXPECT_NE(result.err.find("cannot read the music data/run_away.mp3: " + reason), std::string::npos) << result.err;
    EXPECT_EQ(Entries(show.temp.path), (std::vector<std::string>{"data", "music.mp3"})) << reason;
    fs::remove_all(music);
  }
  // A missing picture.
  fs::rename(show / "music.mp3", music);
  fs::remove(show / "data/text_5.hwl");
  for (const char* out : {"out.mp4", "frames/"}) {
    const Result result = RunCapture(show.Run({out, "--size", "64x48", "--to", "500"}));
    EXPECT_EQ(result.code, 1) << result.err;
    EXPECT_NE(result.err.find("data/text_5.hwl: cannot be opened (No such file or directory)"), std::string::npos)
        << result.err;
    EXPECT_EQ(Entries(show.temp.path), std::vector<std::string>{"data"});
  }
}

// Music shorter than the show, or cut short, still gives a video, with a
// warning that says how long the music is and what the video lacks.
TEST(CaptureRun, ShortOrCutMusicIsWarnedAbout) {
  ShowFolder show;
  const std::vector<unsigned char> mp3 = EncodeMp3(SilenceThenTone(0, 3 * SampleRate), 2);
  const std::string music = show / "data/run_away.mp3";
  std::ofstream(music, std::ios::binary).write(reinterpret_cast<const char*>(mp3.data()), std::streamsize(mp3.size()));
  const std::string lasts = "warning: the music data/run_away.mp3 lasts only 3 s, less than the show's 67 s; ";
  struct Case {
    std::vector<std::string> range;
    std::string effect;
    double audioSeconds;  // -1: no audio stream
  };
  const std::vector<Case> cases = {
      {{"--to", "5000"}, "this video is silent from music time 3 s on (its last 2 s)", 3.0},
      {{"--to", "2000"}, "this video, up to music time 2 s, has all its sound", 2.0},
      {{"--from", "4000", "--to", "5000"}, "this video has no sound", -1},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"out.mp4", "--size", "64x48"};
    args.insert(args.end(), c.range.begin(), c.range.end());
    const Result result = RunCapture(show.Run(args));
    ASSERT_RAN(result);
    EXPECT_NE(result.err.find(lasts + c.effect), std::string::npos) << result.err;
    if (!HaveFfmpeg()) continue;
    double audio = -1;
    for (const Fields& r : Probe(show / "out.mp4"))
      if (r.count("codec_type") && r.at("codec_type") == "audio") audio = std::stod(r.at("duration"));
    EXPECT_NEAR(audio, c.audioSeconds, 0.03) << c.effect;
  }
  // Cut to half its bytes: its header still announces 3 s.
  fs::resize_file(music, mp3.size() / 2);
  const Result cut = RunCapture(show.Run({"out.mp4", "--size", "64x48", "--to", "5000"}));
  ASSERT_RAN(cut);
  EXPECT_NE(cut.err.find("data/run_away.mp3 ends early, after 1."), std::string::npos) << cut.err;
  EXPECT_NE(cut.err.find("though its header announces about 3.0 s (a file cut short?)"), std::string::npos) << cut.err;
}

}  // namespace
