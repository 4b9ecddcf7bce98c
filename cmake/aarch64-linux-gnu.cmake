# Cross-compiling the HWL codec, the hwl tool and their tests for 64-bit ARM
# Linux (Debian: g++-aarch64-linux-gnu, libpng-dev:arm64, libgtest-dev:arm64
# from the arm64 architecture, qemu-user; tools/setup.sh installs them):
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DQUENRIK_CODEC_ONLY=ON
# ctest runs the programs under qemu-user; no kernel binfmt support is needed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(QUENRIK_AARCH64_TRIPLE aarch64-linux-gnu)
find_program(CMAKE_C_COMPILER NAMES ${QUENRIK_AARCH64_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QUENRIK_AARCH64_TRIPLE}-g++ REQUIRED)

# The cross C library lives in /usr/aarch64-linux-gnu, the multiarch packages
# in /usr/lib/aarch64-linux-gnu (found through the library architecture).
set(CMAKE_LIBRARY_ARCHITECTURE ${QUENRIK_AARCH64_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${QUENRIK_AARCH64_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${QUENRIK_AARCH64_TRIPLE}/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Programs are linked statically: the cross C library (/usr/aarch64-linux-gnu)
# and the arm64 multiarch one that libpng-dev:arm64 brings differ in version,
# and a program loading parts of both hangs in its threads under qemu.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(PNG_LIBRARY /usr/lib/${QUENRIK_AARCH64_TRIPLE}/libpng16.a CACHE FILEPATH "static libpng for arm64")
set(ZLIB_LIBRARY /usr/lib/${QUENRIK_AARCH64_TRIPLE}/libz.a CACHE FILEPATH "static zlib for arm64")

find_program(QUENRIK_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUENRIK_QEMU_AARCH64} -L /usr/${QUENRIK_AARCH64_TRIPLE})
