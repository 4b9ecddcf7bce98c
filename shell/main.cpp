// quenrik: the show.
#include "show_main.h"

int main() { return RunShow(); }
