# The show on Windows: the desktop host over the Win32 platform layer and its
# dialog, and quenrik.exe with its resources. Included from show.cmake when
# cross-building with cmake/mingw-w64.cmake.
add_library(quenrik_show STATIC desktop_host.cpp win32_window.cpp win32_dialog.cpp)
target_include_directories(quenrik_show PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(quenrik_show PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN)
# opengl32 for the WGL calls only; GL and GLU are bound by name at run time.
target_link_libraries(quenrik_show PUBLIC quenrik_core quenrik_sound quenrik_dialog_proc opengl32 gdi32 user32)

# The program's icon (group 1): resources/icon.cmake's drawing at 32 and 16
# pixels.
find_program(QUENRIK_IMAGEMAGICK NAMES convert REQUIRED)
set(QUENRIK_ICON ${CMAKE_CURRENT_BINARY_DIR}/quenrik.ico)
quenrik_icon_drawing(1 QUENRIK_ICON_DRAWING)
add_custom_command(OUTPUT ${QUENRIK_ICON}
  COMMAND ${QUENRIK_IMAGEMAGICK} ${QUENRIK_ICON_DRAWING} -define icon:auto-resize=32,16 ${QUENRIK_ICON}
  DEPENDS ${QUENRIK_RESOURCES_DIR}/icon.cmake
  VERBATIM
  COMMENT "Drawing the program icon")

# Dialog 108 comes from the resource script made from the control table;
# the icon follows in the same language, German (Germany).
set(QUENRIK_RC ${CMAKE_CURRENT_BINARY_DIR}/quenrik.rc)
file(WRITE ${QUENRIK_RC}.in
  "// The program's resources: made by shell/win32.cmake.\n"
  "#include \"config_dialog.rc\"\n"
  "LANGUAGE 0x07, 0x01\n"
  "1 ICON \"quenrik.ico\"\n")
configure_file(${QUENRIK_RC}.in ${QUENRIK_RC} COPYONLY)
set(QUENRIK_RESOURCE_OBJECT ${CMAKE_CURRENT_BINARY_DIR}/quenrik_resources.o)
add_custom_command(OUTPUT ${QUENRIK_RESOURCE_OBJECT}
  COMMAND ${CMAKE_RC_COMPILER} -O coff -I ${QUENRIK_RESOURCES_DIR} -I ${CMAKE_CURRENT_BINARY_DIR}
          ${QUENRIK_RC} -o ${QUENRIK_RESOURCE_OBJECT}
  DEPENDS ${QUENRIK_RC} ${QUENRIK_RESOURCES_DIR}/config_dialog.rc ${QUENRIK_ICON}
  VERBATIM
  COMMENT "Compiling the resources (dialog 108, icon 1)")

add_executable(quenrik WIN32 main.cpp ${QUENRIK_RESOURCE_OBJECT})
target_link_libraries(quenrik PRIVATE quenrik_show)
