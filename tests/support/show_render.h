// A headless show for rendered tests and benchmarks: the headless context,
// the show's render state, the real pictures from data/ as textures, and the
// shared state at its start values.
#pragma once

#include <string>

#include "frame_compare.h"
#include "headless_gl.h"

struct ShowRender {
  HeadlessGlHandle context;
  int width = 0;
  int height = 0;
};

// Opens the context at the given size, sets the render state, loads the
// pictures from dataRoot/data (the working directory changes to dataRoot)
// and starts the show state (fixed shake seed). Empty error on success.
std::string OpenShowRender(ShowRender& show, int width, int height, const std::string& dataRoot);

// Start values of the shared state, as the show sets them before its first frame.
void StartShowState();

// The frame drawn so far.
RgbImage ReadFrame(const ShowRender& show);
