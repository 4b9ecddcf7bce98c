# The show in a browser (tools/build-web.sh): the show core with the browser
# host, compiled to WebAssembly with Emscripten, and the static site around
# it in <build>/site: index.html (the page with the dialog form made from the
# control table), page.js, quenrik.js and quenrik.wasm, data/.
set(QUENRIK_WEB_SITE ${CMAKE_BINARY_DIR}/site)
set(web ${CMAKE_CURRENT_LIST_DIR})

# Start-up waits for the page (the dialog, full screen, the loading screen's
# frame) through Asyncify; only the functions on those paths are rewritten.
set(web_async_imports quenrik_dialog_wait quenrik_window_open quenrik_present_and_wait)
set(web_async_functions WebStartShow *StartShow* *PrepareScenes* *ShowLoadingScreen* *ShowPageDialog*
    *OpenWindow* *Present*)
list(JOIN web_async_imports "," web_async_imports)
list(JOIN web_async_functions "," web_async_functions)

add_executable(quenrik-web ${web}/web_host.cpp)
target_link_libraries(quenrik-web PRIVATE quenrik_core quenrik_dialog_proc quenrik_gl_fixed quenrik_web_audio)
set_target_properties(quenrik-web PROPERTIES OUTPUT_NAME quenrik SUFFIX .js
                      RUNTIME_OUTPUT_DIRECTORY ${QUENRIK_WEB_SITE})
target_link_options(quenrik-web PRIVATE
  -sMODULARIZE=1 -sEXPORT_NAME=QuenrikModule -sENVIRONMENT=web
  # The pictures' pixels (14 MB) and the decoded music (13 MB) stay for the run.
  -sINITIAL_MEMORY=67108864 -sALLOW_MEMORY_GROWTH=1
  -sFORCE_FILESYSTEM=1 "-sEXPORTED_RUNTIME_METHODS=[ccall,FS,UTF8ToString]"
  -sMIN_WEBGL_VERSION=1 -sMAX_WEBGL_VERSION=1 -lGL
  -sASYNCIFY=1 -sASYNCIFY_IGNORE_INDIRECT=1 -sASYNCIFY_STACK_SIZE=65536
  "-sASYNCIFY_IMPORTS=[${web_async_imports}]" "-sASYNCIFY_ADD=[${web_async_functions}]"
  "SHELL:--js-library ${web}/web_host.js")
set_property(TARGET quenrik-web APPEND PROPERTY LINK_DEPENDS ${web}/web_host.js)

# The page: its template with the dialog form in place.
file(READ ${QUENRIK_RESOURCES_DIR}/config_dialog.html QUENRIK_DIALOG_FORM)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QUENRIK_RESOURCES_DIR}/config_dialog.html
             ${web}/page.html)
configure_file(${web}/page.html ${QUENRIK_WEB_SITE}/index.html @ONLY)

# The page's script and the show's data, copied whenever they change.
file(GLOB web_data ${QUENRIK_SOURCE_ROOT}/data/*.hwl ${QUENRIK_SOURCE_ROOT}/data/*.mp3)
set(web_site_files ${QUENRIK_WEB_SITE}/page.js)
add_custom_command(OUTPUT ${QUENRIK_WEB_SITE}/page.js
  COMMAND ${CMAKE_COMMAND} -E copy ${web}/page.js ${QUENRIK_WEB_SITE}/page.js
  DEPENDS ${web}/page.js)
foreach(file ${web_data})
  get_filename_component(name ${file} NAME)
  add_custom_command(OUTPUT ${QUENRIK_WEB_SITE}/data/${name}
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${QUENRIK_WEB_SITE}/data/${name}
    DEPENDS ${file})
  list(APPEND web_site_files ${QUENRIK_WEB_SITE}/data/${name})
endforeach()
add_custom_target(quenrik-site ALL DEPENDS quenrik-web ${web_site_files})
