# The show program `quenrik` and the pieces other programs reuse.
find_package(Threads REQUIRED)

# Decoding runs on worker threads behind the loading screen.
target_link_libraries(quenrik_scenes PUBLIC Threads::Threads)

# Start-up pieces and the main loop, free of any window system: render state,
# loading screen, textures and circle table; the state reset; the message
# table; the music-clocked loop.
add_library(quenrik_startup STATIC show_startup.cpp window_proc.cpp main_loop.cpp)
target_include_directories(quenrik_startup PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quenrik_startup PUBLIC quenrik_timeline quenrik_scenes quenrik_config)

# Windows: the same start-up order over the Win32 platform layer.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/win32.cmake)
  return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(QUENRIK_SHOW_SDL2 REQUIRED IMPORTED_TARGET sdl2)

# The window, display mode, context and error reports over SDL2, and the
# show's start-up order (RunShow).
add_library(quenrik_show STATIC show_window.cpp show_errors.cpp show_main.cpp)
target_include_directories(quenrik_show PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quenrik_show PUBLIC quenrik_startup quenrik_sound PkgConfig::QUENRIK_SHOW_SDL2 ${CMAKE_DL_LIBS})

add_executable(quenrik main.cpp)
target_link_libraries(quenrik PRIVATE quenrik_show quenrik_dialog)
