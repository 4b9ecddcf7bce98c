# What `cmake --install` lays out, and where the installed programs find
# their data. On Linux, below the prefix: the programs in bin/, the show's
# data in share/quenrik/data/, a desktop entry, icons, man pages and the
# documentation. On Windows, the folder the zip holds: quenrik.exe with data\
# and README.txt beside it. cmake/package.cmake packs these trees.
include(GNUInstallDirs)

option(QUENRIK_PACKAGE "Refuse to configure unless every installed program can be built (for packaging)" OFF)

if(WIN32)
  set(QUENRIK_INSTALL_BIN .)
  set(QUENRIK_INSTALL_HOME .)
else()
  set(QUENRIK_INSTALL_BIN ${CMAKE_INSTALL_BINDIR})
  set(QUENRIK_INSTALL_HOME ${CMAKE_INSTALL_DATADIR}/quenrik)
endif()

# The installed home (the folder that holds data/) as seen from the programs'
# folder: shell/installed_data.cpp enters it when started from there.
if(WIN32)
  set(quenrik_home_from_exe .)
else()
  file(RELATIVE_PATH quenrik_home_from_exe ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/quenrik)
endif()
target_compile_definitions(quenrik_installed_data PRIVATE QUENRIK_HOME_FROM_EXE="${quenrik_home_from_exe}")

# The programs. The capture and the HWL tool are skipped by builds that lack
# their libraries; a package must not silently lack them.
set(QUENRIK_INSTALLED_PROGRAMS quenrik)
if(NOT WIN32)
  list(APPEND QUENRIK_INSTALLED_PROGRAMS quenrik-capture hwl_tool)
endif()
foreach(program ${QUENRIK_INSTALLED_PROGRAMS})
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${QUENRIK_INSTALL_BIN})
  elseif(QUENRIK_PACKAGE)
    message(FATAL_ERROR "packaging needs ${program}, which this build skips (see the messages above)")
  endif()
endforeach()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/ DESTINATION ${QUENRIK_INSTALL_HOME}/data)

set(QUENRIK_INSTALL_TEXTS ${PROJECT_SOURCE_DIR}/resources/install)

if(WIN32)
  # The zip's README.txt, with Windows line ends.
  configure_file(${QUENRIK_INSTALL_TEXTS}/README-windows.txt ${CMAKE_BINARY_DIR}/install/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/install/README.txt DESTINATION .)
  return()
endif()

# Made at build time: icons at the usual sizes from resources/icon.cmake's
# drawing (at 256 pixels, then scaled down), man pages and the changelog
# compressed as Debian wants them.
set(made ${CMAKE_BINARY_DIR}/install)
set(made_files)
find_program(QUENRIK_IMAGEMAGICK NAMES convert)
if(QUENRIK_IMAGEMAGICK)
  quenrik_icon_drawing(8 drawing)
  add_custom_command(OUTPUT ${made}/icon-256.png
    COMMAND ${CMAKE_COMMAND} -E make_directory ${made}
    COMMAND ${QUENRIK_IMAGEMAGICK} ${drawing} ${made}/icon-256.png
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/icon.cmake
    VERBATIM
    COMMENT "Drawing the desktop icon")
  foreach(size 16 22 24 32 48 64 128 256)
    set(icon ${made}/icons/${size}x${size}/apps/quenrik.png)
    add_custom_command(OUTPUT ${icon}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${made}/icons/${size}x${size}/apps
      COMMAND ${QUENRIK_IMAGEMAGICK} ${made}/icon-256.png -resize ${size}x${size} -strip ${icon}
      DEPENDS ${made}/icon-256.png
      VERBATIM)
    list(APPEND made_files ${icon})
  endforeach()
  install(DIRECTORY ${made}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
elseif(QUENRIK_PACKAGE)
  message(FATAL_ERROR "packaging needs ImageMagick (convert) for the icons: apt-get install imagemagick")
else()
  message(STATUS "ImageMagick (convert) not found: `cmake --install` puts no icons")
endif()

find_program(QUENRIK_GZIP NAMES gzip REQUIRED)
# Texts: source, name as installed (before .gz), folder.
set(texts
  "docs/man/quenrik.1 quenrik.1 ${CMAKE_INSTALL_MANDIR}/man1"
  "docs/man/quenrik-capture.1 quenrik-capture.1 ${CMAKE_INSTALL_MANDIR}/man1"
  "docs/man/hwl.1 hwl.1 ${CMAKE_INSTALL_MANDIR}/man1"
  "resources/install/changelog changelog ${CMAKE_INSTALL_DOCDIR}")
foreach(text IN LISTS texts)
  string(REPLACE " " ";" fields "${text}")
  list(GET fields 0 source)
  list(GET fields 1 name)
  list(GET fields 2 folder)
  configure_file(${PROJECT_SOURCE_DIR}/${source} ${made}/texts/${name} @ONLY)
  add_custom_command(OUTPUT ${made}/texts/${name}.gz
    COMMAND ${QUENRIK_GZIP} -9 -n -c -- ${made}/texts/${name} > ${made}/texts/${name}.gz
    DEPENDS ${made}/texts/${name}
    COMMENT "Compressing ${name}")
  list(APPEND made_files ${made}/texts/${name}.gz)
  install(FILES ${made}/texts/${name}.gz DESTINATION ${folder})
endforeach()

# The changelog's newest entry must be this version: one version, in
# project() at the top.
file(STRINGS ${QUENRIK_INSTALL_TEXTS}/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^quenrik \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "resources/install/changelog begins with \"${changelog_top}\": its newest entry must be "
                      "for version ${PROJECT_VERSION} (project() in CMakeLists.txt)")
endif()

add_custom_target(quenrik_install_files ALL DEPENDS ${made_files})

install(FILES ${QUENRIK_INSTALL_TEXTS}/quenrik.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${QUENRIK_INSTALL_TEXTS}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Everything an install needs, for builds that make only that
# (tools/package.sh): the programs and the files above.
add_custom_target(quenrik_install_parts DEPENDS quenrik_install_files)
foreach(program ${QUENRIK_INSTALLED_PROGRAMS})
  if(TARGET ${program})
    add_dependencies(quenrik_install_parts ${program})
  endif()
endforeach()
