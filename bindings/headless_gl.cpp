// Headless GL context: EGL surfaceless display, a compatibility or an
// OpenGL ES 2.0 context, one framebuffer object. The system's GL headers are
// not included here either: the framebuffer entry points are resolved with
// eglGetProcAddress under their own types, and the desktop context's drawing
// table comes from LoadGL.
#include "headless_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "gl.h"

namespace {

using GLenum = unsigned int;
using GLuint = unsigned int;
using GLint = int;
using GLsizei = int;

constexpr GLenum FramebufferTarget = 0x8D40;      // GL_FRAMEBUFFER
constexpr GLenum RenderbufferTarget = 0x8D41;     // GL_RENDERBUFFER
constexpr GLenum ColourFormat = 0x8058;           // GL_RGBA8
constexpr GLenum DepthFormat = 0x81A6;            // GL_DEPTH_COMPONENT24
constexpr GLenum ColourAttachment = 0x8CE0;       // GL_COLOR_ATTACHMENT0
constexpr GLenum DepthAttachment = 0x8D00;        // GL_DEPTH_ATTACHMENT
constexpr GLenum FramebufferComplete = 0x8CD5;    // GL_FRAMEBUFFER_COMPLETE
constexpr GLenum RgbaPixels = 0x1908;             // GL_RGBA
constexpr GLenum BytePixels = 0x1401;             // GL_UNSIGNED_BYTE
constexpr GLenum PackAlignment = 0x0D05;          // GL_PACK_ALIGNMENT

// Entry points beyond OpenGL 1.1, or used for read-back, resolved through EGL.
struct FramebufferFunctions {
  void (*GenFramebuffers)(GLsizei, GLuint*) = nullptr;
  void (*DeleteFramebuffers)(GLsizei, const GLuint*) = nullptr;
  void (*BindFramebuffer)(GLenum, GLuint) = nullptr;
  void (*GenRenderbuffers)(GLsizei, GLuint*) = nullptr;
  void (*DeleteRenderbuffers)(GLsizei, const GLuint*) = nullptr;
  void (*BindRenderbuffer)(GLenum, GLuint) = nullptr;
  void (*RenderbufferStorage)(GLenum, GLenum, GLsizei, GLsizei) = nullptr;
  void (*FramebufferRenderbuffer)(GLenum, GLenum, GLenum, GLuint) = nullptr;
  GLenum (*CheckFramebufferStatus)(GLenum) = nullptr;
  void (*ReadPixels)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*) = nullptr;
  void (*PixelStorei)(GLenum, GLint) = nullptr;
  void (*Finish)() = nullptr;
};

template <typename Pointer>
bool ResolveEgl(Pointer& pointer, const char* name) {
  auto symbol = eglGetProcAddress(name);
  static_assert(sizeof pointer == sizeof symbol);
  std::memcpy(&pointer, &symbol, sizeof pointer);
  return pointer != nullptr;
}

bool ResolveFramebufferFunctions(FramebufferFunctions& f, std::string& missing) {
  struct Entry {
    bool ok;
    const char* name;
  };
  const Entry entries[] = {
      {ResolveEgl(f.GenFramebuffers, "glGenFramebuffers"), "glGenFramebuffers"},
      {ResolveEgl(f.DeleteFramebuffers, "glDeleteFramebuffers"), "glDeleteFramebuffers"},
      {ResolveEgl(f.BindFramebuffer, "glBindFramebuffer"), "glBindFramebuffer"},
      {ResolveEgl(f.GenRenderbuffers, "glGenRenderbuffers"), "glGenRenderbuffers"},
      {ResolveEgl(f.DeleteRenderbuffers, "glDeleteRenderbuffers"), "glDeleteRenderbuffers"},
      {ResolveEgl(f.BindRenderbuffer, "glBindRenderbuffer"), "glBindRenderbuffer"},
      {ResolveEgl(f.RenderbufferStorage, "glRenderbufferStorage"), "glRenderbufferStorage"},
      {ResolveEgl(f.FramebufferRenderbuffer, "glFramebufferRenderbuffer"), "glFramebufferRenderbuffer"},
      {ResolveEgl(f.CheckFramebufferStatus, "glCheckFramebufferStatus"), "glCheckFramebufferStatus"},
      {ResolveEgl(f.ReadPixels, "glReadPixels"), "glReadPixels"},
      {ResolveEgl(f.PixelStorei, "glPixelStorei"), "glPixelStorei"},
      {ResolveEgl(f.Finish, "glFinish"), "glFinish"},
  };
  for (const Entry& entry : entries) {
    if (!entry.ok) {
      missing = entry.name;
      return false;
    }
  }
  return true;
}

bool HasExtension(const char* list, const char* name) {
  if (!list) return false;
  const std::size_t length = std::strlen(name);
  for (const char* at = std::strstr(list, name); at; at = std::strstr(at + 1, name)) {
    const bool starts = at == list || at[-1] == ' ';
    const bool ends = at[length] == '\0' || at[length] == ' ';
    if (starts && ends) return true;
  }
  return false;
}

std::string EglFailure(const std::string& step) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(eglGetError()));
  return step + " failed (EGL error " + code + ")";
}

}  // namespace

struct HeadlessGl {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  GLuint framebuffer = 0;
  GLuint colour = 0;
  GLuint depth = 0;
  int width = 0;
  int height = 0;
  FramebufferFunctions f;
};

void HeadlessGlCloser::operator()(HeadlessGl* c) const {
  if (!c) return;
  if (c->context != EGL_NO_CONTEXT) {
    eglMakeCurrent(c->display, EGL_NO_SURFACE, EGL_NO_SURFACE, c->context);
    if (c->framebuffer) c->f.DeleteFramebuffers(1, &c->framebuffer);
    if (c->colour) c->f.DeleteRenderbuffers(1, &c->colour);
    if (c->depth) c->f.DeleteRenderbuffers(1, &c->depth);
    eglMakeCurrent(c->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(c->display, c->context);
  }
  // The surfaceless display is one per process: only one context at a time.
  if (c->display != EGL_NO_DISPLAY) eglTerminate(c->display);
  eglReleaseThread();
  delete c;
}

namespace {

// What differs between the two kinds of context.
struct ApiChoice {
  EGLenum api;
  EGLint renderableType;
  const char* name;
  std::array<EGLint, 3> contextAttributes;
};

// No version asked for on the desktop: a legacy context, which is the
// compatibility profile, so immediate mode works.
ApiChoice Choice(HeadlessApi api) {
  if (api == HeadlessApi::Gles2)
    return {EGL_OPENGL_ES_API, EGL_OPENGL_ES2_BIT, "OpenGL ES 2.0", {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE}};
  return {EGL_OPENGL_API, EGL_OPENGL_BIT, "desktop OpenGL", {EGL_NONE, 0, 0}};
}

}  // namespace

HeadlessGlHandle OpenHeadlessGl(int width, int height, std::string& error, HeadlessApi api) {
  const ApiChoice choice = Choice(api);
  if (width <= 0 || height <= 0 || width > HeadlessMaxSize || height > HeadlessMaxSize) {
    error = "render target size out of range: " + std::to_string(width) + " x " + std::to_string(height);
    return nullptr;
  }
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (!HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
    error = "EGL has no surfaceless platform (EGL_MESA_platform_surfaceless)";
    return nullptr;
  }
  PFNEGLGETPLATFORMDISPLAYEXTPROC getPlatformDisplay = nullptr;
  if (!ResolveEgl(getPlatformDisplay, "eglGetPlatformDisplayEXT")) {
    error = "eglGetPlatformDisplayEXT is missing";
    return nullptr;
  }

  HeadlessGlHandle c(new HeadlessGl);
  c->width = width;
  c->height = height;
  c->display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (c->display == EGL_NO_DISPLAY) {
    error = EglFailure("eglGetPlatformDisplayEXT");
    return nullptr;
  }
  if (!eglInitialize(c->display, nullptr, nullptr)) {
    c->display = EGL_NO_DISPLAY;  // nothing to terminate
    error = EglFailure("eglInitialize");
    return nullptr;
  }
  if (!eglBindAPI(choice.api)) {
    error = EglFailure(std::string("eglBindAPI (") + choice.name + ")");
    return nullptr;
  }
  // No surface is ever made, so any surface type will do (the default asks for windows).
  const EGLint configAttributes[] = {EGL_SURFACE_TYPE, 0, EGL_RENDERABLE_TYPE, choice.renderableType, EGL_NONE};
  EGLConfig config = nullptr;
  EGLint configCount = 0;
  if (!eglChooseConfig(c->display, configAttributes, &config, 1, &configCount) || configCount < 1) {
    error = EglFailure(std::string("eglChooseConfig (") + choice.name + ")");
    return nullptr;
  }
  c->context = eglCreateContext(c->display, config, EGL_NO_CONTEXT, choice.contextAttributes.data());
  if (c->context == EGL_NO_CONTEXT) {
    error = EglFailure(std::string("eglCreateContext (") + choice.name + ")");
    return nullptr;
  }
  if (!eglMakeCurrent(c->display, EGL_NO_SURFACE, EGL_NO_SURFACE, c->context)) {
    error = EglFailure("eglMakeCurrent (no surface)");
    return nullptr;
  }

  std::string missing;
  if (!ResolveFramebufferFunctions(c->f, missing)) {
    error = missing + " is missing";
    return nullptr;
  }
  FramebufferFunctions& f = c->f;
  f.GenRenderbuffers(1, &c->colour);
  f.BindRenderbuffer(RenderbufferTarget, c->colour);
  f.RenderbufferStorage(RenderbufferTarget, ColourFormat, width, height);
  f.GenRenderbuffers(1, &c->depth);
  f.BindRenderbuffer(RenderbufferTarget, c->depth);
  f.RenderbufferStorage(RenderbufferTarget, DepthFormat, width, height);
  f.GenFramebuffers(1, &c->framebuffer);
  f.BindFramebuffer(FramebufferTarget, c->framebuffer);
  f.FramebufferRenderbuffer(FramebufferTarget, ColourAttachment, RenderbufferTarget, c->colour);
  f.FramebufferRenderbuffer(FramebufferTarget, DepthAttachment, RenderbufferTarget, c->depth);
  if (f.CheckFramebufferStatus(FramebufferTarget) != FramebufferComplete) {
    error = "the framebuffer object is incomplete";
    return nullptr;
  }

  // The drawing table, bound the same way as in the show.
  if (api == HeadlessApi::Gles2) return c;  // the fixed-function layer's user binds it
  if (!LoadGL(GlLibraryName)) {
    error = std::string("cannot load ") + GlLibraryName;
    return nullptr;
  }
  if (!LoadGLU(GluLibraryName)) {
    error = std::string("cannot load ") + GluLibraryName;
    return nullptr;
  }
  if (const char* name = FirstMissingEntryPoint()) {
    error = std::string(name) + " is missing";
    return nullptr;
  }
  return c;
}

std::vector<std::uint8_t> ReadHeadlessPixels(const HeadlessGl& c) {
  const std::size_t rowBytes = static_cast<std::size_t>(c.width) * 4;
  std::vector<std::uint8_t> bottomUp(rowBytes * c.height);
  c.f.Finish();
  c.f.PixelStorei(PackAlignment, 1);
  c.f.ReadPixels(0, 0, c.width, c.height, RgbaPixels, BytePixels, bottomUp.data());
  std::vector<std::uint8_t> topDown(bottomUp.size());
  for (int row = 0; row < c.height; ++row)
    std::memcpy(topDown.data() + row * rowBytes, bottomUp.data() + (c.height - 1 - row) * rowBytes, rowBytes);
  return topDown;
}
