#include "component/module.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <new>

#include "component/class_factory.h"
#include "platform/export.h"
#include "platform/registry.h"
#include "platform/server_module.h"
#include "platform/trace.h"

#if defined(_WIN32)
#define KEL_ENTRY_POINT STDAPI
#else
#define KEL_ENTRY_POINT extern "C" KEL_EXPORT HRESULT
#endif

namespace kel {

namespace {

constexpr char16_t kModule[] = u"KelInstallSystemImpl";

std::atomic<long> g_lockCount{0};

std::mutex g_factoryLock;
std::unique_ptr<CKelInstallSystemFactory> g_factory;

HRESULT Refuse(HRESULT status, WStringView message) {
    Trace(kModule, u"CKelInstallSystemModule::UpdateRegistry: " + WString(message));
    return status;
}

}  // namespace

void LockModule() { ++g_lockCount; }
void UnlockModule() { --g_lockCount; }
long ModuleLockCount() { return g_lockCount.load(); }

HRESULT UpdateServerRegistration(RegistrarAction action) {
    try {
        WString script;
        if (!os::LoadRegistryScript(script)) return Refuse(E_FAIL, u"The registry script resource is missing\n");
        WString modulePath;
        if (!os::GetServerModulePath(modulePath)) return Refuse(E_FAIL, u"The module path is unknown\n");
        RegistryScript parsed;
        HRESULT hr = CRegistrar::Parse(script, {{u"MODULE", modulePath}}, parsed);
        if (FAILED(hr)) return hr;
        const auto registry = os::OpenSystemRegistry();
        if (!registry) return S_OK;  // nowhere to write: the check is all there is
        if (action == RegistrarAction::Register) {
            hr = CRegistrar::Apply(parsed, *registry, action);
            if (FAILED(hr)) return hr;
            hr = os::RegisterServerTypeLibrary(modulePath);
            if (FAILED(hr)) return Refuse(hr, Format(u"Registering the type library failed (0x%x)\n", hr));
        } else {
            hr = CRegistrar::Apply(parsed, *registry, action);
            if (FAILED(hr)) return hr;
            hr = os::UnregisterServerTypeLibrary(modulePath);
            if (FAILED(hr)) return Refuse(hr, Format(u"Unregistering the type library failed (0x%x)\n", hr));
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace kel

KEL_ENTRY_POINT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_KelInstallSystem)) return CLASS_E_CLASSNOTAVAILABLE;
    try {
        kel::CKelInstallSystemFactory* factory;
        {
            std::lock_guard<std::mutex> lock(kel::g_factoryLock);
            if (!kel::g_factory) kel::g_factory.reset(new (std::nothrow) kel::CKelInstallSystemFactory);
            if (!kel::g_factory) return E_OUTOFMEMORY;
            factory = kel::g_factory.get();
        }
        return factory->QueryInterface(riid, ppv);
    } catch (...) {
        return E_UNEXPECTED;  // only a failing mutex can get here
    }
}

KEL_ENTRY_POINT DllCanUnloadNow() { return kel::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

KEL_ENTRY_POINT DllRegisterServer() { return kel::UpdateServerRegistration(kel::RegistrarAction::Register); }

KEL_ENTRY_POINT DllUnregisterServer() { return kel::UpdateServerRegistration(kel::RegistrarAction::Unregister); }
