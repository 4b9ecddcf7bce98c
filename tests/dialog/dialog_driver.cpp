// Shows the configuration dialog and prints what it chose, for the tests that
// drive the real dialog under Xvfb:
//   outcome=Go width=800 height=600 bits=32 fullscreen=0
// Exit code 0 after Go or Quit, 1 when the dialog cannot be shown.
//
// `dialog_driver --where NAME` prints the centre of a control in pixels from
// the dialog's client corner ("x y"), from the control table, so the tests
// click where the table puts things.
#include <cstdio>
#include <cstring>
#include <string>

#include "config_dialog_template.h"
#include "dialog_gtk.h"
#include "show_config.h"

using namespace dialog_template;

namespace {

int Where(const char* name) {
  for (const DialogControl& control : ConfigDialog.controls) {
    if (control.name != name) continue;
    const int height = control.cls == ControlClass::ComboBox ? ClosedComboHeightUnits : control.height;
    std::printf("%d %d\n", UnitsToPixelsX(control.x) + UnitsToPixelsX(control.width) / 2,
                UnitsToPixelsY(control.y) + UnitsToPixelsY(height) / 2);
    return 0;
  }
  std::fprintf(stderr, "dialog_driver: no control named %s\n", name);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--where") == 0) return Where(argv[2]);
  std::string message;
  const DialogOutcome outcome = ShowGtkConfigDialog(message);
  if (outcome == DialogOutcome::Failed) {
    std::fprintf(stderr, "dialog_driver: %s\n", message.c_str());
    return 1;
  }
  std::printf("outcome=%s width=%d height=%d bits=%d fullscreen=%d\n", outcome == DialogOutcome::Go ? "Go" : "Quit",
              Config.ScreenWidth, Config.ScreenHeight, Config.ColorBits, Config.Fullscreen ? 1 : 0);
  return 0;
}
