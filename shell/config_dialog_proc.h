// The configuration dialog's behaviour, free of any toolkit. A platform layer
// shows the controls of resources/config_dialog_template.h, fills
// ConfigDialogActions with its own ways to change them, and passes every
// message to ConfigDialogProc with the Windows message numbers below.
#pragma once

#include <array>
#include <cstdint>

// The opaque dialog a platform layer hands to the procedure (HWND on Windows).
using DialogHandle = void*;

// Windows message numbers the procedure handles. Own names, since <windows.h>
// defines the usual ones as macros.
inline constexpr std::uint32_t MsgClose = 0x0010;       // WM_CLOSE
inline constexpr std::uint32_t MsgInitDialog = 0x0110;  // WM_INITDIALOG
inline constexpr std::uint32_t MsgCommand = 0x0111;     // WM_COMMAND

// A command's wParam: the control id in the low word, the notification code in
// the high word (0 for a button click).
constexpr std::uintptr_t CommandParam(int id, int notification) {
  return (static_cast<std::uintptr_t>(static_cast<std::uint16_t>(notification)) << 16) |
         static_cast<std::uint16_t>(id);
}
inline constexpr int NotifyComboSelChange = 1;  // CBN_SELCHANGE

// What the procedure asks of the toolkit; each matches one Windows call.
struct DialogActions {
  // BM_SETCHECK: set or clear the check mark of a check box.
  void (*SetCheck)(DialogHandle dialog, int id, bool checked);
  // CB_ADDSTRING: append an entry to a drop-down list.
  void (*AddComboString)(DialogHandle dialog, int id, const char* text);
  // CB_SELECTSTRING: select the first entry beginning with prefix (ignoring
  // case), searching after startIndex and wrapping round (-1 searches from
  // the top). Returns its index, or -1 with the selection left as it was.
  int (*SelectComboPrefix)(DialogHandle dialog, int id, int startIndex, const char* prefix);
  // CB_GETCURSEL: index of the selected entry, -1 for none.
  int (*GetComboSelection)(DialogHandle dialog, int id);
  // EndDialog: the modal loop returns once the current message is handled.
  void (*EndDialog)(DialogHandle dialog, std::intptr_t result);
  // End the program with this exit code once the dialog is gone.
  void (*EndProgram)(int exitCode);
};

// Set by the platform layer before the dialog is shown.
extern DialogActions ConfigDialogActions;

struct ResolutionChoice {
  const char* text;
  std::int32_t width, height;
};

// The drop-down list's entries, by index.
inline constexpr std::array<ResolutionChoice, 3> ResolutionChoices{{
    {"640 x 480", 640, 480},
    {"800 x 600", 800, 600},
    {"1024 x 768", 1024, 768},
}};

// Reads and writes Config (show_config.h). Returns 0 for every message.
std::intptr_t ConfigDialogProc(DialogHandle dialog, std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam);
