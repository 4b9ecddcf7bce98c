// Placeholder bodies until the closing sequence is written.
#include "layers.h"

void ShakeText99() {}
void ClosingPage() {}
void ClosingFade() {}
