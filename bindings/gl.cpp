#include "gl.h"

#include <cstring>

#include "library.h"

namespace gl {

#define QUENRIK_GL(ret, name, params, args) ret(QUENRIK_GLAPI *name) params = nullptr;
#define QUENRIK_GLU(ret, name, params, args) ret(QUENRIK_GLAPI *name) params = nullptr;
#include "gl_functions.inc"
#include "glu_functions.inc"
#undef QUENRIK_GL
#undef QUENRIK_GLU

const char* const GlFunctionNames[GlFunctionCount] = {
#define QUENRIK_GL(ret, name, params, args) #name,
#include "gl_functions.inc"
#undef QUENRIK_GL
};

const char* const GluFunctionNames[GluFunctionCount] = {
#define QUENRIK_GLU(ret, name, params, args) #name,
#include "glu_functions.inc"
#undef QUENRIK_GLU
};

}  // namespace gl

#ifdef _WIN32
const char* const GlLibraryName = "opengl32.dll";
const char* const GluLibraryName = "glu32.dll";
#else
// libGL.so.1 (not libOpenGL.so.0) so that GL tracers see every call.
const char* const GlLibraryName = "libGL.so.1";
const char* const GluLibraryName = "libGLU.so.1";
#endif

namespace {

struct BindingState {
  LibraryHandle glLibrary = nullptr;
  LibraryHandle gluLibrary = nullptr;
};
BindingState Binding;

template <typename Pointer>
void Resolve(LibraryHandle library, Pointer& pointer, const char* name) {
  void* symbol = FindSymbol(library, name);
  static_assert(sizeof(Pointer) == sizeof(void*));
  std::memcpy(&pointer, &symbol, sizeof pointer);
}

}  // namespace

bool LoadGL(const char* libraryName) {
  LibraryHandle library = OpenLibrary(libraryName);
  if (!library) return false;
  Binding.glLibrary = library;
#define QUENRIK_GL(ret, name, params, args) Resolve(library, gl::name, #name);
#include "gl_functions.inc"
#undef QUENRIK_GL
  return true;
}

bool LoadGLU(const char* libraryName) {
  LibraryHandle library = OpenLibrary(libraryName);
  if (!library) return false;
  Binding.gluLibrary = library;
#define QUENRIK_GLU(ret, name, params, args) Resolve(library, gl::name, #name);
#include "glu_functions.inc"
#undef QUENRIK_GLU
  return true;
}

// Each library is freed once at program end; the second load only raised the
// system's reference count, which the process end releases.
void FreeGLU() {
  if (Binding.gluLibrary) CloseLibrary(Binding.gluLibrary);
  Binding.gluLibrary = nullptr;
}

void FreeGL() {
  if (Binding.glLibrary) CloseLibrary(Binding.glLibrary);
  Binding.glLibrary = nullptr;
}

const char* FirstMissingEntryPoint() {
  using namespace gl;
  struct Required {
    const char* name;
    const void* pointer;
  };
  const Required required[] = {
      {"glBegin", reinterpret_cast<const void*>(glBegin)},
      {"glBindTexture", reinterpret_cast<const void*>(glBindTexture)},
      {"glBlendFunc", reinterpret_cast<const void*>(glBlendFunc)},
      {"glClear", reinterpret_cast<const void*>(glClear)},
      {"glClearColor", reinterpret_cast<const void*>(glClearColor)},
      {"glClearDepth", reinterpret_cast<const void*>(glClearDepth)},
      {"glColor4f", reinterpret_cast<const void*>(glColor4f)},
      {"glDepthFunc", reinterpret_cast<const void*>(glDepthFunc)},
      {"glDisable", reinterpret_cast<const void*>(glDisable)},
      {"glEnable", reinterpret_cast<const void*>(glEnable)},
      {"glEnd", reinterpret_cast<const void*>(glEnd)},
      {"glGenTextures", reinterpret_cast<const void*>(glGenTextures)},
      {"glHint", reinterpret_cast<const void*>(glHint)},
      {"glLoadIdentity", reinterpret_cast<const void*>(glLoadIdentity)},
      {"glMatrixMode", reinterpret_cast<const void*>(glMatrixMode)},
      {"glNormal3f", reinterpret_cast<const void*>(glNormal3f)},
      {"glRotatef", reinterpret_cast<const void*>(glRotatef)},
      {"glShadeModel", reinterpret_cast<const void*>(glShadeModel)},
      {"glTexCoord2f", reinterpret_cast<const void*>(glTexCoord2f)},
      {"glTexEnvi", reinterpret_cast<const void*>(glTexEnvi)},
      {"glTexImage2D", reinterpret_cast<const void*>(glTexImage2D)},
      {"glTexParameteri", reinterpret_cast<const void*>(glTexParameteri)},
      {"glTranslatef", reinterpret_cast<const void*>(glTranslatef)},
      {"glVertex3f", reinterpret_cast<const void*>(glVertex3f)},
      {"glViewport", reinterpret_cast<const void*>(glViewport)},
      {"gluPerspective", reinterpret_cast<const void*>(gluPerspective)},
  };
  for (const Required& entry : required)
    if (!entry.pointer) return entry.name;
  return nullptr;
}
