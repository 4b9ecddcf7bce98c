# libmpg123 for WebAssembly, built from its Debian source package (the same
# version as the desktop's libmpg123-dev), which tools/setup.sh unpacks into
# QUENRIK_MPG123_SOURCE. The portable C decoder only: the desktop library
# picks an assembly decoder at run time (AVX, x86-64), whose roundings differ
# from the C one in about one 16-bit sample in a thousand, by one step.
set(QUENRIK_MPG123_SOURCE /usr/local/src/quenrik/mpg123 CACHE PATH "unpacked mpg123 source (tools/setup.sh)")
set(mpg123_src ${QUENRIK_MPG123_SOURCE}/src/libmpg123)
if(NOT EXISTS ${mpg123_src}/mpg123.h.in)
  message(FATAL_ERROR "no mpg123 source in ${QUENRIK_MPG123_SOURCE}: run tools/setup.sh")
endif()

# The public header from its template, as the library's configure writes it.
file(READ ${QUENRIK_MPG123_SOURCE}/configure.ac mpg123_configure)
string(REGEX MATCH "API_VERSION=([0-9]+)" _ "${mpg123_configure}")
set(API_VERSION ${CMAKE_MATCH_1})
string(REGEX MATCH "AC_INIT\\(\\[mpg123\\], \\[([0-9.]+)" _ "${mpg123_configure}")
set(PACKAGE_VERSION ${CMAKE_MATCH_1})
set(INCLUDE_STDLIB_H "#include <stdlib.h>")
set(INCLUDE_SYS_TYPE_H "#include <sys/types.h>")
set(BUILD_NO_LARGENAME 1)
configure_file(${mpg123_src}/mpg123.h.in ${CMAKE_CURRENT_BINARY_DIR}/mpg123/mpg123.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/web/mpg123_config.h ${CMAKE_CURRENT_BINARY_DIR}/mpg123/config.h COPYONLY)

set(mpg123_files parse frame format dct64 equalizer id3 optimize readers tabinit libmpg123 index icy icy2utf8
    layer1 layer2 layer3 ntom synth_8bit synth synth_s32 synth_real stringbuf feature)
list(TRANSFORM mpg123_files PREPEND ${mpg123_src}/)
list(TRANSFORM mpg123_files APPEND .c)
add_library(quenrik_mpg123 STATIC ${mpg123_files}
  ${QUENRIK_MPG123_SOURCE}/src/compat/compat.c ${QUENRIK_MPG123_SOURCE}/src/compat/compat_str.c)
target_include_directories(quenrik_mpg123 PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/mpg123 ${mpg123_src}
                           ${QUENRIK_MPG123_SOURCE}/src ${QUENRIK_MPG123_SOURCE}/src/compat)
target_include_directories(quenrik_mpg123 SYSTEM INTERFACE ${CMAKE_CURRENT_BINARY_DIR}/mpg123 ${mpg123_src})
target_compile_definitions(quenrik_mpg123 PRIVATE HAVE_CONFIG_H OPT_GENERIC REAL_IS_FLOAT)
# Not our code: its own warnings are not ours to fix.
target_compile_options(quenrik_mpg123 PRIVATE -w)
