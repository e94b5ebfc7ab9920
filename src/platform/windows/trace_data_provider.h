#pragma once
// The performance logs' trace data provider collection and its providers (COM,
// pla.dll). mingw-w64's pla.h lacks both interfaces, so they are declared here
// in their published vtable order; a slot out of place would call the wrong
// method, so the order must not change.

#include <windows.h>

#include <oaidl.h>

namespace tallowick::platform::windows {

// Only passed by pointer through methods this program never calls.
struct IValueMap;

struct ITraceDataProvider : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_DisplayName(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DisplayName(BSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Guid(GUID* guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Guid(GUID guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Level(IValueMap** level) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_KeywordsAny(IValueMap** keywords) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_KeywordsAll(IValueMap** keywords) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Properties(IValueMap** properties) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FilterEnabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_FilterEnabled(VARIANT_BOOL enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FilterType(ULONG* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_FilterType(ULONG type) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FilterData(SAFEARRAY** data) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_FilterData(SAFEARRAY* data) = 0;
    virtual HRESULT STDMETHODCALLTYPE Query(BSTR name, BSTR server) = 0;
    virtual HRESULT STDMETHODCALLTYPE Resolve(IDispatch* from) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSecurity(BSTR sddl) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSecurity(ULONG information, BSTR* sddl) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRegisteredProcesses(IValueMap** processes) = 0;
};

struct ITraceDataProviderCollection : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Count(long* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, ITraceDataProvider** provider) = 0;
    virtual HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** enumerator) = 0;
    virtual HRESULT STDMETHODCALLTYPE Add(ITraceDataProvider* provider) = 0;
    virtual HRESULT STDMETHODCALLTYPE Remove(VARIANT index) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddRange(ITraceDataProviderCollection* providers) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateTraceDataProvider(ITraceDataProvider** provider) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTraceDataProviders(BSTR server) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTraceDataProvidersByProcess(BSTR server, ULONG pid) = 0;
};

} // namespace tallowick::platform::windows
