// The component server: its class factory and exported entry points.
#include "component/module.h"

#include <atomic>
#include <mutex>
#include <new>

#include "KelInstallSystem.h"
#include "component/kel_install_system.h"
#include "component/registration.h"
#include "platform/export.h"

namespace kel {

namespace {

std::atomic<long> g_lockCount{0};

class CKelInstallSystemFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Cached for the module's life: the count only guards against misuse.
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refCount; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_refCount; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        // An aggregating outer object may only ask for the inner IUnknown.
        if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        auto* object = new (std::nothrow) CKelInstallSystem(outer);
        if (!object) return E_OUTOFMEMORY;
        IUnknown* inner = object->NonDelegatingUnknown();
        inner->AddRef();  // keeps the object alive while it is set up
        HRESULT hr = object->FinalConstruct();
        if (SUCCEEDED(hr)) hr = inner->QueryInterface(riid, ppv);
        inner->Release();  // destroys it when nothing took a reference
        return hr;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            LockModule();
        } else {
            UnlockModule();
        }
        return S_OK;
    }

private:
    std::atomic<ULONG> m_refCount{1};
};

std::mutex g_factoryLock;
CKelInstallSystemFactory* g_factory = nullptr;

}  // namespace

void LockModule() { ++g_lockCount; }
void UnlockModule() { --g_lockCount; }
long ModuleLockCount() { return g_lockCount; }

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_KelInstallSystem)) return CLASS_E_CLASSNOTAVAILABLE;
    CKelInstallSystemFactory* factory;
    {
        std::lock_guard<std::mutex> lock(g_factoryLock);
        if (!g_factory) g_factory = new (std::nothrow) CKelInstallSystemFactory();
        factory = g_factory;
    }
    if (!factory) return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);
}

HRESULT CanUnloadNow() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

}  // namespace kel

extern "C" {

KEL_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return kel::GetClassObject(rclsid, riid, ppv);
}

KEL_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow() { return kel::CanUnloadNow(); }

KEL_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer() { return kel::RegisterServer(); }

KEL_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer() { return kel::UnregisterServer(); }
}
