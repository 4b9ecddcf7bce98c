#include "library.h"

#ifdef _WIN32
#include <windows.h>

LibraryHandle OpenLibrary(const char* name) { return reinterpret_cast<LibraryHandle>(LoadLibraryA(name)); }
void* FindSymbol(LibraryHandle library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(LibraryHandle library) { FreeLibrary(static_cast<HMODULE>(library)); }

#else
#include <dlfcn.h>

LibraryHandle OpenLibrary(const char* name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }
void* FindSymbol(LibraryHandle library, const char* name) { return dlsym(library, name); }
void CloseLibrary(LibraryHandle library) { dlclose(library); }
#endif
