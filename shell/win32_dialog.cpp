// The configuration dialog on Windows: DIALOG resource 108 from the program's
// own resources (made from the control table, resources/config_dialog.rc),
// run by DialogBoxParamA with the shared ConfigDialogProc.
#include "win32_dialog.h"

#include <windows.h>

#include <string>

#include "config_dialog_proc.h"
#include "config_dialog_template.h"

namespace {

struct Win32DialogState {
  bool endProgram = false;  // "Cancel" or the close box: the program ends after the dialog
  int exitCode = 0;
};
Win32DialogState Dialog;

HWND Window(DialogHandle dialog) { return static_cast<HWND>(dialog); }

// Each action is the Windows call it names.
const DialogActions Win32Actions{
    [](DialogHandle dialog, int id, bool checked) {
      SendDlgItemMessageA(Window(dialog), id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    },
    [](DialogHandle dialog, int id, const char* text) {
      SendDlgItemMessageA(Window(dialog), id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    },
    [](DialogHandle dialog, int id, int startIndex, const char* prefix) {
      return static_cast<int>(SendDlgItemMessageA(Window(dialog), id, CB_SELECTSTRING,
                                                  static_cast<WPARAM>(startIndex), reinterpret_cast<LPARAM>(prefix)));
    },
    [](DialogHandle dialog, int id) {
      return static_cast<int>(SendDlgItemMessageA(Window(dialog), id, CB_GETCURSEL, 0, 0));
    },
    [](DialogHandle dialog, std::intptr_t result) { EndDialog(Window(dialog), result); },
    [](int exitCode) {
      Dialog.endProgram = true;
      Dialog.exitCode = exitCode;
    },
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return ConfigDialogProc(dialog, message, wParam, lParam);
}

}  // namespace

DialogOutcome ShowWin32ConfigDialog(std::string& message) {
  ConfigDialogActions = Win32Actions;
  Dialog = Win32DialogState{};
  const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr),
                                         MAKEINTRESOURCEA(dialog_template::ConfigDialog.resourceId), nullptr,
                                         DialogProc, 0);
  if (result == -1) {
    message = "the configuration dialog could not be shown (error " + std::to_string(GetLastError()) + ")";
    // A windowed program has no console: say it in a box as well.
    MessageBoxA(nullptr, message.c_str(), "Error", MB_OK);
    return DialogOutcome::Failed;
  }
  return Dialog.endProgram ? DialogOutcome::Quit : DialogOutcome::Go;
}
