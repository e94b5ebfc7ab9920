#include "e2e/harness/provider_collection.h"

#include "e2e/harness/harness_machine.h"
#include "platform/windows/trace_data_provider.h"
#include "platform/windows_facts.h"

#include <oleauto.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace tallowick::testing::harness {
namespace {
using platform::windows::ITraceDataProvider;
using platform::windows::ITraceDataProviderCollection;
using platform::windows::IValueMap;

using platform::clsid_trace_data_provider_collection;
using platform::iid_trace_data_provider;
using platform::iid_trace_data_provider_collection;

// IUnknown and IDispatch for an object of interface `Interface`, which owns
// one object of the simulated catalog and releases it with its last reference.
template <typename Interface> class catalog_object : public Interface {
  public:
    catalog_object(const GUID& iid, void* inner) : iid_(iid), inner_(inner) {}
    virtual ~catalog_object() { machine_tracing().release(inner_); }
    catalog_object(const catalog_object&) = delete;
    catalog_object& operator=(const catalog_object&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IDispatch) && !IsEqualGUID(iid, iid_))
            return E_NOINTERFACE;
        AddRef();
        *object = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

  protected:
    void* inner() const { return inner_; }

  private:
    const GUID iid_;
    void* const inner_;
    std::atomic<ULONG> references_{1};
};

// Ownership passes to the object's COM reference count.
template <typename Object> Object* hand_out(void* inner) {
    return std::make_unique<Object>(inner).release();
}

class provider_object final : public catalog_object<ITraceDataProvider> {
  public:
    explicit provider_object(void* inner) : catalog_object(iid_trace_data_provider, inner) {}

    HRESULT STDMETHODCALLTYPE get_DisplayName(BSTR* name) override {
        if (name == nullptr)
            return E_POINTER;
        *name = nullptr;
        std::optional<std::u16string> text;
        const HRESULT status = machine_tracing().get_display_name(inner(), text);
        if (SUCCEEDED(status) && text) {
            const std::wstring wide(text->begin(), text->end());
            *name = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
            if (*name == nullptr)
                return E_OUTOFMEMORY;
        }
        return status;
    }
    HRESULT STDMETHODCALLTYPE get_Guid(GUID* guid) override {
        return machine_tracing().get_guid(inner(), guid);
    }

    HRESULT STDMETHODCALLTYPE put_DisplayName(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Guid(GUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Level(IValueMap**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_KeywordsAny(IValueMap**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_KeywordsAll(IValueMap**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Properties(IValueMap**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FilterEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_FilterEnabled(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FilterType(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_FilterType(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FilterData(SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_FilterData(SAFEARRAY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Query(BSTR, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resolve(IDispatch*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSecurity(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSecurity(ULONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRegisteredProcesses(IValueMap**) override { return E_NOTIMPL; }
};

class collection_object final : public catalog_object<ITraceDataProviderCollection> {
  public:
    explicit collection_object(void* inner) : catalog_object(iid_trace_data_provider_collection, inner) {}

    HRESULT STDMETHODCALLTYPE get_Count(long* count) override {
        if (count == nullptr)
            return E_POINTER;
        std::int32_t value = 0;
        const HRESULT status = machine_tracing().get_count(inner(), &value);
        *count = value;
        return status;
    }
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, ITraceDataProvider** provider) override {
        if (provider == nullptr)
            return E_POINTER;
        *provider = nullptr;
        // Any integer VARIANT, as the collection's own Item accepts.
        VARIANT position;
        VariantInit(&position);
        if (FAILED(VariantChangeType(&position, &index, 0, VT_UI4)))
            return E_INVALIDARG;
        void* item = nullptr;
        const HRESULT status = machine_tracing().get_item(inner(), V_UI4(&position), &item);
        if (SUCCEEDED(status))
            *provider = hand_out<provider_object>(item);
        return status;
    }
    HRESULT STDMETHODCALLTYPE GetTraceDataProviders(BSTR server) override {
        const std::u16string name =
            server == nullptr ? std::u16string() : std::u16string(server, server + SysStringLen(server));
        return machine_tracing().get_trace_data_providers(inner(),
                                                          server == nullptr ? nullptr : name.c_str());
    }

    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Add(ITraceDataProvider*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Remove(VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clear() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddRange(ITraceDataProviderCollection*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateTraceDataProvider(ITraceDataProvider**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTraceDataProvidersByProcess(BSTR, ULONG) override { return E_NOTIMPL; }
};
} // namespace

bool is_provider_collection(REFCLSID clsid) {
    return IsEqualGUID(clsid, clsid_trace_data_provider_collection);
}

HRESULT create_provider_collection(REFCLSID clsid, LPUNKNOWN outer, DWORD class_context, REFIID iid,
                                   LPVOID* object) {
    void* inner = nullptr;
    const HRESULT status = machine_tracing().co_create_instance(clsid, outer, class_context, iid, &inner);
    if (object != nullptr)
        *object = SUCCEEDED(status)
                      ? static_cast<ITraceDataProviderCollection*>(hand_out<collection_object>(inner))
                      : nullptr;
    return status;
}

} // namespace tallowick::testing::harness
