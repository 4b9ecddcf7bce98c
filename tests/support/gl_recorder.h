// Binds every GL and GLU pointer to a recorder, so drawing code can be
// checked call by call without a window or a GL library.
#pragma once

#include <string>
#include <vector>

struct GlCall {
  std::string name;
  std::vector<double> args;  // arithmetic arguments in order, exactly as passed
  const void* pointer = nullptr;  // the last pointer argument, if any
};

struct GlRecorder {
  std::vector<GlCall> calls;
  unsigned nextTexture = 1;  // names handed out by glGenTextures
};

extern GlRecorder Recorder;

// Point all 384 entry points at recording functions and clear the log.
void BindGlRecorder();
// The recorded calls, one per line ("glTranslatef(0, 0, -60)"); floats in shortest exact form.
std::string FormatCall(const GlCall& call);
std::vector<std::string> FormatCalls(const std::vector<GlCall>& calls);
