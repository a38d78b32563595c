// The class registry as the registrar sees it: keys addressed by a root and a
// backslash-separated path, string values only.
#pragma once

#include <memory>

#include "KelCom.h"
#include "platform/text.h"

namespace kel {

enum class RegistryRoot {
    ClassesRoot,
    CurrentUser,
    LocalMachine,
    Users,
    PerformanceData,
    DynData,
    CurrentConfig,
};

class RegistryStore {
public:
    virtual ~RegistryStore() = default;

    // Opens or creates the key, with any missing parents.
    virtual HRESULT CreateKey(RegistryRoot root, WStringView path) = 0;
    // An empty name is the key's default value. The key must exist.
    virtual HRESULT SetValue(RegistryRoot root, WStringView path, WStringView name, WStringView data) = 0;
    // Missing keys and values count as deleted.
    virtual HRESULT DeleteValue(RegistryRoot root, WStringView path, WStringView name) = 0;
    // Deletes the key with everything below it; a missing key counts as deleted.
    virtual HRESULT DeleteTree(RegistryRoot root, WStringView path) = 0;
    // S_OK and the number of direct subkeys, or S_FALSE when the key is missing.
    virtual HRESULT CountSubkeys(RegistryRoot root, WStringView path, ULONG& count) = 0;
};

namespace os {
// The machine's class registry; null where the platform has none.
std::unique_ptr<RegistryStore> OpenSystemRegistry();
}  // namespace os

}  // namespace kel
