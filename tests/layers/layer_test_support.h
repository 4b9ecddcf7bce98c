// Shared set-up for the layer tests: the GL table bound to the recorder, the
// circle table filled, the start state of the show, and fixed texture names.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "gl_recorder.h"
#include "image_textures.h"
#include "show_state.h"

constexpr unsigned LogoName = 70;
// Text image 1 ... 9 get 101 ... 109; 99, 10 and 11 get 199, 110 and 111.
unsigned TextName(Picture picture);

// Recorder bound, CircleTable filled, ResetBackgroundState and the overlay's
// start values applied (Spread back to 0), texture names set, log cleared.
void StartShow();

// One expected call, formatted like FormatCall.
std::string Line(const char* name, std::initializer_list<double> args = {});
// Arguments as the layers pass them: doubles narrowed to float. Out of line
// on purpose: GCC 12.2 at -O1/-O2 drops an inlined float round trip that
// feeds a braced list inside another braced list (Line(..., {F(x), ...})).
double F(double value);

// The recorded calls since the last ClearCalls, one per line.
std::vector<std::string> Lines();
void ClearCalls();
// The calls recorded by one call of a layer.
std::vector<GlCall> CallsOf(void (*layer)());
