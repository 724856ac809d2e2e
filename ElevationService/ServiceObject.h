#pragma once

#include "System/Platform.h"
#include "System/Win32/ComPtr.h"

#include <ElevationService_h.h>

// The one class of the elevation service: starts a program for its caller.
class CServiceObject : public IOVElevationService
{
public:
    static HRESULT Create(REFIID iid, void** object);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch, served from the type library
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // IOVElevationService
    HRESULT STDMETHODCALLTYPE LaunchProcess(ULONG callerPid, BSTR file, BSTR parameters, BSTR folder,
                                            ULONG reserved1, ULONG reserved2, ULONG* processHandle,
                                            ULONG* secondHandle) override;

    static LONG ObjectCount();

private:
    CServiceObject() = default;
    virtual ~CServiceObject();
    HRESULT LoadTypeInfo();

    LONG m_References = 1;
    OV::System::Win32::CComPtr<ITypeInfo> m_TypeInfo;
};
