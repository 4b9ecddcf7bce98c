#include "gl.h"

#include <cstring>

#include "library.h"

namespace gl {

#define QUENRIK_GL(use, ret, name, params, args) ret(QUENRIK_GLAPI *name) params = nullptr;
#define QUENRIK_GLU(use, ret, name, params, args) ret(QUENRIK_GLAPI *name) params = nullptr;
#include "gl_functions.inc"
#include "glu_functions.inc"
#undef QUENRIK_GL
#undef QUENRIK_GLU

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

void ResolveGl(LibraryHandle library) {
#define QUENRIK_GL(use, ret, name, params, args) Resolve(library, gl::name, #name);
#include "gl_functions.inc"
#undef QUENRIK_GL
}

void ResolveGlu(LibraryHandle library) {
#define QUENRIK_GLU(use, ret, name, params, args) Resolve(library, gl::name, #name);
#include "glu_functions.inc"
#undef QUENRIK_GLU
}

// Loading again replaces the handle: the second load only raises the
// system's reference count, which the process end releases.
bool Load(const char* libraryName, LibraryHandle& held, void (*resolve)(LibraryHandle)) {
  LibraryHandle library = OpenLibrary(libraryName);
  if (!library) return false;
  held = library;
  resolve(library);
  return true;
}

void Free(LibraryHandle& held) {
  if (held) CloseLibrary(held);
  held = nullptr;
}

}  // namespace

bool LoadGL(const char* libraryName) { return Load(libraryName, Binding.glLibrary, ResolveGl); }
bool LoadGLU(const char* libraryName) { return Load(libraryName, Binding.gluLibrary, ResolveGlu); }
void FreeGLU() { Free(Binding.gluLibrary); }
void FreeGL() { Free(Binding.glLibrary); }

const char* FirstMissingEntryPoint() {
  constexpr bool Called = true, Bound = false;
#define QUENRIK_GL(use, ret, name, params, args) \
  if (use && !gl::name) return #name;
#define QUENRIK_GLU QUENRIK_GL
#include "gl_functions.inc"
#include "glu_functions.inc"
#undef QUENRIK_GL
#undef QUENRIK_GLU
  return nullptr;
}
