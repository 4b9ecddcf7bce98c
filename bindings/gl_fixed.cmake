# The fixed-function layer over OpenGL ES 2.0 (gl_fixed.h): what the show
# draws with where there is no desktop OpenGL, WebGL 1 in a browser. Natively
# it links Mesa's GLESv2 (for its tests); under Emscripten it links nothing
# itself, the GLES2 calls being WebGL's.
if(NOT EMSCRIPTEN AND NOT WIN32)
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(QUENRIK_GLES2 IMPORTED_TARGET glesv2)
  endif()
endif()
if(EMSCRIPTEN OR QUENRIK_GLES2_FOUND)
  add_library(quenrik_gl_fixed STATIC ${CMAKE_CURRENT_LIST_DIR}/gl_fixed.cpp)
  target_link_libraries(quenrik_gl_fixed PUBLIC quenrik_gl)
  if(QUENRIK_GLES2_FOUND)
    target_link_libraries(quenrik_gl_fixed PRIVATE PkgConfig::QUENRIK_GLES2)
  endif()
elseif(NOT WIN32)
  message(STATUS "GLESv2 not found: no fixed-function layer (its tests are skipped)")
endif()
