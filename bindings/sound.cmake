# The music module: MP3 decoding with libmpg123, output through SDL2 audio.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUENRIK_SOUND_SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(QUENRIK_SOUND_MPG123 REQUIRED IMPORTED_TARGET libmpg123)

add_library(quenrik_sound STATIC sound.cpp sound_mpg123.cpp sound_sdl.cpp)
target_include_directories(quenrik_sound PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quenrik_sound PRIVATE PkgConfig::QUENRIK_SOUND_SDL2 PkgConfig::QUENRIK_SOUND_MPG123)
