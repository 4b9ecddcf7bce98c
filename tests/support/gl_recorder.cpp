#include "gl_recorder.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "gl.h"

GlRecorder Recorder;

namespace {

template <typename T>
void Collect(GlCall& call, T value) {
  if constexpr (std::is_pointer_v<T>) {
    call.pointer = reinterpret_cast<const void*>(value);
  } else if constexpr (std::is_arithmetic_v<T>) {
    call.args.push_back(static_cast<double>(value));
  }
}

// Calls(name)(a, b, c) records one call with its arguments.
auto Calls(const char* name) {
  return [name](auto... values) {
    GlCall call;
    call.name = name;
    (Collect(call, values), ...);
    Recorder.calls.push_back(std::move(call));
  };
}

template <typename R>
R Default() {
  if constexpr (!std::is_void_v<R>) return R{};
}

}  // namespace

namespace recorded {
using namespace gl;
#define QUENRIK_GL(use, ret, name, params, args) \
  ret QUENRIK_GLAPI name params {           \
    Calls(#name) args;                      \
    return Default<ret>();                  \
  }
#define QUENRIK_GLU QUENRIK_GL
#include "gl_functions.inc"
#include "glu_functions.inc"
#undef QUENRIK_GL
#undef QUENRIK_GLU
}  // namespace recorded

namespace {
// glGenTextures hands out fresh names like a real implementation.
void QUENRIK_GLAPI GenTextures(gl::GLsizei n, gl::GLuint* textures) {
  Calls("glGenTextures")(n, textures);
  for (gl::GLsizei i = 0; i < n; ++i) textures[i] = Recorder.nextTexture++;
}
}  // namespace

void BindGlRecorder() {
  Recorder = GlRecorder{};
#define QUENRIK_GL(use, ret, name, params, args) gl::name = recorded::name;
#define QUENRIK_GLU QUENRIK_GL
#include "gl_functions.inc"
#include "glu_functions.inc"
#undef QUENRIK_GL
#undef QUENRIK_GLU
  gl::glGenTextures = GenTextures;
}

std::string FormatCall(const GlCall& call) {
  std::string text = call.name + "(";
  for (size_t i = 0; i < call.args.size(); ++i) {
    char number[32];
    std::snprintf(number, sizeof number, "%.9g", call.args[i]);
    if (i) text += ", ";
    text += number;
  }
  return text + ")";
}

std::vector<std::string> FormatCalls(const std::vector<GlCall>& calls) {
  std::vector<std::string> lines;
  lines.reserve(calls.size());
  for (const GlCall& call : calls) lines.push_back(FormatCall(call));
  return lines;
}
