// quenrik-capture run as a program, headless: determinism, the frames log,
// the video file's streams and A/V sync, frames against the layers'
// reference renderings, and every failure leaving no file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frame_compare.h"
#include "timeline.h"

namespace fs = std::filesystem;

namespace {

const std::string Program = QUENRIK_CAPTURE_PROGRAM;
const std::string SourceRoot = QUENRIK_SOURCE_ROOT;  // holds data/
const std::string ReferenceDir = QUENRIK_REFERENCE_DIR;

constexpr int SampleRate = 44100;

// A fresh folder, removed with everything in it.
struct TempDir {
  fs::path path;
  TempDir() {
    std::string name = (fs::temp_directory_path() / "quenrik-capture-test-XXXXXX").string();
    if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp");
    path = name;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
};

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Launch {
  std::vector<std::string> args;
  std::string folder = SourceRoot;        // working directory
  std::vector<std::string> environment;   // NAME=VALUE added
  rlim_t fileSizeLimit = RLIM_INFINITY;   // bytes any one file may grow to
  bool closedStderr = false;              // stderr a pipe nobody reads (as "| head" leaves it)
};

// Starts the program with stderr into errPath.
pid_t Start(const Launch& launch, const std::string& errPath) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(launch.folder.c_str()) != 0) _exit(120);
  for (const std::string& variable : launch.environment) putenv(const_cast<char*>(variable.c_str()));
  if (launch.fileSizeLimit != RLIM_INFINITY) {
    const rlimit limit{launch.fileSizeLimit, launch.fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead of killing
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
  EXPECT_NE(result.err.find("cannot write"), std::string::npos) << result.err;
  EXPECT_TRUE(Entries(temp.path).empty());
}

TEST(CaptureRun, SignalStopsTheCaptureAndLeavesNothing) {
  TempDir temp, logs;
  for (const int signal : {SIGTERM, SIGINT}) {
    Launch launch = WithArgs({temp / "show.mp4", "--size", "160x120", "--fps", "30", "--frames-log", temp / "log.txt"});
    const pid_t pid = Start(launch, logs / "stderr");
    // Wait until the partial file exists, so the signal arrives mid-capture.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Entries(temp.path).size() < 2 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Entries(temp.path).size(), 2u);  // the partial video and log
    kill(pid, signal);
    EXPECT_EQ(Finish(pid), 128 + signal) << ReadText(logs / "stderr");
    EXPECT_TRUE(Entries(temp.path).empty());
  }
}

TEST(CaptureRun, ClosedStderrDoesNotStopTheCapture) {
  TempDir temp;
  Launch launch = WithArgs({temp / "show.mp4", "--size", "64x48", "--to", "2000"});
  launch.closedStderr = true;
  EXPECT_EQ(RunCapture(launch).code, 0);
  EXPECT_EQ(Entries(temp.path), std::vector<std::string>{"show.mp4"});
}

}  // namespace
