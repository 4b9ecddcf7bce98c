# The configuration dialog: the toolkit-free procedure (shared with the Windows
# build) and, on Linux, its GTK 3 window.
add_library(quenrik_dialog_proc STATIC config_dialog_proc.cpp)
target_include_directories(quenrik_dialog_proc PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quenrik_dialog_proc PUBLIC quenrik_config quenrik_dialog_template)

if(NOT WIN32 AND NOT EMSCRIPTEN)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
  add_library(quenrik_dialog STATIC dialog_gtk.cpp)
  target_link_libraries(quenrik_dialog PUBLIC quenrik_dialog_proc PRIVATE quenrik_dialog_ui PkgConfig::GTK3)
endif()
