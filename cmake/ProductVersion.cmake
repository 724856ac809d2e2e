# The program's version, written once in project(VERSION ...): the code and the resource scripts read it
# from ProductVersion.h, and Updater.exe's manifest is generated with it.
set(OV_VERSION_DIR ${CMAKE_BINARY_DIR}/generated/Version)
configure_file(${CMAKE_SOURCE_DIR}/cmake/ProductVersion.h.in ${OV_VERSION_DIR}/ProductVersion.h @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/Updater/Updater.manifest.in ${OV_VERSION_DIR}/Updater.manifest @ONLY)
