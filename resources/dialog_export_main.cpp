// quenrik-dialog-export: writes the configuration dialog's description for a
// toolkit, generated from the control table.
//   quenrik-dialog-export ui|rc [FILE]    (standard output without FILE)
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "dialog_export.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || (std::strcmp(argv[1], "ui") != 0 && std::strcmp(argv[1], "rc") != 0)) {
    std::fprintf(stderr, "usage: quenrik-dialog-export ui|rc [FILE]\n");
    return 2;
  }
  const std::string text =
      std::strcmp(argv[1], "ui") == 0 ? dialog_template::ConfigDialogUi() : dialog_template::ConfigDialogRc();
  if (argc == 2) {
    std::cout << text;
    return std::cout.good() ? 0 : 1;
  }
  std::ofstream out(argv[2], std::ios::binary);
  out << text;
  out.close();
  if (!out) {
    std::fprintf(stderr, "quenrik-dialog-export: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
