// The dialog procedure alone, over a fake toolkit that keeps the controls'
// state the way Windows would (check marks, list entries, selection) and
// records how the dialog ended.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "config_dialog_proc.h"
#include "config_dialog_template.h"
#include "show_config.h"

using namespace dialog_template;

namespace {

struct FakeDialog {
  std::map<int, bool> checks;
  std::map<int, std::vector<std::string>> lists;
  std::map<int, int> selection;
  std::vector<std::string> selectCalls;  // "id:start:prefix"
  int endDialogCalls = 0;
  int endProgramCalls = 0;
  int exitCode = -1;
  bool endDialogBeforeEndProgram = false;
};
FakeDialog Fake;

bool PrefixMatches(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

constexpr DialogActions FakeActions{
    [](DialogHandle, int id, bool checked) { Fake.checks[id] = checked; },
    [](DialogHandle, int id, const char* text) { Fake.lists[id].push_back(text); },
    [](DialogHandle, int id, int start, const char* prefix) {
      Fake.selectCalls.push_back(std::to_string(id) + ":" + std::to_string(start) + ":" + prefix);
      const auto& list = Fake.lists[id];
      const int count = static_cast<int>(list.size());
      if (start < -1 || start >= count) start = -1;
      for (int step = 1; step <= count; ++step) {
        const int index = (start + step) % count;
        if (PrefixMatches(list[static_cast<std::size_t>(index)], prefix)) return Fake.selection[id] = index;
      }
      return -1;
    },
    [](DialogHandle, int id) {
      auto found = Fake.selection.find(id);
      return found == Fake.selection.end() ? -1 : found->second;
    },
    [](DialogHandle, std::intptr_t result) {
      EXPECT_EQ(result, 0);
      ++Fake.endDialogCalls;
    },
    [](int code) {
      Fake.endDialogBeforeEndProgram = Fake.endDialogCalls > 0;
      ++Fake.endProgramCalls;
      Fake.exitCode = code;
    },
};

int Handle;  // any address stands for the dialog
DialogHandle Dlg = &Handle;

std::intptr_t Command(std::uintptr_t wParam) { return ConfigDialogProc(Dlg, MsgCommand, wParam, 0); }
void Click(int id) { Command(static_cast<std::uintptr_t>(id)); }

class DialogProc : public ::testing::Test {
 protected:
  void SetUp() override {
    Config = ShowConfig{};
    Fake = FakeDialog{};
    ConfigDialogActions = FakeActions;
  }
  void Init() { EXPECT_EQ(ConfigDialogProc(Dlg, MsgInitDialog, 0, 0), 0); }
  void Select(int index) { Fake.selection[IdResolution] = index; }
  bool Ended() const { return Fake.endDialogCalls == 1 && Fake.endProgramCalls == 0; }
  bool Quit() const {
    return Fake.endDialogCalls == 1 && Fake.endProgramCalls == 1 && Fake.exitCode == 0 &&
           Fake.endDialogBeforeEndProgram;
  }
  bool Untouched() const { return Fake.endDialogCalls == 0 && Fake.endProgramCalls == 0; }
};

TEST_F(DialogProc, InitShowsTheDefaults) {
  Init();
  EXPECT_TRUE(Fake.checks[IdFullscreen]);
  EXPECT_TRUE(Fake.checks[IdTrueColor]);
  EXPECT_EQ(Fake.lists[IdResolution], (std::vector<std::string>{"640 x 480", "800 x 600", "1024 x 768"}));
  EXPECT_EQ(Fake.selectCalls, std::vector<std::string>{"50:0:640"});
  EXPECT_EQ(Fake.selection[IdResolution], 0);
  EXPECT_TRUE(Untouched());
}

TEST_F(DialogProc, InitLeavesBoxesClearWhenTheSettingsAreOff) {
  Config.Fullscreen = false;
  Config.ColorBits = 16;
  Init();
  EXPECT_EQ(Fake.checks.count(IdFullscreen), 0u);
  EXPECT_EQ(Fake.checks.count(IdTrueColor), 0u);
  EXPECT_EQ(Fake.selection[IdResolution], 0);
}

TEST_F(DialogProc, GoAtOnceKeepsTheDefaults) {
  Init();
  Click(IdGo);
  EXPECT_TRUE(Ended());
  EXPECT_EQ(Config.ScreenWidth, 640);
  EXPECT_EQ(Config.ScreenHeight, 480);
  EXPECT_EQ(Config.ColorBits, 32);
  EXPECT_TRUE(Config.Fullscreen);
}

TEST_F(DialogProc, GoTakesEachEntryOfTheList) {
  for (const ResolutionChoice& choice : ResolutionChoices) {
    SetUp();
    Init();
    const int index = static_cast<int>(&choice - ResolutionChoices.data());
    Select(index);
    Click(IdGo);
    EXPECT_EQ(Config.ScreenWidth, choice.width) << choice.text;
    EXPECT_EQ(Config.ScreenHeight, choice.height) << choice.text;
    EXPECT_TRUE(Ended());
  }
}

TEST_F(DialogProc, GoWithoutAValidSelectionLeavesTheSize) {
  for (int index : {-1, 3, 1000}) {
    SetUp();
    Config.ScreenWidth = 800;
    Config.ScreenHeight = 600;
    Init();
    Select(index);
    Click(IdGo);
    EXPECT_EQ(Config.ScreenWidth, 800) << index;
    EXPECT_EQ(Config.ScreenHeight, 600) << index;
    EXPECT_TRUE(Ended()) << index;
  }
}

TEST_F(DialogProc, CheckBoxesToggleTheirSettings) {
  Init();
  Click(IdTrueColor);
  EXPECT_EQ(Config.ColorBits, 16);
  Click(IdTrueColor);
  EXPECT_EQ(Config.ColorBits, 32);
  Click(IdFullscreen);
  EXPECT_FALSE(Config.Fullscreen);
  Click(IdFullscreen);
  EXPECT_TRUE(Config.Fullscreen);
  Click(IdFullscreen);
  Click(IdTrueColor);
  Click(IdGo);
  EXPECT_FALSE(Config.Fullscreen);
  EXPECT_EQ(Config.ColorBits, 16);
  EXPECT_TRUE(Ended());
}

TEST_F(DialogProc, AnyDepthOtherThan32BecomesIt) {
  Config.ColorBits = 24;
  Click(IdTrueColor);
  EXPECT_EQ(Config.ColorBits, 32);
}

TEST_F(DialogProc, SelectionCountsOnlyOnGo) {
  Init();
  Select(2);
  Command(CommandParam(IdResolution, NotifyComboSelChange));
  EXPECT_EQ(Config.ScreenWidth, 640);
  EXPECT_EQ(Config.ScreenHeight, 480);
  Click(IdGo);
  EXPECT_EQ(Config.ScreenWidth, 1024);
  EXPECT_EQ(Config.ScreenHeight, 768);
}

TEST_F(DialogProc, CancelAfterChangesEndsTheProgramWithZero) {
  Init();
  Select(1);
  Click(IdFullscreen);
  Click(IdTrueColor);
  Click(IdCancel);
  EXPECT_TRUE(Quit());
  EXPECT_EQ(Config.ScreenWidth, 640);  // the selection was never taken
}

TEST_F(DialogProc, CloseBoxEndsTheProgramWithZero) {
  Init();
  EXPECT_EQ(ConfigDialogProc(Dlg, MsgClose, 0, 0), 0);
  EXPECT_TRUE(Quit());
}

TEST_F(DialogProc, EscapeAndOtherCommandsDoNothing) {
  Init();
  const ShowConfig before = Config;
  constexpr int IdOk = 1, IdCancelCommand = 2;  // Enter with no default, Escape
  for (int id : {IdOk, IdCancelCommand, IdResolution, IdStatic & 0xFFFF, 0, 100}) Click(id);
  EXPECT_TRUE(Untouched());
  EXPECT_EQ(Config.ScreenWidth, before.ScreenWidth);
  EXPECT_EQ(Config.ColorBits, before.ColorBits);
  EXPECT_EQ(Config.Fullscreen, before.Fullscreen);
}

TEST_F(DialogProc, NotificationsInTheHighWordDoNotMatch) {
  Init();
  for (int code : {1, 5, 6, 0xFFFF}) {  // selection change, double click, set focus, ...
    for (int id : {IdFullscreen, IdTrueColor, IdGo, IdCancel}) Command(CommandParam(id, code));
  }
  EXPECT_TRUE(Untouched());
  EXPECT_TRUE(Config.Fullscreen);
  EXPECT_EQ(Config.ColorBits, 32);
}

TEST_F(DialogProc, OtherMessagesDoNothingAndEveryAnswerIsZero) {
  Init();
  for (std::uint32_t message : {0x0000u, 0x0002u, 0x0100u, 0x0201u, 0x0112u}) {  // null, destroy, key, click, syscommand
    EXPECT_EQ(ConfigDialogProc(Dlg, message, IdCancel, IdCancel), 0);
  }
  EXPECT_TRUE(Untouched());
  EXPECT_EQ(Command(IdGo), 0);
  EXPECT_EQ(Command(IdCancel), 0);
}

}  // namespace
