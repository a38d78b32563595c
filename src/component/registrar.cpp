#include "component/registrar.h"

#include <array>

#include "platform/trace.h"

namespace kel {

namespace {

constexpr char16_t kModule[] = u"KelInstallSystemImpl";

struct RootName {
    const char16_t* name;
    RegistryRoot root;
};

constexpr std::array<RootName, 13> kRootNames = {{
    {u"HKCR", RegistryRoot::ClassesRoot},
    {u"HKCU", RegistryRoot::CurrentUser},
    {u"HKLM", RegistryRoot::LocalMachine},
    {u"HKPD", RegistryRoot::PerformanceData},
    {u"HKDD", RegistryRoot::DynData},
    {u"HKCC", RegistryRoot::CurrentConfig},
    {u"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot},
    {u"HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
    {u"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
    {u"HKEY_USERS", RegistryRoot::Users},
    {u"HKEY_PERFORMANCE_DATA", RegistryRoot::PerformanceData},
    {u"HKEY_DYN_DATA", RegistryRoot::DynData},
    {u"HKEY_CURRENT_CONFIG", RegistryRoot::CurrentConfig},
}};

struct Token {
    enum class Kind { Word, Quoted, Equals, Open, Close, End };
    Kind kind = Kind::End;
    WString text;
    int line = 1;
};

// A syntax error unwinds the recursive parse; it never leaves Parse.
struct SyntaxError {
    WString message;
    int line;
};

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xFEFF; }

class Parser {
public:
    Parser(WStringView text, const RegistrarVariables& variables) : text_(text), variables_(variables) { Advance(); }

    void ParseScript(RegistryScript& script) {
        while (token_.kind != Token::Kind::End) {
            if (token_.kind != Token::Kind::Word) Fail(u"a root key name expected");
            RegistryScriptRoot root;
            root.root = RootFromName(token_.text);
            Advance();
            Expect(Token::Kind::Open, u"'{' expected after the root key");
            while (token_.kind != Token::Kind::Close) {
                if (token_.kind == Token::Kind::End) Fail(u"'}' missing");
                if (IsKeyword(u"val")) Fail(u"values cannot sit directly under a root key");
                root.keys.push_back(ParseKey());
            }
            Advance();
            script.roots.push_back(std::move(root));
        }
    }

private:
    [[noreturn]] void Fail(WStringView message) const { throw SyntaxError{WString(message), token_.line}; }

    bool IsKeyword(const char16_t* keyword) const {
        return token_.kind == Token::Kind::Word && EqualsNoCase(token_.text, keyword);
    }

    void Expect(Token::Kind kind, WStringView message) {
        if (token_.kind != kind) Fail(message);
        Advance();
    }

    RegistryRoot RootFromName(WStringView name) const {
        for (const auto& entry : kRootNames) {
            if (EqualsNoCase(name, entry.name)) return entry.root;
        }
        Fail(u"unknown root key " + WString(name));
    }

    WString ParseName() {
        if (token_.kind != Token::Kind::Word && token_.kind != Token::Kind::Quoted) Fail(u"a key name expected");
        if (token_.text.empty()) Fail(u"empty key name");
        if (token_.text.find(u'\\') != WString::npos) Fail(u"a key name cannot hold a backslash");
        WString name = std::move(token_.text);
        Advance();
        return name;
    }

    // "= s 'text'"
    WString ParseStringValue() {
        Expect(Token::Kind::Equals, u"'=' expected");
        if (!IsKeyword(u"s")) Fail(u"only string values (type s) are supported");
        Advance();
        if (token_.kind != Token::Kind::Quoted) Fail(u"a quoted value expected");
        WString data = std::move(token_.text);
        Advance();
        return data;
    }

    RegistryScriptKey ParseKey() {
        RegistryScriptKey key;
        bool modified = false;
        for (;;) {
            RegistryScriptKey::Mode mode;
            if (IsKeyword(u"NoRemove")) {
                mode = RegistryScriptKey::Mode::NoRemove;
            } else if (IsKeyword(u"ForceRemove")) {
                mode = RegistryScriptKey::Mode::ForceRemove;
            } else if (IsKeyword(u"Delete")) {
                mode = RegistryScriptKey::Mode::Delete;
            } else {
                break;
            }
            if (modified) Fail(u"only one of NoRemove, ForceRemove and Delete per key");
            modified = true;
            key.mode = mode;
            Advance();
        }
        key.name = ParseName();
        if (token_.kind == Token::Kind::Equals) {
            key.defaultValue = ParseStringValue();
            key.hasDefault = true;
        }
        if (token_.kind == Token::Kind::Open) {
            Advance();
            while (token_.kind != Token::Kind::Close) {
                if (token_.kind == Token::Kind::End) Fail(u"'}' missing");
                if (IsKeyword(u"val")) {
                    Advance();
                    RegistryScriptValue value;
                    if (token_.kind != Token::Kind::Word && token_.kind != Token::Kind::Quoted) {
                        Fail(u"a value name expected");
                    }
                    value.name = std::move(token_.text);
                    Advance();
                    value.data = ParseStringValue();
                    key.values.push_back(std::move(value));
                } else {
                    key.subkeys.push_back(ParseKey());
                }
            }
            Advance();
        }
        if (key.mode == RegistryScriptKey::Mode::Delete &&
            (key.hasDefault || !key.values.empty() || !key.subkeys.empty())) {
            Fail(u"a Delete key takes no value and no subkeys");
        }
        return key;
    }

    // Replaces %NAME% at text_[pos_] (pos_ on the first '%').
    void Substitute(WString& out) {
        const std::size_t end = text_.find(u'%', pos_ + 1);
        if (end == WStringView::npos) Fail(u"unterminated %variable%");
        const WStringView name = text_.substr(pos_ + 1, end - pos_ - 1);
        pos_ = end + 1;
        if (name.empty()) {
            out.push_back(u'%');
            return;
        }
        for (const auto& [variable, value] : variables_) {
            if (EqualsNoCase(variable, name)) {
                out += value;
                return;
            }
        }
        Fail(u"unknown variable %" + WString(name) + u"%");
    }

    void Advance() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) {
            if (text_[pos_] == u'\n') ++line_;
            ++pos_;
        }
        token_ = Token();
        token_.line = line_;
        if (pos_ == text_.size()) return;
        const char16_t c = text_[pos_];
        if (c == u'=') {
            token_.kind = Token::Kind::Equals;
            ++pos_;
            return;
        }
        if (c == u'\'') {
            token_.kind = Token::Kind::Quoted;
            ++pos_;
            for (;;) {
                if (pos_ == text_.size()) Fail(u"unterminated quoted text");
                const char16_t q = text_[pos_];
                if (q == u'\'') {
                    if (pos_ + 1 < text_.size() && text_[pos_ + 1] == u'\'') {
                        token_.text.push_back(u'\'');
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    return;
                }
                if (q == u'%') {
                    Substitute(token_.text);
                    continue;
                }
                if (q == u'\n') ++line_;
                token_.text.push_back(q);
                ++pos_;
            }
        }
        token_.kind = Token::Kind::Word;
        while (pos_ < text_.size() && !IsSpace(text_[pos_]) && text_[pos_] != u'=' && text_[pos_] != u'\'') {
            if (text_[pos_] == u'%') {
                Substitute(token_.text);
            } else {
                token_.text.push_back(text_[pos_++]);
            }
        }
        // A brace is a block only when it stands alone; "{GUID}" is a name.
        if (token_.text == u"{") token_.kind = Token::Kind::Open;
        if (token_.text == u"}") token_.kind = Token::Kind::Close;
    }

    WStringView text_;
    const RegistrarVariables& variables_;
    std::size_t pos_ = 0;
    int line_ = 1;
    Token token_;
};

HRESULT Failed(HRESULT status, const char16_t* what, WStringView path) {
    Trace(kModule, Format(u"CRegistrar::Apply: cannot %s %s (0x%x)\n", what, path, status));
    return status;
}

HRESULT Register(RegistryStore& registry, RegistryRoot root, const WString& path, const RegistryScriptKey& key) {
    using Mode = RegistryScriptKey::Mode;
    if (key.mode == Mode::Delete || key.mode == Mode::ForceRemove) {
        const HRESULT hr = registry.DeleteTree(root, path);
        if (FAILED(hr)) return Failed(hr, u"delete", path);
        if (key.mode == Mode::Delete) return S_OK;
    }
    HRESULT hr = registry.CreateKey(root, path);
    if (FAILED(hr)) return Failed(hr, u"create", path);
    if (key.hasDefault) {
        hr = registry.SetValue(root, path, u"", key.defaultValue);
        if (FAILED(hr)) return Failed(hr, u"set the default value of", path);
    }
    for (const auto& value : key.values) {
        hr = registry.SetValue(root, path, value.name, value.data);
        if (FAILED(hr)) return Failed(hr, u"set a value of", path);
    }
    for (const auto& subkey : key.subkeys) {
        hr = Register(registry, root, path + u"\\" + subkey.name, subkey);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT Unregister(RegistryStore& registry, RegistryRoot root, const WString& path, const RegistryScriptKey& key) {
    using Mode = RegistryScriptKey::Mode;
    if (key.mode == Mode::Delete) return S_OK;
    if (key.mode == Mode::ForceRemove) {
        const HRESULT hr = registry.DeleteTree(root, path);
        return FAILED(hr) ? Failed(hr, u"delete", path) : S_OK;
    }
    ULONG subkeys = 0;
    HRESULT hr = registry.CountSubkeys(root, path, subkeys);
    if (hr == S_FALSE) return S_OK;
    if (FAILED(hr)) return Failed(hr, u"open", path);
    for (const auto& subkey : key.subkeys) {
        hr = Unregister(registry, root, path + u"\\" + subkey.name, subkey);
        if (FAILED(hr)) return hr;
    }
    for (const auto& value : key.values) {
        hr = registry.DeleteValue(root, path, value.name);
        if (FAILED(hr)) return Failed(hr, u"delete a value of", path);
    }
    if (key.mode == Mode::NoRemove) return S_OK;
    // Keys that others have added below ours keep it alive.
    hr = registry.CountSubkeys(root, path, subkeys);
    if (FAILED(hr)) return Failed(hr, u"open", path);
    if (hr == S_FALSE || subkeys > 0) return S_OK;
    hr = registry.DeleteTree(root, path);
    return FAILED(hr) ? Failed(hr, u"delete", path) : S_OK;
}

}  // namespace

HRESULT CRegistrar::Parse(WStringView text, const RegistrarVariables& variables, RegistryScript& script) {
    script.roots.clear();
    try {
        Parser(text, variables).ParseScript(script);
        return S_OK;
    } catch (const SyntaxError& error) {
        script.roots.clear();
        Trace(kModule, Format(u"CRegistrar::Parse: %s in line %d\n", error.message, error.line));
        return kRegistryScriptInvalid;
    }
}

HRESULT CRegistrar::Apply(const RegistryScript& script, RegistryStore& registry, RegistrarAction action) {
    for (const auto& root : script.roots) {
        for (const auto& key : root.keys) {
            const HRESULT hr = action == RegistrarAction::Register ? Register(registry, root.root, key.name, key)
                                                                   : Unregister(registry, root.root, key.name, key);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

}  // namespace kel
