// A class registry in memory, for registrar tests on every platform.
#pragma once

#include <map>
#include <string>

#include "platform/registry.h"
#include "support/test_support.h"

namespace kel::test {

class MemoryRegistry final : public RegistryStore {
public:
    struct NoCaseLess {
        bool operator()(const WString& a, const WString& b) const { return CompareNoCase(a, b) < 0; }
    };
    struct Key {
        std::map<WString, WString, NoCaseLess> values;
        std::map<WString, Key, NoCaseLess> subkeys;
    };

    // CreateKey of this path (case-insensitive) fails with failStatus.
    WString failCreate;
    HRESULT failStatus = static_cast<HRESULT>(0x80070005L);  // access denied

    HRESULT CreateKey(RegistryRoot root, WStringView path) override {
        if (!failCreate.empty() && EqualsNoCase(path, failCreate)) return failStatus;
        Key* key = &roots_[root];
        for (const WString& part : Split(path)) key = &key->subkeys[part];
        return S_OK;
    }

    HRESULT SetValue(RegistryRoot root, WStringView path, WStringView name, WStringView data) override {
        Key* key = Find(root, path);
        if (!key) return E_FAIL;
        key->values[WString(name)] = WString(data);
        return S_OK;
    }

    HRESULT DeleteValue(RegistryRoot root, WStringView path, WStringView name) override {
        if (Key* key = Find(root, path)) key->values.erase(WString(name));
        return S_OK;
    }

    HRESULT DeleteTree(RegistryRoot root, WStringView path) override {
        const std::size_t slash = path.rfind(u'\\');
        Key* parent = slash == WStringView::npos ? &roots_[root] : Find(root, path.substr(0, slash));
        if (parent) parent->subkeys.erase(WString(path.substr(slash + 1)));  // npos + 1 is 0
        return S_OK;
    }

    HRESULT CountSubkeys(RegistryRoot root, WStringView path, ULONG& count) override {
        Key* key = Find(root, path);
        if (!key) return S_FALSE;
        count = static_cast<ULONG>(key->subkeys.size());
        return S_OK;
    }

    // One line per key ("<root>\path") and per value ("<root>\path [name]=data"),
    // in case-insensitive order; the default value's name is empty.
    std::string Dump() const {
        std::string out;
        for (const auto& [root, key] : roots_) DumpKey(std::to_string(static_cast<int>(root)), key, out);
        return out;
    }

private:
    static std::vector<WString> Split(WStringView path) {
        std::vector<WString> parts;
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = path.find(u'\\', start);
            parts.emplace_back(path.substr(start, end == WStringView::npos ? WStringView::npos : end - start));
            if (end == WStringView::npos) return parts;
            start = end + 1;
        }
    }

    Key* Find(RegistryRoot root, WStringView path) {
        Key* key = &roots_[root];
        for (const WString& part : Split(path)) {
            auto found = key->subkeys.find(part);
            if (found == key->subkeys.end()) return nullptr;
            key = &found->second;
        }
        return key;
    }

    static void DumpKey(const std::string& path, const Key& key, std::string& out) {
        for (const auto& [name, data] : key.values) out += path + " [" + N(name) + "]=" + N(data) + "\n";
        for (const auto& [name, subkey] : key.subkeys) {
            const std::string child = path + "\\" + N(name);
            out += child + "\n";
            DumpKey(child, subkey, out);
        }
    }

    std::map<RegistryRoot, Key> roots_;
};

}  // namespace kel::test
