# The configuration dialog (placeholder until the real one lands).
add_library(quenrik_dialog STATIC config_dialog_stub.cpp)
target_include_directories(quenrik_dialog PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
