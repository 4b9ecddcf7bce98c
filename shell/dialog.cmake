# The configuration dialog (placeholder until the real one lands).
add_library(quenrik_dialog STATIC config_dialog_stub.cpp)
target_link_libraries(quenrik_dialog PUBLIC quenrik_config)
