// Shows the configuration dialog and prints what it chose, for the tests that
// drive the real dialog under Xvfb:
//   outcome=Go width=800 height=600 bits=32 fullscreen=0
// Exit code 0 after Go or Quit, 1 when the dialog cannot be shown.
#include <cstdio>
#include <string>

#include "config_dialog.h"
#include "show_config.h"

int main() {
  std::string message;
  const DialogOutcome outcome = ShowConfigDialog(message);
  if (outcome == DialogOutcome::Failed) {
    std::fprintf(stderr, "dialog_driver: %s\n", message.c_str());
    return 1;
  }
  std::printf("outcome=%s width=%d height=%d bits=%d fullscreen=%d\n", outcome == DialogOutcome::Go ? "Go" : "Quit",
              Config.ScreenWidth, Config.ScreenHeight, Config.ColorBits, Config.Fullscreen ? 1 : 0);
  return 0;
}
