// Thin wrapper over the platform's dynamic library loader.
#pragma once

using LibraryHandle = void*;

LibraryHandle OpenLibrary(const char* name);  // null when it cannot be loaded
void* FindSymbol(LibraryHandle library, const char* name);  // null when absent
void CloseLibrary(LibraryHandle library);
