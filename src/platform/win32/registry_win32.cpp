// The class registry through the Win32 registry API.
#include "platform/registry.h"

#include <windows.h>

#include <utility>

namespace kel {

namespace {

HKEY RootKey(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
        case RegistryRoot::CurrentUser: return HKEY_CURRENT_USER;
        case RegistryRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
        case RegistryRoot::Users: return HKEY_USERS;
        case RegistryRoot::PerformanceData: return HKEY_PERFORMANCE_DATA;
        case RegistryRoot::DynData: return HKEY_DYN_DATA;
        case RegistryRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
    }
    return HKEY_CLASSES_ROOT;
}

class UniqueKey {
public:
    UniqueKey() = default;
    ~UniqueKey() {
        if (key_) RegCloseKey(key_);
    }
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;
    HKEY get() const { return key_; }
    HKEY* Put() { return &key_; }

private:
    HKEY key_ = nullptr;
};

const wchar_t* W(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

bool IsMissing(LONG error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

class Win32Registry final : public RegistryStore {
public:
    HRESULT CreateKey(RegistryRoot root, WStringView path) override {
        UniqueKey key;
        return HRESULT_FROM_WIN32(RegCreateKeyExW(RootKey(root), W(WString(path)), 0, nullptr,
                                                  REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.Put(), nullptr));
    }

    HRESULT SetValue(RegistryRoot root, WStringView path, WStringView name, WStringView data) override {
        UniqueKey key;
        const LONG opened = RegOpenKeyExW(RootKey(root), W(WString(path)), 0, KEY_SET_VALUE, key.Put());
        if (opened != ERROR_SUCCESS) return HRESULT_FROM_WIN32(opened);
        const WString valueName(name);
        const WString text(data);
        const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
        return HRESULT_FROM_WIN32(RegSetValueExW(key.get(), valueName.empty() ? nullptr : W(valueName), 0, REG_SZ,
                                                 reinterpret_cast<const BYTE*>(text.c_str()), bytes));
    }

    HRESULT DeleteValue(RegistryRoot root, WStringView path, WStringView name) override {
        UniqueKey key;
        const LONG opened = RegOpenKeyExW(RootKey(root), W(WString(path)), 0, KEY_SET_VALUE, key.Put());
        if (IsMissing(opened)) return S_OK;
        if (opened != ERROR_SUCCESS) return HRESULT_FROM_WIN32(opened);
        const WString valueName(name);
        const LONG deleted = RegDeleteValueW(key.get(), valueName.empty() ? nullptr : W(valueName));
        return IsMissing(deleted) ? S_OK : HRESULT_FROM_WIN32(deleted);
    }

    HRESULT DeleteTree(RegistryRoot root, WStringView path) override {
        const LONG deleted = RegDeleteTreeW(RootKey(root), W(WString(path)));
        return IsMissing(deleted) ? S_OK : HRESULT_FROM_WIN32(deleted);
    }

    HRESULT CountSubkeys(RegistryRoot root, WStringView path, ULONG& count) override {
        UniqueKey key;
        const LONG opened = RegOpenKeyExW(RootKey(root), W(WString(path)), 0, KEY_READ, key.Put());
        if (IsMissing(opened)) return S_FALSE;
        if (opened != ERROR_SUCCESS) return HRESULT_FROM_WIN32(opened);
        DWORD subkeys = 0;
        const LONG queried = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr);
        if (queried != ERROR_SUCCESS) return HRESULT_FROM_WIN32(queried);
        count = subkeys;
        return S_OK;
    }
};

}  // namespace

std::unique_ptr<RegistryStore> os::OpenSystemRegistry() { return std::make_unique<Win32Registry>(); }

}  // namespace kel
