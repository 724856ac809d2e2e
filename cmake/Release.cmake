# The shipped build (OV_RELEASE, scripts/release.sh): programs as small as the toolchain makes them, and
# byte-identical for anyone who builds the same commit, in whatever folder. The test build leaves it out.
#
# Small: every function and datum in a section of its own so that the linker drops what nothing reaches,
# and link-time optimisation across our code; the optimisation level comes from the preset.
# Reproducible: no link time in the PE header, no build folder in the debug information (kept for crash
# analysis; release.sh strips the programs and keeps the symbols apart).
include(CheckIPOSupported)
check_ipo_supported(RESULT ov_ipo_supported OUTPUT ov_ipo_output LANGUAGES C CXX)
if(NOT ov_ipo_supported)
    message(FATAL_ERROR "The shipped build needs link-time optimisation: ${ov_ipo_output}")
endif()
set(CMAKE_INTERPROCEDURAL_OPTIMIZATION ON)

# The build folder may lie inside the source folder: its map comes last, so GCC tries it first.
set(ov_release_flags "-g -ffunction-sections -fdata-sections -ffile-prefix-map=${CMAKE_SOURCE_DIR}=."
                     "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build")
list(JOIN ov_release_flags " " ov_release_flags)
string(APPEND CMAKE_C_FLAGS " ${ov_release_flags}")
string(APPEND CMAKE_CXX_FLAGS " ${ov_release_flags}")
# The link compiles again (LTO), so it gets the same maps. One LTO partition: MinGW GCC 12 stops with an
# internal error (binds_to_current_def_p) when it splits our code into several, and one also keeps the
# link to one process on a shared machine.
string(APPEND CMAKE_EXE_LINKER_FLAGS " ${ov_release_flags} -flto-partition=one -Wl,--gc-sections")
string(APPEND CMAKE_EXE_LINKER_FLAGS " -Wl,--no-insert-timestamp")

# jsoncpp (C++ only) is built by a CMake run of its own (Dependencies.cmake): the same flags there.
string(TOUPPER "${CMAKE_BUILD_TYPE}" ov_build_type)
set(OV_DEPENDENCY_ARGS "-DCMAKE_CXX_FLAGS=${CMAKE_CXX_FLAGS}"
                       "-DCMAKE_CXX_FLAGS_RELEASE=${CMAKE_CXX_FLAGS_${ov_build_type}}")

# The date of the build is the commit's (SOURCE_DATE_EPOCH, which release.sh sets; string(TIMESTAMP)
# reads it too). widl writes the time of its run into the type library ("Created by WIDL version 8.0
# at <time>") and Wine 8's widl does not read SOURCE_DATE_EPOCH: it runs with the clock stopped at that
# date instead. OV_WIDL is the command the elevation service's build runs.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    message(FATAL_ERROR "The shipped build takes its date from SOURCE_DATE_EPOCH (scripts/release.sh sets it)")
endif()
string(TIMESTAMP ov_source_date "%Y-%m-%d %H:%M:%S" UTC)
find_program(OV_FAKETIME faketime REQUIRED)
find_program(OV_WIDL_PROGRAM widl REQUIRED)
set(OV_WIDL ${CMAKE_COMMAND} -E env TZ=UTC ${OV_FAKETIME} -f "${ov_source_date}" ${OV_WIDL_PROGRAM})
