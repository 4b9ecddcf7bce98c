// The control table, and the checked-in descriptions made from it.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "dialog_export.h"

using namespace dialog_template;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

constexpr const char* Regenerate = "; run `cmake --build <dir> --target dialog-resources` and commit the result";

TEST(DialogResources, CheckedInUiMatchesTheTable) {
  EXPECT_EQ(ReadFile(QUENRIK_RESOURCES_DIR "/config_dialog.ui"), ConfigDialogUi()) << "config_dialog.ui" << Regenerate;
}

TEST(DialogResources, CheckedInResourceScriptMatchesTheTable) {
  EXPECT_EQ(ReadFile(QUENRIK_RESOURCES_DIR "/config_dialog.rc"), ConfigDialogRc()) << "config_dialog.rc" << Regenerate;
}

TEST(DialogResources, CheckedInHtmlFormMatchesTheTable) {
  EXPECT_EQ(ReadFile(QUENRIK_RESOURCES_DIR "/config_dialog.html"), ConfigDialogHtml())
      << "config_dialog.html" << Regenerate;
}

TEST(DialogResources, TemplateHeader) {
  const DialogTemplate& d = ConfigDialog;
  EXPECT_EQ(d.resourceId, 108);
  EXPECT_EQ(d.language, 1031);
  EXPECT_EQ(d.style, 0x80C800C0u | WsVisible);  // popup, visible, caption, system menu, modal frame, font
  EXPECT_EQ(d.exStyle, 0u);
  EXPECT_EQ(d.x, 100);
  EXPECT_EQ(d.y, 100);
  EXPECT_EQ(d.width, 142);
  EXPECT_EQ(d.height, 131);
  EXPECT_EQ(d.caption, "Config");
  EXPECT_EQ(d.fontName, "MS Sans Serif");
  EXPECT_EQ(d.fontPoints, 8);
}

TEST(DialogResources, ControlsAreWellFormed) {
  std::set<int> ids;
  std::set<std::string_view> names;
  for (const DialogControl& c : ConfigDialog.controls) {
    EXPECT_EQ(c.style & (WsChild | WsVisible), WsChild | WsVisible) << c.name;
    EXPECT_GE(c.x, 0) << c.name;
    EXPECT_GE(c.y, 0) << c.name;
    EXPECT_LE(c.x + c.width, ConfigDialog.width) << c.name;
    EXPECT_LE(c.y + (c.cls == ControlClass::ComboBox ? ClosedComboHeightUnits : c.height), ConfigDialog.height)
        << c.name;
    EXPECT_TRUE(names.insert(c.name).second) << "object names must be unique: " << c.name;
    if (c.id != IdStatic) {
      EXPECT_TRUE(ids.insert(c.id).second) << c.id;
    }
    EXPECT_EQ(FindControl(c.id) == &c, c.id != IdStatic) << c.name;
  }
  EXPECT_EQ(ids, (std::set<int>{IdGo, IdCancel, IdResolution, IdFullscreen, IdTrueColor}));
}

TEST(DialogResources, DialogUnitsBecomeThePixelsOfAnEightPointFont) {
  EXPECT_EQ(UnitsToPixelsX(142), 213);
  EXPECT_EQ(UnitsToPixelsY(131), 213);  // 212.875 rounds up, as MulDiv does
  EXPECT_EQ(UnitsToPixelsX(5), 8);      // 7.5 rounds away from zero
  EXPECT_EQ(UnitsToPixelsY(8), 13);
  EXPECT_EQ(UnitsToPixelsX(0), 0);
  EXPECT_EQ(UnitsToPixelsX(-5), -8);
}

// The style names the resource script writes must add up to the table's bits.
TEST(DialogResources, StyleNamesAddUpToTheStyleBits) {
  const std::map<std::string, std::uint32_t> values{
      {"WS_POPUP", 0x80000000u},     {"WS_CHILD", 0x40000000u},      {"WS_VISIBLE", 0x10000000u},
      {"WS_CAPTION", 0x00C00000u},   {"WS_VSCROLL", 0x00200000u},    {"WS_SYSMENU", 0x00080000u},
      {"WS_GROUP", 0x00020000u},     {"WS_TABSTOP", 0x00010000u},    {"DS_SETFONT", 0x40u},
      {"DS_MODALFRAME", 0x80u},      {"BS_PUSHBUTTON", 0},           {"BS_DEFPUSHBUTTON", 1},
      {"BS_AUTOCHECKBOX", 3},        {"BS_GROUPBOX", 7},             {"SS_LEFT", 0},
      {"SS_CENTER", 1},              {"CBS_DROPDOWNLIST", 3},
  };
  auto sum = [&values](const std::string& expression) {
    std::uint32_t total = 0;
    std::istringstream in(expression);
    std::string word;
    while (in >> word) {
      if (word == "|") continue;
      auto found = values.find(word);
      EXPECT_NE(found, values.end()) << word;
      if (found != values.end()) total |= found->second;
    }
    return total;
  };
  EXPECT_EQ(StyleExpression(std::nullopt, ConfigDialog.style),
            "WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT");
  for (const DialogControl& c : ConfigDialog.controls) {
    EXPECT_EQ(sum(StyleExpression(c.cls, c.style)), c.style) << c.name;
  }
  EXPECT_EQ(StyleExpression(ControlClass::Button, WsChild | BsDefPushButton), "BS_DEFPUSHBUTTON | WS_CHILD");
  EXPECT_EQ(StyleExpression(ControlClass::Static, 0x100u | SsCenter), "SS_CENTER | 0x00000100");
  EXPECT_EQ(StyleExpression(std::nullopt, 0), "0x00000000");
}

}  // namespace
