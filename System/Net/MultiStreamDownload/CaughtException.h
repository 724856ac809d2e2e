#pragma once

#include "System/Exception.h"
#include "System/RefPtr.h"

namespace OV::System::Net::MultiStreamDownload
{

// For use inside a catch block: the exception being handled, wrapped for its owner. A CException
// becomes the inner exception of a new one with the text; a standard exception becomes
// "(std::exception)  :" + text + "  :" + its description; anything else "(unknown exception)  :" + text.
CRefPtr<CException> WrapCaughtException(const char* sourceFile, int line, const char* function,
                                        const char* text);

} // namespace OV::System::Net::MultiStreamDownload
