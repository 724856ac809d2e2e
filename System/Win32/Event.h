#pragma once

#include "System/Win32/Synchronization.h"

#include <string>

namespace OV::System::Win32
{

// A Win32 event. Mind the argument order: the initial state comes first, the reset mode second.
class CEvent : public CSynchronizationObject
{
public:
    CEvent(bool initialState, bool manualReset);
    // Creates the named event, or opens it when another process made it first.
    CEvent(bool initialState, bool manualReset, const std::wstring& name);

    void Set();
    void Reset();
};

} // namespace OV::System::Win32
