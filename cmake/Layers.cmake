# The layers of the house, each a static library that depends PRIVATELY on the layers below it:
#
#   ov_system     System/**                 the platform layer (Win32, IO, strings, log, HTTP)
#   ov_trust      Updater/Trust/            signer, signature and hash checks     -> ov_system
#   ov_commonapp  CommonAppLogic/           client settings, INI files            -> ov_system
#   ov_analytics  Analytics/                GA4 events, queue, upload              -> ov_commonapp, ov_system
#   ov_updater    Updater/ (not Main.cpp)   the run, its stages, service, window  -> all of the above
#
# Each library publishes an include root of its own that holds only its folder (a link to it), and the
# root of the source tree is on no include path: a source can include only the headers of its own layer
# and of the layers it links, so an include that runs up the house fails to compile.
set(OV_LAYER_ROOTS ${CMAKE_BINARY_DIR}/layers)

# ov_add_layer(<target> <folder> <source globs...>): the library of one folder, its include root
# publishing <folder> under the same relative path as in the source tree.
function(ov_add_layer target folder)
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${ARGN})
    add_library(${target} STATIC ${sources})
    set(root ${OV_LAYER_ROOTS}/${target})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    target_include_directories(${target} PUBLIC ${root})
    target_link_libraries(${target} PUBLIC ov_settings PRIVATE ${OV_WIN32_LIBS})
endfunction()

ov_add_layer(ov_system System System/*.cpp)

ov_add_layer(ov_trust Updater/Trust Updater/Trust/*.cpp)
target_link_libraries(ov_trust PRIVATE ov_system)

ov_add_layer(ov_commonapp CommonAppLogic CommonAppLogic/*.cpp)
target_link_libraries(ov_commonapp PRIVATE ov_system)

ov_add_layer(ov_analytics Analytics Analytics/*.cpp)
target_link_libraries(ov_analytics PRIVATE ov_commonapp ov_system)

ov_add_layer(ov_updater Updater Updater/*.cpp)
get_target_property(updater_sources ov_updater SOURCES)
list(FILTER updater_sources EXCLUDE REGEX "/Updater/(Main\\.cpp|Trust/.*)$")
set_property(TARGET ov_updater PROPERTY SOURCES ${updater_sources})
target_link_libraries(ov_updater PRIVATE ov_analytics ov_commonapp ov_trust ov_system ov_jsoncpp)

# The whole house, for the unit tests and the test tools, which reach into every layer.
add_library(ov_core INTERFACE)
target_link_libraries(ov_core INTERFACE ov_updater ov_analytics ov_commonapp ov_trust ov_system ov_jsoncpp)
