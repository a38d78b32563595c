// A COM client of the registered KelInstallSystem.dll that knows only the
// public header. Modes:
//   registered             activate by CLSID and ProgID, check the type library
//   unregistered           check that only this class's keys are gone
// Exit code 0 when every check passes.
#include <cstdio>
#include <string>
#include <vector>

#include "KelInstallSystem.h"

namespace {

const wchar_t kClassKey[] = L"CLSID\\{F0FDF787-B3C3-4B3F-9A1B-88C048173DC0}";
const wchar_t kProgId[] = L"KelInstallSystem.KelInstallSystem";
const wchar_t kVersionedProgId[] = L"KelInstallSystem.KelInstallSystem.1";
const wchar_t kTypeLibKey[] = L"TypeLib\\{04CE16FC-9D04-407A-9C84-F7710C8F4ED4}";

int g_failures = 0;

void Check(bool ok, const std::string& what) {
    if (!ok) {
        ++g_failures;
        std::printf("FAILED: %s\n", what.c_str());
    }
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
}

template <class T>
class Ptr {
public:
    ~Ptr() {
        if (p_) p_->Release();
    }
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    void** Out() { return reinterpret_cast<void**>(&p_); }
    T** Typed() { return &p_; }

private:
    T* p_ = nullptr;
};

// An owned BSTR: an out parameter's answer.
class Bstr {
public:
    Bstr() = default;
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR* Out() { return &b_; }
    std::wstring Text() const { return b_ ? std::wstring(b_, SysStringLen(b_)) : std::wstring(); }

private:
    BSTR b_ = nullptr;
};

bool KeyExists(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Header order.
const std::vector<const wchar_t*> kFirstInterface = {
    L"CreateSystem", L"InitSystem", L"ResetSystem", L"AddSystemParameterFile", L"GetSystemParameterFileList",
    L"RemoveSystemParameterFile", L"AddHomeFile", L"GetHomeFileList", L"RemoveHomeFile", L"GetSystemOptions",
    L"SetSystemOptions", L"GetUsedKeystring", L"ReplaceKeystring", L"GetSystemType", L"SetProgramPath",
    L"GetProgramPath", L"AddAdditionalOption", L"RemoveAdditionalOption", L"SetSystemTag", L"GetSystemTag",
    L"GetSystemInfo", L"AddDriveModule", L"RemoveDriveModule", L"GetDriveModuleKeys", L"CheckBackup",
    L"InitBackup", L"GetBackupInfo"};
const std::vector<const wchar_t*> kSecondInterface = {L"InitSystem2"};

void CheckMethods(ITypeLib* library, REFIID iid, const std::vector<const wchar_t*>& expected, const std::string& label) {
    Ptr<ITypeInfo> info;
    if (FAILED(library->GetTypeInfoOfGuid(iid, info.Typed()))) return Check(false, label + " not in the type library");
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return Check(false, label + " attributes");
    Check(attributes->typekind == TKIND_INTERFACE, label + " is a vtable interface");
    Check(attributes->cFuncs == expected.size(), label + " method count " + std::to_string(attributes->cFuncs));
    const unsigned count = attributes->cFuncs < expected.size() ? attributes->cFuncs : expected.size();
    info->ReleaseTypeAttr(attributes);
    for (unsigned i = 0; i < count; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function))) {
            Check(false, label + " method " + std::to_string(i));
            continue;
        }
        // Slot after the three IUnknown methods, in header order.
        Check(function->oVft == static_cast<SHORT>((3 + i) * sizeof(void*)), label + " slot " + std::to_string(i));
        Bstr name;
        info->GetDocumentation(function->memid, name.Out(), nullptr, nullptr, nullptr);
        Check(name.Text() == expected[i], label + " slot " + std::to_string(i) + " is " + Narrow(name.Text()));
        info->ReleaseFuncDesc(function);
    }
}

// The value the type library gives an enumeration member (-1: none).
long EnumValue(ITypeLib* library, const wchar_t* member) {
    Ptr<ITypeComp> names;
    if (FAILED(library->GetTypeComp(names.Typed()))) return -1;
    std::wstring name = member;
    Ptr<ITypeInfo> info;
    DESCKIND kind = DESCKIND_NONE;
    BINDPTR bound{};
    if (FAILED(names->Bind(name.data(), LHashValOfName(LOCALE_NEUTRAL, name.c_str()), 0, info.Typed(), &kind, &bound)) ||
        kind != DESCKIND_VARDESC) {
        return -1;
    }
    const long value = bound.lpvardesc->lpvarValue ? bound.lpvardesc->lpvarValue->lVal : -1;
    info->ReleaseVarDesc(bound.lpvardesc);
    return value;
}

void CheckObject(REFCLSID clsid, const std::string& label) {
    Ptr<IKelInstallSystem> object;
    const HRESULT created =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKelInstallSystem, object.Out());
    Check(created == S_OK, label + ": CoCreateInstance");
    if (SUCCEEDED(created)) Check(object->ResetSystem() == E_ABORT, label + ": ResetSystem on a fresh object");
}

void CheckRegistered() {
    CheckObject(CLSID_KelInstallSystem, "by CLSID");
    for (const wchar_t* progId : {kProgId, kVersionedProgId}) {
        CLSID clsid{};
        Check(CLSIDFromProgID(progId, &clsid) == S_OK && IsEqualCLSID(clsid, CLSID_KelInstallSystem),
              "CLSIDFromProgID " + Narrow(progId));
        CheckObject(clsid, "by ProgID " + Narrow(progId));
    }

    Ptr<ITypeLib> library;
    if (FAILED(LoadRegTypeLib(LIBID_KELINSTALLSYSTEMLib, 1, 0, 0, library.Typed()))) {
        return Check(false, "LoadRegTypeLib");
    }
    CheckMethods(library.get(), IID_IKelInstallSystem, kFirstInterface, "IKelInstallSystem");
    CheckMethods(library.get(), IID_IKelInstallSystem2, kSecondInterface, "IKelInstallSystem2");
    Ptr<ITypeInfo> hidden;
    Check(FAILED(library->GetTypeInfoOfGuid(IID_IKelInstallSystem3, hidden.Typed())),
          "IKelInstallSystem3 stays out of the type library");
    // Enumerations as a script client sees them.
    for (const auto& [member, value] : std::initializer_list<std::pair<const wchar_t*, long>>{
             {L"None", None}, {L"Zendara", Zendara}, {L"Orvane", Orvane}, {L"ExternalWithOptions", ExternalWithOptions},
             {L"ExternalWithoutOptions", ExternalWithoutOptions}, {L"BootServer", BootServer}, {L"FailSafe", FailSafe},
             {L"External", External}, {L"AdditionalOption", AdditionalOption},
             {L"KelInstallCtrlType_RC", KelInstallCtrlType_RC}, {L"KelInstallCtrlType_VC", KelInstallCtrlType_VC}}) {
        Check(EnumValue(library.get(), member) == value, Narrow(member) + " in the type library");
    }
}

void CheckUnregistered() {
    Ptr<IKelInstallSystem> object;
    Check(CoCreateInstance(CLSID_KelInstallSystem, nullptr, CLSCTX_INPROC_SERVER, IID_IKelInstallSystem,
                           object.Out()) == REGDB_E_CLASSNOTREG,
          "no activation after unregistration");
    for (const wchar_t* key : {kClassKey, kProgId, kVersionedProgId, kTypeLibKey}) {
        Check(!KeyExists(key), Narrow(key) + " removed");
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // The public header leaves the Win32 names a client uses alone.
    DeleteFile(L"kel-no-such-file");
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    if (mode == L"registered") {
        CheckRegistered();
    } else if (mode == L"unregistered") {
        CheckUnregistered();
    } else {
        std::printf("usage: com_client_win32 registered | unregistered\n");
        g_failures = 1;
    }
    CoUninitialize();
    std::printf("%s\n", g_failures == 0 ? "ok" : "failed");
    return g_failures == 0 ? 0 : 1;
}
