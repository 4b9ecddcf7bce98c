# The show core, the desktop hosts and the program `quenrik`.
find_package(Threads REQUIRED)

# Decoding runs on worker threads behind the loading screen.
target_link_libraries(quenrik_scenes PUBLIC Threads::Threads)

# The show core, free of any window system: the start-up order, the message
# table, the music-clocked loop, the shutdown and the failure reports. Every
# host (the desktop program, the capture, the measuring programs) links it.
add_library(quenrik_core STATIC show_core.cpp main_loop.cpp window_proc.cpp show_errors.cpp)
target_include_directories(quenrik_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quenrik_core PUBLIC quenrik_timeline quenrik_scenes quenrik_config ${CMAKE_DL_LIBS})

# The browser: the web host, and the site around it.
if(EMSCRIPTEN)
  include(${CMAKE_CURRENT_LIST_DIR}/web/web.cmake)
  return()
endif()

# Windows: the desktop host over the Win32 platform layer.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/win32.cmake)
  return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(QUENRIK_SHOW_SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(QUENRIK_SHOW_X11 REQUIRED IMPORTED_TARGET x11 xrandr)

# The desktop host over SDL2: window, display mode, context, error box, and
# the music through the sound module; the signals and the display guardian.
add_library(quenrik_show STATIC sdl_window.cpp window_manager.cpp desktop_host.cpp stop_signals.cpp
  display_guardian.cpp)
target_include_directories(quenrik_show PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quenrik_show PUBLIC quenrik_core quenrik_sound PkgConfig::QUENRIK_SHOW_SDL2
  PRIVATE PkgConfig::QUENRIK_SHOW_X11)

add_executable(quenrik main.cpp)
target_link_libraries(quenrik PRIVATE quenrik_show quenrik_dialog)
