// The configuration dialog's template: the one description of the dialog that
// every platform follows. The GTK dialog (config_dialog.ui) and the Windows
// DIALOG resource (config_dialog.rc) are generated from this table by
// quenrik-dialog-export, and tests check the checked-in files against it.
//
// Positions and sizes are in dialog units, as in a Windows dialog template:
// one horizontal unit is a quarter of the dialog font's average character
// width, one vertical unit an eighth of its height. Styles are the Windows
// style bits, so the Windows resource takes them as they are.
//
// The style constants carry their own names (WsPopup, not WS_POPUP) so this
// header can sit beside <windows.h>, whose names are macros.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace dialog_template {

// Window styles shared by the dialog and its controls.
inline constexpr std::uint32_t WsPopup = 0x80000000u;
inline constexpr std::uint32_t WsChild = 0x40000000u;
inline constexpr std::uint32_t WsVisible = 0x10000000u;
inline constexpr std::uint32_t WsCaption = 0x00C00000u;  // border and dialog frame
inline constexpr std::uint32_t WsBorder = 0x00800000u;
inline constexpr std::uint32_t WsDlgFrame = 0x00400000u;
inline constexpr std::uint32_t WsVScroll = 0x00200000u;
inline constexpr std::uint32_t WsSysMenu = 0x00080000u;
inline constexpr std::uint32_t WsGroup = 0x00020000u;
inline constexpr std::uint32_t WsTabStop = 0x00010000u;

// Dialog styles.
inline constexpr std::uint32_t DsSetFont = 0x00000040u;
inline constexpr std::uint32_t DsModalFrame = 0x00000080u;

// Button kinds: the low four bits of a button's style are one value, not flags.
inline constexpr std::uint32_t BsTypeMask = 0x0000000Fu;
inline constexpr std::uint32_t BsPushButton = 0x00000000u;
inline constexpr std::uint32_t BsDefPushButton = 0x00000001u;
inline constexpr std::uint32_t BsAutoCheckBox = 0x00000003u;
inline constexpr std::uint32_t BsGroupBox = 0x00000007u;

// Static text alignment: the low five bits are one value.
inline constexpr std::uint32_t SsTypeMask = 0x0000001Fu;
inline constexpr std::uint32_t SsLeft = 0x00000000u;
inline constexpr std::uint32_t SsCenter = 0x00000001u;

// Combo box kinds: the low two bits are one value.
inline constexpr std::uint32_t CbsTypeMask = 0x00000003u;
inline constexpr std::uint32_t CbsDropDownList = 0x00000003u;

// The three control classes the dialog uses, with their Windows class names
// and the predefined class atoms a binary template refers to them by.
enum class ControlClass { Button, Static, ComboBox };

struct ControlClassInfo {
  ControlClass cls;
  std::string_view windowsName;
  std::uint16_t atom;
  std::uint32_t typeMask;  // the low style bits that hold one kind value
};

inline constexpr std::array<ControlClassInfo, 3> ControlClasses{{
    {ControlClass::Button, "BUTTON", 0x0080, BsTypeMask},
    {ControlClass::Static, "STATIC", 0x0082, SsTypeMask},
    {ControlClass::ComboBox, "COMBOBOX", 0x0085, CbsTypeMask},
}};

constexpr const ControlClassInfo& ClassInfo(ControlClass cls) {
  for (const ControlClassInfo& info : ControlClasses) {
    if (info.cls == cls) return info;
  }
  return ControlClasses[0];
}

// Control ids the dialog procedure and the toolkit layers refer to.
inline constexpr int IdGo = 99;
inline constexpr int IdCancel = 98;
inline constexpr int IdResolution = 50;
inline constexpr int IdFullscreen = 71;
inline constexpr int IdTrueColor = 72;
inline constexpr int IdStatic = -1;  // labels and frames nobody addresses

struct DialogControl {
  int id;
  std::string_view name;  // object id in the GTK description; unique
  ControlClass cls;
  std::string_view text;
  std::uint32_t style;  // full style, WS_CHILD | WS_VISIBLE included
  int x, y, width, height;  // dialog units
};

struct DialogTemplate {
  int resourceId;
  int language;  // Windows language id: German (Germany)
  std::uint32_t style;
  std::uint32_t exStyle;
  int x, y, width, height;  // dialog units; x, y from the screen's corner
  std::string_view caption;
  std::string_view fontName;
  int fontPoints;
  std::array<DialogControl, 8> controls;  // in template (tab) order
};

inline constexpr std::uint32_t ChildVisible = WsChild | WsVisible;

inline constexpr DialogTemplate ConfigDialog{
    108,
    1031,
    WsPopup | WsVisible | WsCaption | WsSysMenu | DsModalFrame | DsSetFont,
    0,
    100, 100, 142, 131,
    "Config",
    "MS Sans Serif",
    8,
    {{
        {IdGo, "go", ControlClass::Button, "Go!",
         ChildVisible | BsDefPushButton | WsTabStop, 5, 111, 50, 14},
        {IdCancel, "cancel", ControlClass::Button, "Cancel",
         ChildVisible | BsPushButton | WsTabStop, 85, 111, 50, 14},
        // The height is the dropped-down list's; the closed box is one line.
        {IdResolution, "resolution", ControlClass::ComboBox, "",
         ChildVisible | CbsDropDownList | WsVScroll | WsTabStop, 55, 20, 80, 61},
        {IdFullscreen, "fullscreen", ControlClass::Button, "Fullscreen",
         ChildVisible | BsAutoCheckBox | WsTabStop, 12, 58, 60, 8},
        {IdTrueColor, "true_color", ControlClass::Button, "True Color",
         ChildVisible | BsAutoCheckBox | WsTabStop, 12, 70, 53, 8},
        {IdStatic, "resolution_label", ControlClass::Static, "Resolution",
         ChildVisible | SsLeft | WsGroup, 10, 22, 36, 8},
        {IdStatic, "performance", ControlClass::Button, "Performance",
         ChildVisible | BsGroupBox, 4, 44, 130, 54},
        {IdStatic, "title", ControlClass::Static, "Quenrik. (Morvelde-Remix)",
         ChildVisible | SsCenter | WsGroup, 7, 5, 120, 8},
    }},
};

// Dialog units to pixels for the dialog font: "MS Sans Serif" 8 pt at 96 dpi
// has an average character width of 6 px and a height of 13 px. Windows
// rounds the same way (MulDiv).
inline constexpr int DialogBaseX = 6;
inline constexpr int DialogBaseY = 13;

constexpr int MulDivRounded(int value, int mul, int div) {
  const int product = value * mul;
  return product >= 0 ? (product + div / 2) / div : -((-product + div / 2) / div);
}
constexpr int UnitsToPixelsX(int units) { return MulDivRounded(units, DialogBaseX, 4); }
constexpr int UnitsToPixelsY(int units) { return MulDivRounded(units, DialogBaseY, 8); }

// The closed height of a drop-down list: one line of the dialog font plus its
// frame, as Windows sizes it (the template's height is the open list's).
inline constexpr int ClosedComboHeightUnits = 13;

constexpr const DialogControl* FindControl(int id) {
  if (id == IdStatic) return nullptr;
  for (const DialogControl& control : ConfigDialog.controls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

constexpr std::uint32_t ControlKind(const DialogControl& control) {
  return control.style & ClassInfo(control.cls).typeMask;
}

}  // namespace dialog_template
