// Orvane elevation service: a COM local server.
//   ElevationService.exe /RegServer     registers the class, its type library and its interface
//   ElevationService.exe /UnregServer   removes them
//   ElevationService.exe -Embedding     started by COM; serves until its last object is released
#include "ServiceObject.h"

#include "System/Platform.h"

#include <string>

namespace
{

const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{3540DE9F-C4F7-4A44-B371-369C08D0A5B0}";

class CClassFactory : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory))
        {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        return CServiceObject::Create(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

std::wstring ModulePath()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

int Register()
{
    ITypeLib* library = nullptr;
    HRESULT result = ::LoadTypeLibEx(ModulePath().c_str(), REGKIND_REGISTER, &library);
    if (FAILED(result))
        return 2;
    library->Release();

    HKEY key = nullptr;
    const std::wstring server = L"\"" + ModulePath() + L"\"";
    const std::wstring serverKey = std::wstring(kClassKey) + L"\\LocalServer32";
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, serverKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return 3;
    ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                     static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return 0;
}

int Unregister()
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClassKey);
    ::UnRegisterTypeLib(LIBID_OVElevationServiceLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
    ::UnRegisterTypeLib(LIBID_OVElevationServiceLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN32);
    return 0;
}

int Serve()
{
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 4;
    static CClassFactory factory;
    DWORD cookie = 0;
    if (FAILED(::CoRegisterClassObject(CLSID_OVElevationService, &factory, CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &cookie)))
    {
        ::CoUninitialize();
        return 5;
    }
    // Serve while objects live; end after a quiet while without any.
    ULONGLONG idleSince = ::GetTickCount64();
    for (;;)
    {
        ::Sleep(100);
        if (CServiceObject::ObjectCount() > 0)
            idleSince = ::GetTickCount64();
        else if (::GetTickCount64() - idleSince > 5000)
            break;
    }
    ::CoRevokeClassObject(cookie);
    ::CoUninitialize();
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    const std::wstring arguments = commandLine != nullptr ? commandLine : L"";
    if (arguments.find(L"/RegServer") != std::wstring::npos ||
        arguments.find(L"-RegServer") != std::wstring::npos)
        return Register();
    if (arguments.find(L"/UnregServer") != std::wstring::npos ||
        arguments.find(L"-UnregServer") != std::wstring::npos)
        return Unregister();
    return Serve();
}
