// A GL context without any window system: EGL on Mesa's surfaceless
// platform, a context and a framebuffer object of a chosen size as the
// render target. A desktop context is a compatibility-profile one, and
// opening it also binds the GL and GLU tables (LoadGL / LoadGLU), so all
// drawing goes through them as in the show. An OpenGL ES 2.0 context binds
// nothing: its user sets up and binds the fixed-function layer (gl_fixed.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct HeadlessGl;

// Releases the framebuffer, the context and the display.
struct HeadlessGlCloser {
  void operator()(HeadlessGl* context) const;
};
using HeadlessGlHandle = std::unique_ptr<HeadlessGl, HeadlessGlCloser>;

// Largest render target accepted (well inside what llvmpipe offers).
constexpr int HeadlessMaxSize = 4096;

enum class HeadlessApi { DesktopGl, Gles2 };

// Create the context, make it current on this thread with its framebuffer
// bound for drawing and reading. Null on failure, with the reason in error.
HeadlessGlHandle OpenHeadlessGl(int width, int height, std::string& error, HeadlessApi api = HeadlessApi::DesktopGl);

// The framebuffer's pixels as RGBA bytes, top row first (glReadPixels order
// flipped), width x height x 4 bytes. Waits for drawing to finish.
std::vector<std::uint8_t> ReadHeadlessPixels(const HeadlessGl& context);
