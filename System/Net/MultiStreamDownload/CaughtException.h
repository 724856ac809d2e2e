#pragma once

#include "System/Exception.h"
#include "System/RefPtr.h"

namespace OV::System::Net::MultiStreamDownload
{

// For use inside a catch block: the exception being handled, wrapped for its owner. A CException
// becomes the inner exception of a new one with the text; a standard exception becomes
// "(std::exception)  :" + text + "  :" + its description; anything else "(unknown exception)  :" + text.
// The place comes from the error boundary's OV_HERE at the catch.
CRefPtr<CException> WrapCaughtException(const RaisePlace& place, const char* text);

} // namespace OV::System::Net::MultiStreamDownload
