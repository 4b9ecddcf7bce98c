# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64).
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The posix flavour of the compiler is used: it has std::thread and std::mutex
# (the win32 flavour of GCC 12 lacks them), through winpthreads.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUENRIK_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${QUENRIK_MINGW_PREFIX}-gcc-posix ${QUENRIK_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QUENRIK_MINGW_PREFIX}-g++-posix ${QUENRIK_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUENRIK_MINGW_PREFIX}-windres REQUIRED)
find_program(QUENRIK_MINGW_OBJDUMP NAMES ${QUENRIK_MINGW_PREFIX}-objdump)

# Libraries and headers of the target only; programs (windres, ImageMagick)
# from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUENRIK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs import system DLLs only: the C++ runtime, libgcc and
# winpthreads are linked in statically.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# pkg-config must not hand out the build machine's libraries (SDL2, GTK).
set(ENV{PKG_CONFIG_LIBDIR} ${CMAKE_FIND_ROOT_PATH}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
