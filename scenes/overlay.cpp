// Placeholder bodies until the text cards are written.
#include "layers.h"

void EnterText1() {}
void EnterText2() {}
void EnterText3() {}
void EnterText4() {}
void EnterText5() {}
void EnterText6() {}
void EnterText7() {}
void EnterText8() {}
void EnterText9() {}
void EnterText99() {}
void LeaveText1() {}
void LeaveText2() {}
void LeaveText3() {}
void LeaveText4() {}
void LeaveText5() {}
void LeaveText6() {}
void LeaveText7() {}
void LeaveText8() {}
void LeaveText9() {}
