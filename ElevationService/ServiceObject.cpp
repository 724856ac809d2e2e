#include "ServiceObject.h"

#include "System/Win32/HandleHolder.h"

#include <shellapi.h>

#include <string>

namespace
{

LONG g_Objects = 0;

// The service's own switch for tests: 1 makes every launch fail, 2 makes it succeed without a handle.
DWORD ReadTestMode()
{
    DWORD mode = 0;
    DWORD size = sizeof(mode);
    ::RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Orvane\\Debugging", L"ElevationServiceMode",
                   RRF_RT_REG_DWORD, nullptr, &mode, &size);
    return mode;
}

std::wstring Unquote(const wchar_t* text)
{
    std::wstring value = text != nullptr ? text : L"";
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"')
        value = value.substr(1, value.size() - 2);
    return value;
}

} // namespace

HRESULT CServiceObject::Create(REFIID iid, void** object)
{
    CServiceObject* created = new CServiceObject();
    ::InterlockedIncrement(&g_Objects);
    const HRESULT result = created->QueryInterface(iid, object);
    created->Release();
    return result;
}

CServiceObject::~CServiceObject()
{
    if (m_TypeInfo != nullptr)
        m_TypeInfo->Release();
    ::InterlockedDecrement(&g_Objects);
}

LONG CServiceObject::ObjectCount()
{
    return g_Objects;
}

HRESULT CServiceObject::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IOVElevationService))
    {
        *object = static_cast<IOVElevationService*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CServiceObject::AddRef()
{
    return static_cast<ULONG>(::InterlockedIncrement(&m_References));
}

ULONG CServiceObject::Release()
{
    const LONG remaining = ::InterlockedDecrement(&m_References);
    if (remaining == 0)
        delete this;
    return static_cast<ULONG>(remaining);
}

HRESULT CServiceObject::LoadTypeInfo()
{
    if (m_TypeInfo != nullptr)
        return S_OK;
    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    ITypeLib* library = nullptr;
    HRESULT result = ::LoadTypeLibEx(module, REGKIND_NONE, &library);
    if (FAILED(result))
        return result;
    result = library->GetTypeInfoOfGuid(IID_IOVElevationService, &m_TypeInfo);
    library->Release();
    return result;
}

HRESULT CServiceObject::GetTypeInfoCount(UINT* count)
{
    *count = 1;
    return S_OK;
}

HRESULT CServiceObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info)
{
    if (index != 0)
        return DISP_E_BADINDEX;
    const HRESULT result = LoadTypeInfo();
    if (FAILED(result))
        return result;
    m_TypeInfo->AddRef();
    *info = m_TypeInfo;
    return S_OK;
}

HRESULT CServiceObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    const HRESULT result = LoadTypeInfo();
    return FAILED(result) ? result : m_TypeInfo->GetIDsOfNames(names, count, ids);
}

HRESULT CServiceObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                               EXCEPINFO* exception, UINT* argumentError)
{
    const HRESULT loaded = LoadTypeInfo();
    if (FAILED(loaded))
        return loaded;
    return m_TypeInfo->Invoke(static_cast<IOVElevationService*>(this), id, flags, parameters, result,
                              exception, argumentError);
}

HRESULT CServiceObject::LaunchProcess(ULONG callerPid, BSTR file, BSTR parameters, BSTR folder, ULONG, ULONG,
                                      ULONG* processHandle, ULONG* secondHandle)
{
    if (processHandle == nullptr || secondHandle == nullptr)
        return E_POINTER;
    *processHandle = 0;
    *secondHandle = 0;
    const DWORD mode = ReadTestMode();
    if (mode == 1)
        return E_FAIL;
    if (mode == 2)
        return S_OK;

    OV::System::Win32::CHandleHolder caller(::OpenProcess(PROCESS_DUP_HANDLE, FALSE, callerPid));
    if (!caller)
        return HRESULT_FROM_WIN32(::GetLastError());

    const std::wstring path = Unquote(file);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpFile = path.c_str();
    info.lpParameters = parameters;
    info.lpDirectory = folder;
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info) || info.hProcess == nullptr)
        return HRESULT_FROM_WIN32(::GetLastError());
    OV::System::Win32::CHandleHolder started(info.hProcess);

    // The handle must be valid in the caller's process, not ours. Handle values fit in 32 bits.
    HANDLE duplicate = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), started.Get(), caller.Get(), &duplicate,
                           SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0))
        return HRESULT_FROM_WIN32(::GetLastError());
    *processHandle = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(duplicate));
    return S_OK;
}
