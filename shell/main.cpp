// quenrik: the show.
#include "installed_data.h"
#include "show_main.h"

int main() {
  UseInstalledData(InstalledDataUse::Always);
  return RunShow();
}
