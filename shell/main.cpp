// quenrik: the show, configured by its dialog.
#include "desktop_host.h"
#include "show_core.h"

#ifdef _WIN32
#include "win32_dialog.h"
#include "win32_window.h"
#else
#include "dialog_gtk.h"
#include "sdl_window.h"
#endif

int main() {
#ifdef _WIN32
  ShowHost host = DesktopHost(Win32Platform);
  host.Configure = ShowWin32ConfigDialog;
#else
  ShowHost host = DesktopHost(SdlPlatform);
  host.Configure = ShowGtkConfigDialog;
#endif
  return RunShow(host);
}
