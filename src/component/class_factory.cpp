#include "component/class_factory.h"

#include "component/kel_install_system.h"
#include "component/module.h"

namespace kel {

HRESULT CKelInstallSystemFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CKelInstallSystemFactory::AddRef() {
    LockModule();
    return ++refs_;
}

ULONG CKelInstallSystemFactory::Release() {
    UnlockModule();
    return --refs_;
}

HRESULT CKelInstallSystemFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // An aggregating outer object may only ask for the inner IUnknown.
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return CKelInstallSystem::CreateInstance(outer, riid, ppv);
}

HRESULT CKelInstallSystemFactory::LockServer(BOOL lock) {
    if (lock) {
        LockModule();
    } else {
        UnlockModule();
    }
    return S_OK;
}

}  // namespace kel
