#include "shared/outside_factory.h"

#include <mutex>
#include <optional>
#include <vector>

namespace kel {

namespace {

struct Failure {
    CLSID clsid;
    HRESULT hr;
    OutsideCreator creator;  // set: a replacement, not a failure
};

std::mutex g_failuresMutex;
std::vector<Failure> g_failures;

const Failure* Injected(REFCLSID clsid) {
    for (const Failure& failure : g_failures) {
        if (IsEqualCLSID(failure.clsid, clsid)) return &failure;
    }
    return nullptr;
}

void Inject(const Failure& injected) {
    const std::lock_guard<std::mutex> lock(g_failuresMutex);
    for (Failure& failure : g_failures) {
        if (IsEqualCLSID(failure.clsid, injected.clsid)) {
            failure = injected;
            return;
        }
    }
    g_failures.push_back(injected);
}

}  // namespace

HRESULT CreateOutsideComponent(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::optional<Failure> injected;
    {
        const std::lock_guard<std::mutex> lock(g_failuresMutex);
        if (const Failure* found = Injected(clsid)) injected = *found;
    }
    if (injected) return injected->creator ? injected->creator(iid, out) : injected->hr;
    if (IsEqualCLSID(clsid, CLSID_KelInstallMedia)) return CreateMediaComponent(iid, out);
    if (IsEqualCLSID(clsid, CLSID_KelInstallSystemOptions)) return CreateSystemOptionsComponent(iid, out);
    if (IsEqualCLSID(clsid, CLSID_KelInstallInternal)) return CreateInternalComponent(iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

void SetOutsideCreationFailure(REFCLSID clsid, HRESULT hr) { Inject({clsid, hr, nullptr}); }

void SetOutsideCreator(REFCLSID clsid, OutsideCreator creator) { Inject({clsid, S_OK, creator}); }

void ClearOutsideCreationFailures() {
    const std::lock_guard<std::mutex> lock(g_failuresMutex);
    g_failures.clear();
}

}  // namespace kel
