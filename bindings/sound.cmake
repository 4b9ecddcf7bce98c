# An MP3 file's frames and gapless trim, for decoders that do not trim.
add_library(quenrik_mp3_frames STATIC mp3_frames.cpp)
target_include_directories(quenrik_mp3_frames PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

# The browser's music clock, platform-free (tested natively).
add_library(quenrik_web_audio_clock STATIC web_audio_clock.cpp)
target_include_directories(quenrik_web_audio_clock PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

# The browser's music: libmpg123 built for WebAssembly decodes, Web Audio
# plays (web_audio.h).
if(EMSCRIPTEN)
  include(${CMAKE_CURRENT_LIST_DIR}/mpg123_web.cmake)
  add_library(quenrik_web_audio STATIC sound_errors.cpp sound_mpg123.cpp web_audio.cpp)
  target_include_directories(quenrik_web_audio PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(quenrik_web_audio PRIVATE quenrik_mpg123 quenrik_web_audio_clock)
  target_link_options(quenrik_web_audio INTERFACE "SHELL:--js-library ${CMAKE_CURRENT_SOURCE_DIR}/web/web_audio.js")
  set_property(TARGET quenrik_web_audio APPEND PROPERTY INTERFACE_LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/web/web_audio.js)
  return()
endif()

# The music module. Windows: MP3 decoding with the Audio Compression Manager,
# output through waveOut (system DLLs only).
if(WIN32)
  add_library(quenrik_sound STATIC sound.cpp sound_errors.cpp sound_win32_acm.cpp sound_win32_waveout.cpp)
  target_include_directories(quenrik_sound PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(quenrik_sound PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN)
  target_link_libraries(quenrik_sound PRIVATE quenrik_mp3_frames quenrik_thread_priority msacm32 winmm)
  return()
endif()

# Linux: MP3 decoding with libmpg123; output through a sound server
# (libpulse), else ALSA, else SDL2 audio.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(QUENRIK_SOUND_SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(QUENRIK_SOUND_MPG123 REQUIRED IMPORTED_TARGET libmpg123)
pkg_check_modules(QUENRIK_SOUND_PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(QUENRIK_SOUND_ALSA REQUIRED IMPORTED_TARGET alsa)

add_library(quenrik_sound STATIC sound.cpp sound_errors.cpp sound_heard.cpp sound_mpg123.cpp sound_linux_output.cpp
  sound_pulse.cpp sound_alsa.cpp sound_sdl.cpp)
target_include_directories(quenrik_sound PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quenrik_sound PRIVATE PkgConfig::QUENRIK_SOUND_SDL2 PkgConfig::QUENRIK_SOUND_MPG123
  PkgConfig::QUENRIK_SOUND_PULSE PkgConfig::QUENRIK_SOUND_ALSA Threads::Threads quenrik_thread_priority)
