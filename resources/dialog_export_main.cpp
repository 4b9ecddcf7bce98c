// quenrik-dialog-export: writes the configuration dialog's description for a
// toolkit, generated from the control table.
//   quenrik-dialog-export ui|rc|html [FILE]    (standard output without FILE)
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "dialog_export.h"

namespace {

struct Form {
  const char* name;
  std::string (*write)();
};
constexpr Form Forms[] = {
    {"ui", dialog_template::ConfigDialogUi},
    {"rc", dialog_template::ConfigDialogRc},
    {"html", dialog_template::ConfigDialogHtml},
};

}  // namespace

int main(int argc, char** argv) {
  const Form* form = nullptr;
  for (const Form& candidate : Forms)
    if (argc >= 2 && std::strcmp(argv[1], candidate.name) == 0) form = &candidate;
  if (argc < 2 || argc > 3 || !form) {
    std::fprintf(stderr, "usage: quenrik-dialog-export ui|rc|html [FILE]\n");
    return 2;
  }
  const std::string text = form->write();
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
