# The resources of the progress window and the string table (UiResources.rc). The window's icon is drawn
# at build time by MakeIcon.py; programs that carry these resources get its folder on the resource
# include path.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(OV_UI_RESOURCE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(OV_UI_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated/Ui)
set(OV_UI_ICON ${OV_UI_GENERATED_DIR}/Updater.ico)

add_custom_command(
    OUTPUT ${OV_UI_ICON}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${OV_UI_GENERATED_DIR}
    COMMAND Python3::Interpreter ${OV_UI_RESOURCE_DIR}/MakeIcon.py ${OV_UI_ICON}
    DEPENDS ${OV_UI_RESOURCE_DIR}/MakeIcon.py
    COMMENT "Drawing the updater icon"
    VERBATIM)
add_custom_target(ov_ui_icon DEPENDS ${OV_UI_ICON})

# Gives target the UI resources. rc_file is the target's resource script that includes UiResources.rc,
# or UiResources.rc itself; it is added to the target's sources.
function(ov_add_ui_resources target rc_file)
    target_sources(${target} PRIVATE ${rc_file})
    set_property(SOURCE ${rc_file} APPEND PROPERTY INCLUDE_DIRECTORIES ${OV_UI_GENERATED_DIR})
    set_property(SOURCE ${rc_file} APPEND PROPERTY OBJECT_DEPENDS
        ${OV_UI_ICON}
        ${OV_UI_RESOURCE_DIR}/UiResources.rc
        ${OV_UI_RESOURCE_DIR}/StringTable.rc
        ${OV_UI_RESOURCE_DIR}/ProgressWindow.rc
        ${OV_UI_RESOURCE_DIR}/ResourceIds.h)
    add_dependencies(${target} ov_ui_icon)
endfunction()
