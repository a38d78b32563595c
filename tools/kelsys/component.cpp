#include "component.h"

#include <cstdio>
#include <filesystem>
#include <iostream>

namespace kelsys {

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using TraceSinkFn = void (*)(const char16_t*, void*);
using SetTraceSinkFn = void (*)(TraceSinkFn, void*);

struct StatusName {
    HRESULT status;
    const char* name;
};

constexpr StatusName kStatusNames[] = {
    {KELINSTALL_E_READ_KEYS, "keys not readable"},
    {KELINSTALL_E_CREATE_DIRECTORY, "cannot create directory"},
    {KELINSTALL_E_GUID_FILE, "GUID file not written"},
    {KELINSTALL_E_WRITE_PROGRAM_LIST, "program list not written"},
    {KELINSTALL_E_WORK_AREA, "work area failed"},
    {KELINSTALL_E_RESET, "reset failed"},
    {KELINSTALL_E_EXISTS, "system exists"},
    {KELINSTALL_E_BAD_KEY, "not a valid keystring"},
    {KELINSTALL_E_NO_RELKEY, "option definition file missing"},
    {KELINSTALL_E_NO_RELEASE, "program release missing"},
    {KELINSTALL_E_WRITE_CONFIG, "configuration not written"},
    {KELINSTALL_E_ALREADY_LOADED, "already loaded"},
    {KELINSTALL_E_BAD_PROGRAM_PATH, "not a valid program release"},
    {KELINSTALL_E_PATH_TOO_LONG, "path too long"},
    {KELINSTALL_E_NAME_TOO_LONG, "system name too long"},
    {E_INVALIDARG, "invalid argument"},
    {E_FAIL, "failed"},
    {E_UNEXPECTED, "unexpected failure"},
    {E_ABORT, "no system open"},
    {E_OUTOFMEMORY, "out of memory"},
};

}  // namespace

// The messages traced since the current call began.
std::string& LastCause() {
    static std::string cause;
    return cause;
}

// A record's message as a user reads it: without the "CClass::Method, " it starts with.
std::string Plain(std::string message) {
    const std::size_t scope = message.find("::");
    const std::size_t end = scope == std::string::npos ? scope : message.find_first_of(",: ", scope + 2);
    if (end != std::string::npos && message.find(' ') >= end) {
        message.erase(0, message.find_first_not_of(",: ", end));
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    for (char& c : message) {
        if (c == '\n') c = ' ';
    }
    return message;
}

void CollectTrace(const char16_t* piece, void* print) {
    static std::string module;
    static std::string message;
    static int part = 0;  // 1: the module's name follows, 2: the message
    const std::u16string_view text(piece);
    if (text == u"ReleaseErrorTrace: \nFile: ") {
        part = 1;
        module.clear();
        message.clear();
    } else if (text == u"\nError: ") {
        part = 2;
    } else if (text == u"\n" && part == 2) {
        part = 0;
        // Every record of the call, the deepest first: the first names the cause, the last the step.
        const std::string plain = Plain(message);
        if (!plain.empty()) LastCause() += (LastCause().empty() ? "" : "; ") + plain;
        while (!message.empty() && message.back() == '\n') message.pop_back();
        if (print) std::cerr << "trace: " << module << ": " << message << '\n';
    } else {
        (part == 1 ? module : message) += kel::ToUtf8(text);
    }
}

Component::Call::Call(IKelInstallSystem* object) : object_(object) { LastCause().clear(); }

bool Component::Load(bool trace) {
    const std::string directory = kel::os::ExecutableDirectory();
#if defined(_WIN32)
    const std::string name = directory + "\\KelInstallSystem.dll";
    const bool opened = library_.Open(name);
#else
    // Beside the program in a build tree, in ../lib once installed.
    const std::string name = directory + "/libKelInstallSystem.so";
    const bool opened = library_.Open(name) || library_.Open(directory + "/../lib/libKelInstallSystem.so");
#endif
    const auto getClassObject = opened ? reinterpret_cast<GetClassObjectFn>(library_.Symbol("DllGetClassObject")) : nullptr;
    kel::ComPtr<IClassFactory> factory;
    if (!getClassObject || FAILED(getClassObject(CLSID_KelInstallSystem, IID_IClassFactory, factory.PutVoid())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IKelInstallSystem, object_.PutVoid()))) {
        std::cerr << "kelsys: cannot load the component from " << name << "\n";
        return false;
    }
    // Always: a refusal is reported in the component's own words.
    if (const auto setSink = reinterpret_cast<SetTraceSinkFn>(library_.Symbol("KelInstallSetTraceSink"))) {
        setSink(&CollectTrace, trace ? this : nullptr);
    }
    return true;
}

int Component::Report(const char* what, HRESULT status) {
    if (SUCCEEDED(status)) return kOk;
    const char* name = "failure";
    for (const StatusName& known : kStatusNames) {
        if (known.status == status) name = known.name;
    }
    // The component's own words for the cause, then the status.
    const std::string cause = LastCause().empty() ? "" : LastCause() + " ";
    std::fprintf(stderr, "kelsys: %s: %s(0x%08X %s)\n", what, cause.c_str(), static_cast<unsigned>(status), name);
    LastCause().clear();
    return kRefused;
}

WString ComponentPath(const std::string& path) {
    std::error_code error;
    // Arguments are UTF-8 on every platform; a narrow path would be the ANSI code page on Windows.
    const std::u8string text(path.begin(), path.end());
    const std::u8string absolute = std::filesystem::absolute(text, error).lexically_normal().u8string();
    return kel::os::FromNativePath(error ? path : std::string(absolute.begin(), absolute.end()));
}

kel::UniqueBstr B(WStringView text) { return kel::UniqueBstr::From(text); }

std::string Utf8(WStringView text) { return kel::ToUtf8(text); }

std::vector<WString> SplitList(WStringView list) {
    std::vector<WString> items;
    for (std::size_t start = 0; start < list.size();) {
        std::size_t end = list.find(u',', start);
        if (end == WStringView::npos) end = list.size();
        items.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

std::string JsonString(WStringView text) {
    std::string out = "\"";
    for (const char c : kel::ToUtf8(text)) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

}  // namespace kelsys
