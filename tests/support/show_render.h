// A headless show for rendered tests and benchmarks: the headless context,
// the show's render state, the real pictures from data/ as textures, and the
// shared state at its start values.
#pragma once

#include <string>

#include "frame_compare.h"
#include "headless_gl.h"

// What the show draws through: the desktop OpenGL library, or the
// fixed-function layer over OpenGL ES 2.0 (as in the browser; only where the
// build has the layer).
enum class ShowDrawing { DesktopGl, FixedOverGles2 };

struct ShowRender {
  HeadlessGlHandle context;
  int width = 0;
  int height = 0;
  ShowDrawing drawing = ShowDrawing::DesktopGl;
};

// Opens the context at the given size, sets the render state, loads the
// pictures from dataRoot/data (the working directory changes to dataRoot)
// and starts the show state (fixed shake seed). Empty error on success.
std::string OpenShowRender(ShowRender& show, int width, int height, const std::string& dataRoot,
                           ShowDrawing drawing = ShowDrawing::DesktopGl);

// Points the GL and GLU tables at the show's drawing path (again, after a
// recorder for example). Empty error on success.
std::string BindShowDrawing(ShowDrawing drawing);

// Start values of the shared state, as the show sets them before its first frame.
void StartShowState();

// The frame drawn so far.
RgbImage ReadFrame(const ShowRender& show);
