// The show core over a fake host: the start-up order, the settings from the
// host or its dialog, and the one shutdown on every way out, giving back
// exactly what was taken (failures end the process: death tests).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "gl_recorder.h"
#include "hwl_files.h"
#include "show_config.h"
#include "show_core.h"
#include "show_errors.h"
#include "window_proc.h"

namespace {

using Ops = std::vector<std::string>;

// What the fake host was asked to do, in order (clock reads and messages
// left out), and how it is to behave.
struct FakeHostState {
  Ops ops;
  void (*duringContext)() = nullptr;  // runs inside CreateRenderContext
  std::int32_t music = 0;
  const char* failAt = "";  // the operation that fails
  const char* stopAt = "";  // the operation during which the host's stop flag is set
  int presentsBeforeStop = 0;
  DialogOutcome dialog = DialogOutcome::Go;
};
std::atomic<bool> FakeStop{false};
FakeHostState Fake;

void Log(const char* op) {
  Fake.ops.push_back(op);
  if (std::string(Fake.stopAt) == op && Fake.presentsBeforeStop-- == 0) FakeStop = true;
}
bool Failing(const char* op) { return std::string(Fake.failAt) == op; }

void LoadGl() {
  Log("LoadGl");
  BindGlRecorder();
}
void FreeGl() { Log("FreeGl"); }
void OpenWindowSystem() { Log("OpenWindowSystem"); }
void CreateWindow() {
  Log("CreateWindow");
  if (Failing("CreateWindow")) ShowErrorAndExit("Window could not be created");
  ShowWindowProc(ShowMessage::Create);
}
void CreateRenderContext() {
  Log("CreateRenderContext");
  if (Fake.duringContext) Fake.duringContext();
}
void ReleaseRenderContext() { Log("ReleaseRenderContext"); }
void DestroyWindow() { Log("DestroyWindow"); }
void CloseWindowSystem() { Log("CloseWindowSystem"); }
void NoMessage() {}
void Present() { Log("Present"); }

bool OpenMusic(const char* file, std::string& error) {
  Log("Open");
  EXPECT_STREQ(file, "data/run_away.mp3");
  error = "File not found";
  return !Failing("Open");
}
bool PlayMusic(std::string&) {
  Log("Play");
  return true;
}
// Every read is 20 s on: frames at 0, 20000, 40000, 60000 and 80000 ms.
std::int32_t MusicClock() {
  const std::int32_t now = Fake.music;
  Fake.music += 10000;
  return now;
}
bool NotFinished() { return false; }
void CloseMusic() { Log("Close"); }
std::int64_t Steady() { return 0; }
std::uint32_t Seed() {
  Log("Seed");
  return 1;
}

DialogOutcome Dialog(std::string& message) {
  Log("Configure");
  EXPECT_EQ(Config.ScreenWidth, 1024);  // opens over the host's settings
  Config.ScreenWidth = 800;
  Config.ScreenHeight = 600;
  message = "no display (DISPLAY is not set)";
  return Fake.dialog;
}

// What was done before the failure, then the failure, on stderr.
int Report(const ShowFailure& failure) {
  std::string ops;
  for (const std::string& op : Fake.ops) ops += op + " ";
  std::fprintf(stderr, "ops: %s| failure: %s / %s\n", ops.c_str(), failure.text.c_str(), failure.detail.c_str());
  return failure.exitCode + 40;
}

ShowHost FakeHost() {
  ShowHost host{};
  host.settings.ScreenWidth = 1024;
  host.settings.ScreenHeight = 768;
  host.Configure = Dialog;
  host.window = {LoadGl,        FreeGl,         OpenWindowSystem, CreateWindow, CreateRenderContext,
                 ReleaseRenderContext, DestroyWindow, CloseWindowSystem, NoMessage, Present};
  host.music = {OpenMusic, PlayMusic, MusicClock, NotFinished, CloseMusic};
  host.SteadyNowMs = Steady;
  host.Seed = Seed;
  host.ReportFailure = Report;
  host.stop = &FakeStop;
  return host;
}

class ShowCore : public ScratchDataDirectory {
 protected:
  void SetUp() override {
    ScratchDataDirectory::SetUp();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Fake = FakeHostState{};
    FakeStop = false;
    WriteAllShowPictures();
    WriteColourFile("loading.hwl", 8, 8, 1);
  }
};

const Ops StartUp = {"LoadGl", "Seed", "Configure", "OpenWindowSystem", "CreateWindow", "CreateRenderContext",
                     "LoadGl", "Present", "Open", "Play"};

TEST_F(ShowCore, RunsTheStartUpFramesAndShutdownInOrder) {
  EXPECT_EQ(RunShow(FakeHost()), 0);
  Ops expected = StartUp;
  for (int frame = 0; frame < 5; ++frame) expected.push_back("Present");
  for (const char* op : {"Close", "ReleaseRenderContext", "DestroyWindow", "CloseWindowSystem", "FreeGl"})
    expected.push_back(op);
  EXPECT_EQ(Fake.ops, expected);
  EXPECT_EQ(EndShow(), 0);  // a second shutdown gives nothing back twice
  EXPECT_EQ(Fake.ops.size(), expected.size());
}

TEST_F(ShowCore, RenderStateFollowsTheDialogsChoice) {
  ASSERT_TRUE(StartShow(FakeHost()));
  EXPECT_EQ(FormatCall(Recorder.calls.at(0)), "glViewport(0, 0, 800, 600)");
  EndShow();
}

TEST_F(ShowCore, FixedSettingsSkipTheDialog) {
  ShowHost host = FakeHost();
  host.Configure = nullptr;
  ASSERT_TRUE(StartShow(host));
  EXPECT_EQ(FormatCall(Recorder.calls.at(0)), "glViewport(0, 0, 1024, 768)");
  EXPECT_EQ(Fake.ops.at(2), "OpenWindowSystem");
  EndShow();
}

TEST_F(ShowCore, CancelledDialogGivesBackOnlyTheLibraries) {
  Fake.dialog = DialogOutcome::Quit;
  EXPECT_EQ(RunShow(FakeHost()), 0);
  EXPECT_EQ(Fake.ops, (Ops{"LoadGl", "Seed", "Configure", "FreeGl"}));
}

// Each failure gives back what start-up took before it, in the shutdown's
// order, and only then is reported; the exit code is the host's answer.
TEST_F(ShowCore, EachFailureGivesBackWhatWasTakenThenReports) {
  struct Case {
    void (*arrange)();  // in the child process only
    int exitCode;
    const char* stderrPattern;
  };
  const Case cases[] = {
      {[] { Fake.dialog = DialogOutcome::Failed; }, 41,
       "ops: LoadGl Seed Configure FreeGl \\| failure:  / no display \\(DISPLAY is not set\\)"},
      {[] { Fake.failAt = "CreateWindow"; }, 41,
       "ops: LoadGl Seed Configure OpenWindowSystem CreateWindow DestroyWindow CloseWindowSystem FreeGl "
       "\\| failure: Window could not be created / \n"},
      {[] { std::filesystem::remove("data/text_5.hwl"); }, 42,
       "ops: LoadGl Seed Configure OpenWindowSystem CreateWindow CreateRenderContext LoadGl Present "
       "ReleaseRenderContext DestroyWindow CloseWindowSystem FreeGl \\| failure: Runtime error 2 at "
       "0x[0-9A-F]{8} / .*text_5.hwl"},
      {[] { Fake.failAt = "Open"; }, 41,
       "ops: LoadGl Seed Configure OpenWindowSystem CreateWindow CreateRenderContext LoadGl Present Open "
       "Close ReleaseRenderContext DestroyWindow CloseWindowSystem FreeGl \\| failure: File not found / \n"},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT((c.arrange(), RunShow(FakeHost())), testing::ExitedWithCode(c.exitCode), c.stderrPattern);
  }
}

// A stop (a signal, on the desktop) ends the show as a close request does,
// with exit code 0 and everything given back: while the pictures load (even
// waiting on a picture that never comes), or between frames.
const Ops ShutDownAfterContext = {"ReleaseRenderContext", "DestroyWindow", "CloseWindowSystem", "FreeGl"};

TEST_F(ShowCore, StopBeforeTheLoadingScreenEndsWithoutAFrameOrMusic) {
  Fake.stopAt = "CreateRenderContext";
  EXPECT_EQ(RunShow(FakeHost()), 0);
  Ops expected = {"LoadGl", "Seed", "Configure", "OpenWindowSystem", "CreateWindow", "CreateRenderContext", "LoadGl"};
  expected.insert(expected.end(), ShutDownAfterContext.begin(), ShutDownAfterContext.end());
  EXPECT_EQ(Fake.ops, expected);
}

// The pictures decode from the start: a stop before any is taken abandons
// the decodes under way, even one waiting on a pipe no one writes.
TEST_F(ShowCore, StopBeforeAnyPictureIsTakenAbandonsTheDecodesUnderWay) {
  std::filesystem::remove("data/loading.hwl");
  ASSERT_EQ(mkfifo("data/loading.hwl", 0600), 0);  // decoded first; nothing ever writes it
  Fake.duringContext = [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); };
  Fake.stopAt = "CreateRenderContext";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunShow(FakeHost()), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  Ops expected = {"LoadGl", "Seed", "Configure", "OpenWindowSystem", "CreateWindow", "CreateRenderContext", "LoadGl"};
  expected.insert(expected.end(), ShutDownAfterContext.begin(), ShutDownAfterContext.end());
  EXPECT_EQ(Fake.ops, expected);
}

TEST_F(ShowCore, StopWhileAPictureReadWaitsOnAPipeEndsTheShow) {
  std::filesystem::remove("data/text_11.hwl");
  ASSERT_EQ(mkfifo("data/text_11.hwl", 0600), 0);  // nothing ever writes it
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    FakeStop = true;
  });
  EXPECT_EQ(RunShow(FakeHost()), 0);
  stopper.join();
  Ops expected = {"LoadGl", "Seed", "Configure", "OpenWindowSystem", "CreateWindow", "CreateRenderContext",
                  "LoadGl", "Present"};
  expected.insert(expected.end(), ShutDownAfterContext.begin(), ShutDownAfterContext.end());
  EXPECT_EQ(Fake.ops, expected);
}

TEST_F(ShowCore, StopBetweenFramesEndsAtTheNextStep) {
  Fake.stopAt = "Present";
  Fake.presentsBeforeStop = 2;  // the loading screen's and the first frame's
  EXPECT_EQ(RunShow(FakeHost()), 0);
  Ops expected = StartUp;
  expected.insert(expected.end(), {"Present", "Present", "Close"});
  expected.insert(expected.end(), ShutDownAfterContext.begin(), ShutDownAfterContext.end());
  EXPECT_EQ(Fake.ops, expected);
}

// The pictures decode while the window and the context are made: text 3
// comes through a pipe, and the fake context, before any picture is taken,
// finds its reader already waiting (a writer that opens without waiting fails
// when no one reads) and writes the picture.
TEST_F(ShowCore, PicturesDecodeWhileTheWindowAndContextAreMade) {
  std::ifstream complete("data/text_3.hwl", std::ios::binary);
  static std::string bytes;
  bytes.assign(std::istreambuf_iterator<char>(complete), {});
  std::filesystem::remove("data/text_3.hwl");
  ASSERT_EQ(mkfifo("data/text_3.hwl", 0600), 0);
  Fake.duringContext = [] {
    int pipe = -1;
    for (int attempt = 0; attempt < 500 && pipe < 0; ++attempt) {
      pipe = open("data/text_3.hwl", O_WRONLY | O_NONBLOCK);
      if (pipe < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(pipe, 0) << "no one was reading text_3.hwl while the context was made";
    fcntl(pipe, F_SETFL, 0);
    ASSERT_EQ(write(pipe, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(pipe);
  };
  EXPECT_EQ(RunShow(FakeHost()), 0);
  Ops expected = StartUp;
  for (int frame = 0; frame < 5; ++frame) expected.push_back("Present");
  expected.insert(expected.end(), {"Close", "ReleaseRenderContext", "DestroyWindow", "CloseWindowSystem", "FreeGl"});
  EXPECT_EQ(Fake.ops, expected);
  EXPECT_EQ(PictureRecord(Picture::Text3).width, 16);
}

TEST_F(ShowCore, EventLoopHostStepsTheSameShowAndEndsOnce) {
  ASSERT_TRUE(StartShow(FakeHost()));
  int steps = 0;
  while (StepShow()) ++steps;
  EXPECT_GE(steps, 5);
  EXPECT_FALSE(StepShow());  // over: no more frames
  EXPECT_EQ(EndShow(), 0);
  EXPECT_EQ(EndShow(), 0);
  EXPECT_EQ(Fake.ops.back(), "FreeGl");
  EXPECT_EQ(std::count(Fake.ops.begin(), Fake.ops.end(), "Close"), 1);
}

}  // namespace
