#include "System/Net/MultiStreamDownload/CaughtException.h"

#include <exception>
#include <string>

namespace OV::System::Net::MultiStreamDownload
{

CRefPtr<CException> WrapCaughtException(const RaisePlace& place, const char* text)
{
    try
    {
        throw;
    }
    catch (const CException& caught)
    {
        return MakeRef<CException>(place, caught, text);
    }
    catch (const std::exception& caught)
    {
        const std::string message = std::string("(std::exception)  :") + text + "  :" + caught.what();
        return MakeRef<CException>(place, std::string_view(message));
    }
    catch (...)
    {
        const std::string message = std::string("(unknown exception)  :") + text;
        return MakeRef<CException>(place, std::string_view(message));
    }
}

} // namespace OV::System::Net::MultiStreamDownload
