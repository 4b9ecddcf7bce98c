// The configuration dialog's procedure: sets the check marks and the list
// from Config when the dialog opens, and changes Config as the user clicks.
#include "config_dialog_proc.h"

#include "config_dialog_template.h"
#include "show_config.h"

using namespace dialog_template;

DialogActions ConfigDialogActions{};

namespace {

// Both ways out of the dialog besides "Go!" end the program normally.
void EndDialogAndProgram(DialogHandle dialog) {
  ConfigDialogActions.EndDialog(dialog, 0);
  ConfigDialogActions.EndProgram(0);
}

void InitDialog(DialogHandle dialog) {
  if (Config.Fullscreen) ConfigDialogActions.SetCheck(dialog, IdFullscreen, true);
  if (Config.ColorBits == 32) ConfigDialogActions.SetCheck(dialog, IdTrueColor, true);
  for (const ResolutionChoice& choice : ResolutionChoices) {
    ConfigDialogActions.AddComboString(dialog, IdResolution, choice.text);
  }
  ConfigDialogActions.SelectComboPrefix(dialog, IdResolution, 0, "640");
}

void Go(DialogHandle dialog) {
  const int selection = ConfigDialogActions.GetComboSelection(dialog, IdResolution);
  if (selection >= 0 && selection < static_cast<int>(ResolutionChoices.size())) {
    Config.ScreenWidth = ResolutionChoices[static_cast<std::size_t>(selection)].width;
    Config.ScreenHeight = ResolutionChoices[static_cast<std::size_t>(selection)].height;
  }
  ConfigDialogActions.EndDialog(dialog, 0);
}

// Only a command whose whole wParam is a control id, i.e. a click with
// notification code 0, does anything.
void Command(DialogHandle dialog, std::uintptr_t wParam) {
  switch (wParam) {
    case IdFullscreen: Config.Fullscreen = !Config.Fullscreen; break;
    case IdTrueColor: Config.ColorBits = Config.ColorBits == 32 ? 16 : 32; break;
    case IdGo: Go(dialog); break;
    case IdCancel: EndDialogAndProgram(dialog); break;
    default: break;
  }
}

}  // namespace

std::intptr_t ConfigDialogProc(DialogHandle dialog, std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t) {
  switch (message) {
    case MsgInitDialog: InitDialog(dialog); break;  // 0: the system sets no initial focus
    case MsgCommand: Command(dialog, wParam); break;
    case MsgClose: EndDialogAndProgram(dialog); break;
    default: break;
  }
  return 0;
}
