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

# IP_ShowDialog: the Win32 dialog in the Windows build, a refusal natively.
list(APPEND PLUGIN_SOURCES dialog/exports_dialog.cpp)
list(APPEND PLUGIN_LIBRARIES dialog_core)

if(WIN32)
    # The template of each deliverable is chosen by its PLUGIN_MODEL_<X>
    # definition, which the resource compiler sees as well.
    list(APPEND PLUGIN_WIN32_SOURCES
        dialog/setup_dialog.rc
        dialog/setup_dialog_win.cpp
    )
    list(APPEND PLUGIN_LIBRARIES comctl32 gdi32 user32 shell32)
    set_property(SOURCE dialog/setup_dialog.rc APPEND PROPERTY OBJECT_DEPENDS
        ${PROJECT_SOURCE_DIR}/dialog/logo.bmp
        ${PROJECT_SOURCE_DIR}/dialog/splay_rows.rc
        ${PROJECT_SOURCE_DIR}/dialog/kind_rows.rc)
endif()

# The logo is committed; this program makes it, and a test proves that the
# committed file is exactly what it makes.
add_executable(logo_generator tools/logo/logo_generator.cpp)
set(DIALOG_LOGO_FILE ${PROJECT_SOURCE_DIR}/dialog/logo.bmp)
if(NOT CMAKE_CROSSCOMPILING)
    add_custom_target(regenerate_logo
        COMMAND logo_generator ${DIALOG_LOGO_FILE}
        COMMENT "Writing dialog/logo.bmp")
endif()
