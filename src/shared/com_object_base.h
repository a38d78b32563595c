// Reference counting and QueryInterface for the library's own COM-style
// classes, which answer for IUnknown and one interface.
#pragma once

#include <atomic>
#include <new>

#include "KelCom.h"

namespace kel {

template <class Interface, const IID& InterfaceId>
class ComObjectBase : public Interface {
public:
    ComObjectBase(const ComObjectBase&) = delete;
    ComObjectBase& operator=(const ComObjectBase&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, InterfaceId)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    ComObjectBase() = default;
    virtual ~ComObjectBase() = default;

private:
    std::atomic<ULONG> refs_{1};
};

// Runs a method body so that no exception leaves through the interface.
template <class Body>
HRESULT ComGuard(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace kel
