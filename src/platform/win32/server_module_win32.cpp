// The DLL's own path, its registry script resource and its type library.
#include "platform/server_module.h"

#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "platform/raii.h"

namespace kel::os {

namespace {

constexpr int kRegistryScriptId = 103;

HMODULE ServerModule() {
    HMODULE module = nullptr;
    // The module holding this function: the DLL, or the test executable that links the same code.
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ServerModule), &module);
    return module;
}

const wchar_t* W(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

}  // namespace

bool GetServerModulePath(WString& path) {
    HMODULE module = ServerModule();
    if (!module) return false;
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return false;
        if (length < buffer.size()) {
            path.assign(reinterpret_cast<const char16_t*>(buffer.data()), length);
            return true;
        }
        if (buffer.size() >= 32768) return false;
        buffer.resize(buffer.size() * 2);
    }
}

bool LoadRegistryScript(WString& script) {
    HMODULE module = ServerModule();
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(kRegistryScriptId), L"REGISTRY");
    if (!found) return false;
    const DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const auto* bytes = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    if (!bytes) return false;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        script.assign(reinterpret_cast<const char16_t*>(bytes + 2), (size - 2) / 2);
    } else {
        std::string_view text(reinterpret_cast<const char*>(bytes), size);
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        script = FromUtf8(text);
    }
    return true;
}

HRESULT RegisterServerTypeLibrary(WStringView modulePath) {
    const WString path(modulePath);
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(W(path), REGKIND_NONE, library.Put());
    if (FAILED(hr)) return hr;
    return RegisterTypeLib(library.get(), const_cast<LPOLESTR>(W(path)), nullptr);
}

HRESULT UnregisterServerTypeLibrary(WStringView modulePath) {
    const WString path(modulePath);
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(W(path), REGKIND_NONE, library.Put());
    if (FAILED(hr)) return hr;
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (FAILED(hr)) return hr;
    // Nothing registered is what unregistration wants to reach; the status of
    // unregistering a missing library differs between Windows and Wine.
    BSTR registeredPath = nullptr;
    if (SUCCEEDED(QueryPathOfRegTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                        attributes->lcid, &registeredPath))) {
        SysFreeString(registeredPath);
        hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                               attributes->syskind);
    }
    library->ReleaseTLibAttr(attributes);
    return hr;
}

}  // namespace kel::os
