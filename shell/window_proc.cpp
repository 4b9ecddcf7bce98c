#include "window_proc.h"

#include "show_config.h"

namespace {

// Default processing: closing a window destroys it, which sends Destroy.
// The window object itself outlives the loop and is destroyed at shutdown.
std::intptr_t DefaultWindowProc(ShowMessage message) {
  if (message == ShowMessage::Close) return ShowWindowProc(ShowMessage::Destroy);
  return 0;
}

}  // namespace

std::intptr_t ShowWindowProc(ShowMessage message) {
  switch (message) {
    case ShowMessage::Create:
      Config.Running = true;
      return 0;
    case ShowMessage::Destroy:
      Config.Running = false;
      return 0;
    case ShowMessage::KeyDown:
      return ShowWindowProc(ShowMessage::Destroy);
    case ShowMessage::SysCommand:
      return 0;  // consumed: the close box and the system menu do nothing
    case ShowMessage::Close:
    case ShowMessage::SysKeyDown:
    case ShowMessage::Other:
      break;
  }
  return DefaultWindowProc(message);
}
