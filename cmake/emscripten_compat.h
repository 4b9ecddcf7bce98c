// What the C++20 library of Debian's Emscripten (3.1.6, libc++ 13) lacks and
// the code uses, for the browser build only (force-included by the top-level
// CMakeLists.txt). Each piece steps aside where the library has it.
#pragma once

#ifdef __cplusplus
#include <thread>
#include <type_traits>
#include <version>

namespace std {

#ifndef __cpp_lib_bit_cast
template <class To, class From>
  requires(sizeof(To) == sizeof(From) && is_trivially_copyable_v<To> && is_trivially_copyable_v<From>)
constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
#endif

#ifndef __cpp_lib_jthread
// A thread that joins when it goes (no stop token: the code does not use one).
class jthread : public thread {
 public:
  using thread::thread;
  jthread() noexcept = default;
  jthread(jthread&&) noexcept = default;
  jthread& operator=(jthread&& other) noexcept {
    if (joinable()) join();
    thread::operator=(std::move(other));
    return *this;
  }
  ~jthread() {
    if (joinable()) join();
  }
};
#endif

}  // namespace std
#endif
