// The capture's outputs committed together (output_file.h): all replaced or
// none, modes kept, and every temporary file and folder removed on failure
// and on a signal.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "capture_test_files.h"
#include "output_file.h"

namespace fs = std::filesystem;
using namespace capture_test;

namespace {

// A scratch folder whose whole tree can be listed.
struct Scratch : TempDir {
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(path)) names.push_back(fs::relative(entry, path).string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

void Fill(OutputFile& out, const std::string& text) {
  ASSERT_EQ(write(out.fd, text.data(), text.size()), ssize_t(text.size()));
}

TEST(CaptureOutputs, AreCommittedTogetherOrNotAtAll) {
  Scratch dir;
  WriteText(dir / "video.mp4", "old video");
  chmod((dir / "video.mp4").c_str(), 0640);
  WriteText(dir / "log.txt", "old log");
  // The log cannot take its place (a folder has appeared there): the video,
  // already swapped into place, is put back with its mode.
  OutputFile video, log;
  ASSERT_EQ(OpenOutput(dir / "video.mp4", {}, video), "");
  ASSERT_EQ(OpenOutput(dir / "log.txt", {}, log), "");
  Fill(video, "new video");
  Fill(log, "new log");
  fs::remove(dir / "log.txt");
  fs::create_directory(dir / "log.txt");
  OutputFile* const both[] = {&video, &log};
  const std::string reason = CommitOutputs(both);
  EXPECT_NE(reason.find("log.txt: is a folder; not replaced"), std::string::npos) << reason;
  EXPECT_EQ(ReadText(dir / "video.mp4"), "old video");
  EXPECT_EQ(Mode(dir / "video.mp4"), 0640u);
  EXPECT_EQ(dir.Listing(), (std::vector<std::string>{"log.txt", "video.mp4"}));
}

// Files of a caller's own (PNG frames) move with the outputs: a failure
// puts back the files replaced and takes away the new ones.
TEST(CaptureOutputs, MovesAreUndoneWhenOneFails) {
  Scratch dir;
  fs::create_directory(dir / "new");
  WriteText(dir / "frame_0.png", "old 0");
  chmod((dir / "frame_0.png").c_str(), 0600);
  for (const char* name : {"frame_0.png", "frame_1.png"}) WriteText(dir / ("new/" + std::string(name)), "new");
  const std::vector<OutputMove> moves = {{dir / "new/frame_0.png", dir / "frame_0.png"},
                                         {dir / "new/frame_1.png", dir / "frame_1.png"},
                                         {dir / "new/frame_2.png", dir / "frame_2.png"}};  // no such file
  const std::string reason = MoveIntoPlace(moves);
  EXPECT_NE(reason.find("frame_2.png: cannot be renamed into place"), std::string::npos) << reason;
  EXPECT_EQ(ReadText(dir / "frame_0.png"), "old 0");
  EXPECT_EQ(Mode(dir / "frame_0.png"), 0600u);
  EXPECT_FALSE(fs::exists(dir / "frame_1.png"));
  EXPECT_EQ(ReadText(dir / "new/frame_0.png"), "new");
  EXPECT_EQ(ReadText(dir / "new/frame_1.png"), "new");
  // Without the missing one all go; the file replaced is left where the new
  // one was, for the caller to remove, and the new one has the old mode.
  ASSERT_EQ(MoveIntoPlace(std::span(moves).first(2)), "");
  EXPECT_EQ(ReadText(dir / "frame_0.png"), "new");
  EXPECT_EQ(Mode(dir / "frame_0.png"), 0600u);
  EXPECT_EQ(ReadText(dir / "frame_1.png"), "new");
  EXPECT_EQ(ReadText(dir / "new/frame_0.png"), "old 0");
}

TEST(CaptureOutputs, TemporaryFoldersGoWithTheirFilesAndMadeFoldersOnlyWhenEmpty) {
  Scratch dir;
  std::string made = dir / "frames", partial = dir / "frames/.partial-XXXXXX";
  int madeSlot = -1, partialSlot = -1;
  ASSERT_EQ(MakeTemporaryFolder(made, TemporaryFolder::Made, madeSlot), "");
  ASSERT_EQ(MakeTemporaryFolder(partial, TemporaryFolder::Partial, partialSlot), "");
  EXPECT_EQ(partial.find("XXXXXX"), std::string::npos);
  for (int i = 0; i < 300; ++i) WriteText(partial + "/frame_" + std::to_string(i) + ".png", "x");  // several reads of the folder
  // A file someone else put into the folder made for the frames stays, and so does the folder.
  WriteText(dir / "frames/theirs.txt", "theirs");
  RemoveOutputTemporaries();
  EXPECT_EQ(dir.Listing(), (std::vector<std::string>{"frames", "frames/theirs.txt"}));
  fs::remove(dir / "frames/theirs.txt");
  RemoveOutputTemporaries();
  EXPECT_TRUE(dir.Listing().empty());
  DiscardTemporary(partialSlot);
  DiscardTemporary(madeSlot);
  EXPECT_EQ(partialSlot, -1);
  // A folder that cannot be made is told with the reason.
  std::string inFile = dir / "file/frames";
  WriteText(dir / "file", "");
  int slot = 0;
  EXPECT_NE(MakeTemporaryFolder(inFile, TemporaryFolder::Made, slot).find("(Not a directory)"), std::string::npos);
  EXPECT_EQ(slot, -1);
}

// A signal that ends the program takes every temporary with it, files and
// folders, and the program still ends by that signal.
TEST(CaptureOutputs, ASignalRemovesEveryTemporary) {
  Scratch dir;
  WriteText(dir / "video.mp4", "old");
  for (const int sig : {SIGTERM, SIGUSR1, SIGSEGV}) {
    const pid_t pid = fork();
    if (pid == 0) {
      const rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      signal(sig, SIG_DFL);
      RemoveOutputsOnSignals();
      OutputFile video;
      std::string frames = dir / "frames", partial = dir / "frames/.partial-XXXXXX";
      int madeSlot = -1, partialSlot = -1;
      if (!OpenOutput(dir / "video.mp4", {}, video).empty() ||
          !MakeTemporaryFolder(frames, TemporaryFolder::Made, madeSlot).empty() ||
          !MakeTemporaryFolder(partial, TemporaryFolder::Partial, partialSlot).empty())
        _exit(3);
      WriteText(partial + "/frame_1.png", "x");
      raise(sig);
      _exit(4);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << strsignal(sig) << ": status " << status;
    EXPECT_EQ(dir.Listing(), std::vector<std::string>{"video.mp4"}) << strsignal(sig);
    EXPECT_EQ(ReadText(dir / "video.mp4"), "old");
  }
}

}  // namespace
