#include "shared/outside_factory.h"

#include <mutex>
#include <vector>

namespace kel {

namespace {

struct Failure {
    CLSID clsid;
    HRESULT hr;
};

std::mutex g_failuresMutex;
std::vector<Failure> g_failures;

bool InjectedFailure(REFCLSID clsid, HRESULT& hr) {
    const std::lock_guard<std::mutex> lock(g_failuresMutex);
    for (const Failure& failure : g_failures) {
        if (IsEqualCLSID(failure.clsid, clsid)) {
            hr = failure.hr;
            return true;
        }
    }
    return false;
}

}  // namespace

HRESULT CreateOutsideComponent(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT injected = S_OK;
    if (InjectedFailure(clsid, injected)) return injected;
    if (IsEqualCLSID(clsid, CLSID_KelInstallMedia)) return CreateMediaComponent(iid, out);
    if (IsEqualCLSID(clsid, CLSID_KelInstallSystemOptions)) return CreateSystemOptionsComponent(iid, out);
    if (IsEqualCLSID(clsid, CLSID_KelInstallInternal)) return CreateInternalComponent(iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

void SetOutsideCreationFailure(REFCLSID clsid, HRESULT hr) {
    const std::lock_guard<std::mutex> lock(g_failuresMutex);
    for (Failure& failure : g_failures) {
        if (IsEqualCLSID(failure.clsid, clsid)) {
            failure.hr = hr;
            return;
        }
    }
    g_failures.push_back({clsid, hr});
}

void ClearOutsideCreationFailures() {
    const std::lock_guard<std::mutex> lock(g_failuresMutex);
    g_failures.clear();
}

}  // namespace kel
