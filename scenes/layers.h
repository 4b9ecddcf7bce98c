// The show's layers: operations without arguments or results, called once per
// frame by the timeline with the rendering context current.
#pragma once

// Background layers: the logo stack.
void ResetBackgroundState();
void B1();
void B2();
void B3();
void B4();
void B5();
void B6();
void B7();
void B8();
void B9();
void B10();
void B11();
void B12();
void B13();

// Text overlay layers.
void EnterText1();
void EnterText2();
void EnterText3();
void EnterText4();
void EnterText5();
void EnterText6();
void EnterText7();
void EnterText8();
void EnterText9();
void EnterText99();
void LeaveText1();
void LeaveText2();
void LeaveText3();
void LeaveText4();
void LeaveText5();
void LeaveText6();
void LeaveText7();
void LeaveText8();
void LeaveText9();

// Closing sequence.
void ShakeText99();
void ClosingPage();
void ClosingFade();
