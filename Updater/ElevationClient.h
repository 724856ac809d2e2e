#pragma once

#include "System/Platform.h"

#include <oaidl.h>

namespace OV::Updater
{

// The maker's elevation service as its callers see it: a dual interface whose first own operation
// starts a program and returns a handle of it, valid in the caller's process.
struct IOVElevationService : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE LaunchProcess(ULONG callerPid, BSTR file, BSTR parameters, BSTR folder,
                                                    ULONG reserved1, ULONG reserved2, ULONG* processHandle,
                                                    ULONG* secondHandle) = 0;
};

// {3540DE9F-C4F7-4A44-B371-369C08D0A5B0}
inline constexpr CLSID kElevationServiceClass = {
    0x3540DE9F, 0xC4F7, 0x4A44, {0xB3, 0x71, 0x36, 0x9C, 0x08, 0xD0, 0xA5, 0xB0}};
// {F349007D-4D30-41F9-89A3-60EC4EEE1FCD}
inline constexpr IID kElevationServiceInterface = {
    0xF349007D, 0x4D30, 0x41F9, {0x89, 0xA3, 0x60, 0xEC, 0x4E, 0xEE, 0x1F, 0xCD}};

} // namespace OV::Updater
