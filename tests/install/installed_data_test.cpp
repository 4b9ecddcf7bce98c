// Where the programs' start-up step leaves them: a probe linked with it is
// copied into made-up install trees (the layout cmake/install.cmake gives)
// and run from folders with and without a data/ of their own.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "installed_data.h"

namespace fs = std::filesystem;

namespace {

struct ProbeReport {
  std::string folder;    // working directory after the start-up step
  std::string relative;  // FromStartFolder("out.mp4")
  std::string absolute;  // FromStartFolder("/abs/out.mp4")
};

class InstalledData : public testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("quenrik-installed-data-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "start");
    root = fs::canonical(root);
  }
  void TearDown() override { fs::remove_all(root); }

  // A tree under root/name with the probe in its bin folder; with data, its
  // installed home holds data/.
  fs::path MakeTree(const std::string& name, bool withData) {
    const fs::path prefix = root / name;
    fs::create_directories(prefix / QUENRIK_TEST_BIN);
    fs::create_directories(prefix / QUENRIK_TEST_HOME);
    if (withData) fs::create_directories(prefix / QUENRIK_TEST_HOME / "data");
    fs::copy_file(QUENRIK_PROBE, prefix / QUENRIK_TEST_BIN / "probe");
    fs::permissions(prefix / QUENRIK_TEST_BIN / "probe", fs::perms::owner_exec, fs::perm_options::add);
    return prefix;
  }

  ProbeReport Run(const fs::path& probe, const fs::path& from, const char* mode) {
    const std::string command = "cd '" + from.string() + "' && '" + probe.string() + "' " + mode;
    ProbeReport report;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return report;
    std::array<char, 4096> line;
    std::vector<std::string> lines;
    while (std::fgets(line.data(), line.size(), pipe)) {
      std::string text = line.data();
      if (!text.empty() && text.back() == '\n') text.pop_back();
      lines.push_back(text);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    if (lines.size() == 3) report = {lines[0], lines[1], lines[2]};
    return report;
  }

  fs::path root;
};

TEST_F(InstalledData, TheShowStartsInItsInstalledHomeWhereverItIsStarted) {
  const fs::path prefix = MakeTree("usr", true);
  fs::create_directories(root / "start" / "data");  // even beside a data/ of the user's
  const ProbeReport report = Run(prefix / QUENRIK_TEST_BIN / "probe", root / "start", "always");
  EXPECT_EQ(report.folder, (prefix / QUENRIK_TEST_HOME).string());
  EXPECT_EQ(report.relative, (root / "start" / "out.mp4").string());
  EXPECT_EQ(report.absolute, "/abs/out.mp4");
}

TEST_F(InstalledData, TheCaptureKeepsADataFolderWhereItRunsAndUsesTheInstalledOneOtherwise) {
  const fs::path probe = MakeTree("usr", true) / QUENRIK_TEST_BIN / "probe";
  const ProbeReport away = Run(probe, root / "start", "unless-data-here");
  EXPECT_EQ(away.folder, (root / "usr" / QUENRIK_TEST_HOME).string());
  EXPECT_EQ(away.relative, (root / "start" / "out.mp4").string());
  EXPECT_EQ(away.absolute, "/abs/out.mp4");

  fs::create_directories(root / "start" / "data");
  const ProbeReport here = Run(probe, root / "start", "unless-data-here");
  EXPECT_EQ(here.folder, (root / "start").string());
  EXPECT_EQ(here.relative, "out.mp4");
}

TEST_F(InstalledData, NothingChangesOutsideAnInstalledTree) {
  // A home without data/ (a damaged install) and the build tree itself.
  const fs::path damaged = MakeTree("damaged", false) / QUENRIK_TEST_BIN / "probe";
  for (const char* mode : {"always", "unless-data-here"}) {
    for (const fs::path& probe : {damaged, fs::path(QUENRIK_PROBE)}) {
      const ProbeReport report = Run(probe, root / "start", mode);
      EXPECT_EQ(report.folder, (root / "start").string()) << probe << " " << mode;
      EXPECT_EQ(report.relative, "out.mp4") << probe << " " << mode;
    }
  }
  EXPECT_FALSE(InstalledHome(QUENRIK_PROBE));
  EXPECT_FALSE(InstalledHome(""));
}

TEST_F(InstalledData, ALinkToTheInstalledProgramFindsItsHome) {
  const fs::path prefix = MakeTree("opt", true);
  fs::create_directories(root / "links");
  fs::create_symlink(prefix / QUENRIK_TEST_BIN / "probe", root / "links" / "quenrik");
  const ProbeReport report = Run(root / "links" / "quenrik", root / "start", "always");
  EXPECT_EQ(report.folder, (prefix / QUENRIK_TEST_HOME).string());
  EXPECT_EQ(InstalledHome(prefix / QUENRIK_TEST_BIN / "probe"), prefix / QUENRIK_TEST_HOME);
}

}  // namespace
