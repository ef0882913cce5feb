# The setup dialog: portable rules and preview pass, and the Win32 binding.

# Steps, limits, snapping, angle text and the preview pass: no platform
# headers, the model handed in, so one library serves all three deliverables
# and the native tests.
add_library(dialog_core STATIC
    dialog/angle_text.cpp
    dialog/array_preview.cpp
    dialog/array_setup.cpp
)
target_include_directories(dialog_core PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(dialog_core PRIVATE ${PLUGIN_CODE_OPTIONS})
