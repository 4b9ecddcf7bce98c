// quenrik: the show, configured by its dialog.
#include "desktop_host.h"
#include "installed_data.h"
#include "show_core.h"

#ifdef _WIN32
#include "win32_dialog.h"
#else
#include "dialog_gtk.h"
#endif

int main() {
  UseInstalledData(InstalledDataUse::Always);
  ShowHost host = DesktopHost();
#ifdef _WIN32
  host.Configure = ShowWin32ConfigDialog;
#else
  host.Configure = ShowGtkConfigDialog;
#endif
  return RunShow(host);
}
