// libmpg123's build configuration for WebAssembly (Emscripten), written for
// mpg123.cmake: the portable C decoder ("generic") in single precision with
// accurate rounding to 16 bits, gapless, with every format and layer of the
// library's default build. What a desktop build finds out with its configure
// checks is fixed here, since Emscripten's libc is known.
#pragma once

#define ACCURATE_ROUNDING 1
#define FRAME_INDEX 1
#define INDEX_SIZE 1000
#define GAPLESS 1
#define IEEE_FLOAT 1
#define USE_NEW_HUFFTABLE 1
#define CCALIGN 1

#define HAVE_ATOLL 1
#define HAVE_DIRENT_H 1
#define HAVE_INTTYPES_H 1
#define HAVE_LIMITS_H 1
#define HAVE_LOCALE_H 1
#define HAVE_SIGNAL_H 1
#define HAVE_STDIO_H 1
#define HAVE_STDINT_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STRERROR 1
#define HAVE_STRING_H 1
#define HAVE_STRINGS_H 1
#define HAVE_SYS_STAT_H 1
#define HAVE_SYS_TIME_H 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_UNISTD_H 1

// 32-bit long and a 64-bit off_t: no large-file renaming or wrappers.
#define SIZEOF_LONG 4
#define SIZEOF_OFF_T 8
#define LFS_ALIAS_BITS 64

#define PACKAGE_NAME "mpg123"
#define DEFAULT_OUTPUT_MODULE "dummy"
