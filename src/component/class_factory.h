// The class factory of KelInstallSystem objects.
#pragma once

#include <atomic>

#include "KelInstallSystem.h"

namespace kel {

// One cached instance lives as long as the module; references that clients
// hold on it lock the module instead of owning the object.
class CKelInstallSystemFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    std::atomic<ULONG> refs_{0};
};

}  // namespace kel
