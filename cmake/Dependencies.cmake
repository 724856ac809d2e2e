# jsoncpp and GoogleTest are built from Debian's sources with this build's own toolchain, once per
# build folder, at configure time (scripts/setup.sh fetches the sources). Nothing is vendored.

set(OV_DEPS_SOURCE_DIR "${CMAKE_SOURCE_DIR}/build/_sources" CACHE PATH "Where the dependency sources were fetched")
set(OV_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "Debian's googletest sources")
set(OV_DEPS_DIR "${CMAKE_BINARY_DIR}/_deps")

function(ov_build_dependency name source_dir)
    set(install_dir "${OV_DEPS_DIR}/${name}")
    if(EXISTS "${install_dir}/.built")
        return()
    endif()
    message(STATUS "Building ${name} from ${source_dir}")
    set(build_dir "${OV_DEPS_DIR}/${name}-build")
    file(REMOVE_RECURSE "${build_dir}" "${install_dir}")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -S "${source_dir}" -B "${build_dir}" -G Ninja
                "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}" -DCMAKE_BUILD_TYPE=Release
                "-DCMAKE_INSTALL_PREFIX=${install_dir}" ${OV_DEPENDENCY_ARGS} ${ARGN}
        RESULT_VARIABLE result OUTPUT_QUIET)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Configuring ${name} failed")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} --build "${build_dir}" --target install -j 2
                    RESULT_VARIABLE result OUTPUT_QUIET)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Building ${name} failed")
    endif()
    file(TOUCH "${install_dir}/.built")
endfunction()

# jsoncpp: Debian's source package "libjsoncpp".
file(GLOB OV_JSONCPP_ARCHIVE "${OV_DEPS_SOURCE_DIR}/libjsoncpp_*.orig.tar.*")
if(NOT OV_JSONCPP_ARCHIVE)
    message(FATAL_ERROR "jsoncpp sources not found in ${OV_DEPS_SOURCE_DIR}: run scripts/setup.sh")
endif()
list(GET OV_JSONCPP_ARCHIVE 0 OV_JSONCPP_ARCHIVE)
set(OV_JSONCPP_SRC "${OV_DEPS_DIR}/jsoncpp-src")
if(NOT EXISTS "${OV_JSONCPP_SRC}/CMakeLists.txt")
    file(REMOVE_RECURSE "${OV_JSONCPP_SRC}")
    file(ARCHIVE_EXTRACT INPUT "${OV_JSONCPP_ARCHIVE}" DESTINATION "${OV_DEPS_DIR}/jsoncpp-unpack")
    file(GLOB unpacked LIST_DIRECTORIES true "${OV_DEPS_DIR}/jsoncpp-unpack/*")
    file(RENAME "${unpacked}" "${OV_JSONCPP_SRC}")
    file(REMOVE_RECURSE "${OV_DEPS_DIR}/jsoncpp-unpack")
endif()
ov_build_dependency(jsoncpp "${OV_JSONCPP_SRC}" -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF
                    -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=OFF -DBUILD_SHARED_LIBS=OFF
                    -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF)
add_library(ov_jsoncpp STATIC IMPORTED GLOBAL)
set_target_properties(ov_jsoncpp PROPERTIES IMPORTED_LOCATION "${OV_DEPS_DIR}/jsoncpp/lib/libjsoncpp.a"
                                            INTERFACE_INCLUDE_DIRECTORIES "${OV_DEPS_DIR}/jsoncpp/include")

if(OV_BUILD_TESTS)
    ov_build_dependency(googletest "${OV_GTEST_SOURCE_DIR}" -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF)
    add_library(ov_gtest STATIC IMPORTED GLOBAL)
    set_target_properties(ov_gtest PROPERTIES IMPORTED_LOCATION "${OV_DEPS_DIR}/googletest/lib/libgtest.a"
                                              INTERFACE_INCLUDE_DIRECTORIES "${OV_DEPS_DIR}/googletest/include")
    add_library(ov_gtest_main STATIC IMPORTED GLOBAL)
    set_target_properties(ov_gtest_main PROPERTIES IMPORTED_LOCATION "${OV_DEPS_DIR}/googletest/lib/libgtest_main.a"
                                                   INTERFACE_LINK_LIBRARIES ov_gtest)
endif()
