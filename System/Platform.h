// The one way into the Windows headers. The target version and the lean/unicode switches are compile
// definitions of the build (ov_settings in the top-level CMakeLists.txt), so that every source, resource
// script and generated file sees the same ones; a source compiled without them is refused here.
#pragma once

#if !defined(UNICODE) || !defined(_UNICODE) || !defined(WIN32_LEAN_AND_MEAN) || !defined(NOMINMAX) ||        \
    !defined(_WIN32_WINNT) || !defined(WINVER)
#error "Build with the project's compile definitions (ov_settings)"
#endif

#include <windows.h>
