// A program's own global allocation functions (the standard lets a program
// replace them, once), all made from one pair of functions:
//   QUENRIK_REPLACE_GLOBAL_ALLOCATION(Allocate, Release)
// at namespace scope in one file, with void* Allocate(std::size_t) (never
// null: it throws std::bad_alloc) and void Release(void*) (null allowed).
// The aligned forms keep the library's own.
#pragma once

#include <cstddef>
#include <new>

#define QUENRIK_REPLACE_GLOBAL_ALLOCATION(allocate, release)                                    \
  void* operator new(std::size_t n) { return allocate(n); }                                    \
  void* operator new[](std::size_t n) { return allocate(n); }                                  \
  void* operator new(std::size_t n, const std::nothrow_t&) noexcept {                          \
    try {                                                                                      \
      return allocate(n);                                                                      \
    } catch (...) {                                                                            \
      return nullptr;                                                                          \
    }                                                                                          \
  }                                                                                            \
  void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); } \
  void operator delete(void* p) noexcept { release(p); }                                       \
  void operator delete[](void* p) noexcept { release(p); }                                     \
  void operator delete(void* p, std::size_t) noexcept { release(p); }                          \
  void operator delete[](void* p, std::size_t) noexcept { release(p); }
