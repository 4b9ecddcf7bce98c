// Placeholder bodies until the logo stack is written.
#include "layers.h"

void ResetBackgroundState() {}
void B1() {}
void B2() {}
void B3() {}
void B4() {}
void B5() {}
void B6() {}
void B7() {}
void B8() {}
void B9() {}
void B10() {}
void B11() {}
void B12() {}
void B13() {}
