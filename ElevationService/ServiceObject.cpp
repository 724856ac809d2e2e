#include "ServiceObject.h"

#include "Launcher.h"

#include "System/Win32/ComPtr.h"

namespace
{

LONG g_Objects = 0;

} // namespace

HRESULT CServiceObject::Create(REFIID iid, void** object)
{
    // The caller's reference comes from QueryInterface; the one made here goes when created does.
    const OV::System::Win32::CComPtr<CServiceObject> created(new CServiceObject());
    ::InterlockedIncrement(&g_Objects);
    return created.Get()->QueryInterface(iid, object);
}

CServiceObject::~CServiceObject()
{
    // The type information goes before the object stops counting as alive.
    m_TypeInfo.Reset();
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
    if (m_TypeInfo)
        return S_OK;
    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    OV::System::Win32::CComPtr<ITypeLib> library;
    const HRESULT result = ::LoadTypeLibEx(module, REGKIND_NONE, library.Put());
    if (FAILED(result))
        return result;
    return library.Get()->GetTypeInfoOfGuid(IID_IOVElevationService, m_TypeInfo.Put());
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
    m_TypeInfo.Get()->AddRef();
    *info = m_TypeInfo.Get();
    return S_OK;
}

HRESULT CServiceObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    const HRESULT result = LoadTypeInfo();
    return FAILED(result) ? result : m_TypeInfo.Get()->GetIDsOfNames(names, count, ids);
}

HRESULT CServiceObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                               EXCEPINFO* exception, UINT* argumentError)
{
    const HRESULT loaded = LoadTypeInfo();
    if (FAILED(loaded))
        return loaded;
    return m_TypeInfo.Get()->Invoke(static_cast<IOVElevationService*>(this), id, flags, parameters, result,
                                    exception, argumentError);
}

HRESULT CServiceObject::LaunchProcess(ULONG callerPid, BSTR file, BSTR parameters, BSTR, ULONG, ULONG,
                                      ULONG* processHandle, ULONG* secondHandle)
{
    if (processHandle == nullptr || secondHandle == nullptr)
        return E_POINTER;
    *processHandle = 0;
    *secondHandle = 0;
    return OV::ElevationService::CLauncher::Instance().Launch(callerPid, file, parameters, processHandle);
}
