#include "component/kel_install_system.h"

#include <new>
#include <string>

#include "component/module.h"
#include "platform/trace.h"
#include "system/system.h"

namespace kel {

namespace {

constexpr std::size_t kMaxPath = 260;
constexpr std::size_t kMaxSystemName = 80;
constexpr HRESULT kPathTooLong = KELINSTALL_E_PATH_TOO_LONG;
constexpr HRESULT kNameTooLong = KELINSTALL_E_NAME_TOO_LONG;

// No exception crosses the interface.
template <class F>
HRESULT Guard(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

bool Empty(BSTR text) { return SysStringLen(text) == 0; }

// Characters up to the terminating NUL, as the C runtime counts them.
std::size_t CLength(BSTR text) {
    return text ? std::char_traits<char16_t>::length(reinterpret_cast<const char16_t*>(text)) : 0;
}

bool IsSystemNameChar(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'-' ||
           c == u'.' || c == u'_' || (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7);
}

// Until the system operations land, a call that passes its checks is not served.
HRESULT NotBuilt() { return E_NOTIMPL; }

}  // namespace

CKelInstallSystem::CKelInstallSystem(IUnknown* outer) : m_outer(outer) { LockModule(); }

CKelInstallSystem::~CKelInstallSystem() { UnlockModule(); }

HRESULT CKelInstallSystem::FinalConstruct() {
    m_pSystem.reset(new (std::nothrow) CSystem());
    return m_pSystem ? S_OK : E_FAIL;
}

HRESULT CKelInstallSystem::Inner::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
    } else if (IsEqualIID(riid, IID_IKelInstallSystem)) {
        *ppv = static_cast<IKelInstallSystem*>(&m_owner);
    } else if (IsEqualIID(riid, IID_IKelInstallSystem2)) {
        *ppv = static_cast<IKelInstallSystem2*>(&m_owner);
    } else if (IsEqualIID(riid, IID_IKelInstallSystem3)) {
        *ppv = static_cast<IKelInstallSystem3*>(&m_owner);
    } else {
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

ULONG CKelInstallSystem::Inner::AddRef() { return ++m_owner.m_refCount; }

ULONG CKelInstallSystem::Inner::Release() {
    const ULONG count = --m_owner.m_refCount;
    if (count == 0) delete &m_owner;
    return count;
}

HRESULT CKelInstallSystem::QueryInterface(REFIID riid, void** ppv) {
    return m_outer ? m_outer->QueryInterface(riid, ppv) : m_inner.QueryInterface(riid, ppv);
}

ULONG CKelInstallSystem::AddRef() { return m_outer ? m_outer->AddRef() : m_inner.AddRef(); }

ULONG CKelInstallSystem::Release() { return m_outer ? m_outer->Release() : m_inner.Release(); }

HRESULT CKelInstallSystem::Refuse(const char16_t* method, HRESULT status, WStringView text) {
    m_message = Format(u"CKelInstallSystem::%s: %s", method, text);
    Trace(u"KelInstallSystemImpl", m_message);
    return status;
}

bool CKelInstallSystem::StorePath(BSTR path) {
    UniqueBstr copy = UniqueBstr::From(UniqueBstr::View(path));
    if (!copy.get()) return false;
    m_bstrSystemPath = std::move(copy);
    return true;
}

HRESULT CKelInstallSystem::CheckSystemPath(BSTR path) {
    constexpr const char16_t* kMethod = u"CheckSystemPath";
    const WStringView text(path ? reinterpret_cast<const char16_t*>(path) : u"", CLength(path));
    if (text.size() > kMaxPath) return Refuse(kMethod, kPathTooLong, Format(u"Systempath is longer than %d\n", 260));
    const std::size_t slash = text.rfind(u'\\');
    if (slash == WStringView::npos) return Refuse(kMethod, E_INVALIDARG, u"Path corrupt!\n");
    const WStringView name = text.substr(slash + 1);
    if (name.size() > kMaxSystemName) return Refuse(kMethod, kNameTooLong, Format(u"Systemname is longer than %d\n", 80));
    for (char16_t c : name) {
        if (!IsSystemNameChar(c)) return Refuse(kMethod, E_INVALIDARG, u"Invalid character found in systemname!\n");
    }
    return S_OK;
}

HRESULT CKelInstallSystem::CreateSystem(BSTR bstrSystemPath, BSTR bstrKey, BSTR bstrProgramPath) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"CreateSystem";
        if (Empty(bstrSystemPath)) return Refuse(kMethod, E_INVALIDARG, u"No systempath specified\n");
        if (const HRESULT hr = CheckSystemPath(bstrSystemPath); FAILED(hr)) return hr;
        if (!StorePath(bstrSystemPath)) return E_OUTOFMEMORY;
        if (Empty(bstrKey)) return Refuse(kMethod, E_INVALIDARG, u"No key specified\n");
        if (Empty(bstrProgramPath)) return Refuse(kMethod, E_INVALIDARG, u"No program release specified\n");
        // CSystem::CreateSystem; on success m_bInitialized = 1.
        return NotBuilt();
    });
}

HRESULT CKelInstallSystem::InitSystem(BSTR bstrSystemPath) {
    return Guard([&] {
        if (Empty(bstrSystemPath)) return Refuse(u"InitSystem", E_INVALIDARG, u"No systempath specified\n");
        if (const HRESULT hr = CheckSystemPath(bstrSystemPath); FAILED(hr)) return hr;
        if (!StorePath(bstrSystemPath)) return E_OUTOFMEMORY;
        // CSystem::InitSystem; on success m_bInitialized = 1.
        return NotBuilt();
    });
}

#define KEL_REQUIRE_SYSTEM(method) \
    if (!m_bInitialized) return Refuse(method, E_ABORT, u"No system is initialized\n")

HRESULT CKelInstallSystem::ResetSystem() {
    return Guard([&] {
        KEL_REQUIRE_SYSTEM(u"ResetSystem");
        return NotBuilt();  // CSystem::ResetSystem
    });
}

HRESULT CKelInstallSystem::AddSystemParameterFile(BSTR bstrFilePath, VARIANT_BOOL varbOverWrite) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"AddSystemParameterFile";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (Empty(bstrFilePath)) return Refuse(kMethod, E_INVALIDARG, u"No parameter file specified \n");
        [[maybe_unused]] const bool overwrite = varbOverWrite == VARIANT_TRUE;
        return NotBuilt();  // CSystem::AddSystemParameterFile(path, overwrite); false: "Filecopy failed!\n"
    });
}

HRESULT CKelInstallSystem::GetSystemParameterFileList(BSTR* bstrFileList, ULONG* pCount) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"GetSystemParameterFileList";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (!bstrFileList || !pCount) return Refuse(kMethod, E_POINTER, u"Return variable not initialized\n");
        return NotBuilt();  // CSystem::GetSystemParameterFileList
    });
}

HRESULT CKelInstallSystem::RemoveSystemParameterFile(BSTR bstrFileName) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"RemoveSystemParameterFile";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (Empty(bstrFileName)) return Refuse(kMethod, E_INVALIDARG, u"No parameter file specified \n");
        return NotBuilt();  // CSystem::RemoveSystemParameterFile
    });
}

HRESULT CKelInstallSystem::AddHomeFile(BSTR bstrFilePath, VARIANT_BOOL varbOverWrite) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"AddHomeFile";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (Empty(bstrFilePath)) return Refuse(kMethod, E_INVALIDARG, u"No parameter file specified \n");
        [[maybe_unused]] const bool overwrite = varbOverWrite == VARIANT_TRUE;
        return NotBuilt();  // CSystem::AddHomeFile(path, overwrite); false: "Filecopy failed\n"
    });
}

HRESULT CKelInstallSystem::GetHomeFileList(BSTR* bstrFileList, ULONG* pCount) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"GetHomeFileList";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (!bstrFileList || !pCount) return Refuse(kMethod, E_POINTER, u"Return variable not initialized\n");
        return NotBuilt();  // CSystem::GetHomeFileList
    });
}

HRESULT CKelInstallSystem::RemoveHomeFile(BSTR bstrFileName) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"RemoveHomeFile";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (Empty(bstrFileName)) return Refuse(kMethod, E_INVALIDARG, u"No parameter file specified \n");
        return NotBuilt();  // CSystem::RemoveHomeFile
    });
}

HRESULT CKelInstallSystem::GetSystemOptions(BSTR* bstrSystemOptions) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"GetSystemOptions";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (!bstrSystemOptions) return Refuse(kMethod, E_POINTER, u"No returnpointer specified\n");
        return NotBuilt();  // the system's current option document
    });
}

HRESULT CKelInstallSystem::SetSystemOptions(BSTR bstrSystemOptions) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"SetSystemOptions";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (Empty(bstrSystemOptions)) return Refuse(kMethod, E_INVALIDARG, u"No system options specified\n");
        return NotBuilt();  // the option update
    });
}

HRESULT CKelInstallSystem::GetUsedKeystring(ProgramType, BSTR* bstrKeystring, ULONG* pCount) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"GetUsedKeystring";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (!bstrKeystring || !pCount) return Refuse(kMethod, E_POINTER, u"Result value cannot be empty\n");
        return NotBuilt();  // failure: E_FAIL, "No keystrings found!\n"
    });
}

HRESULT CKelInstallSystem::ReplaceKeystring(BSTR bstrOldKeystring, BSTR bstrNewKeystring) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"ReplaceKeystring";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (Empty(bstrOldKeystring) || Empty(bstrNewKeystring)) return Refuse(kMethod, E_INVALIDARG, u"Parameter error\n");
        return NotBuilt();
    });
}

HRESULT CKelInstallSystem::GetSystemType(KelInstallCtrlType* Type) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"GetSystemType";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (!Type) return Refuse(kMethod, E_POINTER, u"No result parameter supplied\n");
        return NotBuilt();  // CSystem::GetSystemType; false: "Could not detect system type\n"
    });
}

HRESULT CKelInstallSystem::SetProgramPath(ProgramType Type, BSTR bstrProgramName, BSTR bstrProgramPath) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"SetProgramPath";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (Type != Zendara && !bstrProgramName) {
            return Refuse(kMethod, E_INVALIDARG, u"Programname not specified for additional option\n");
        }
        if (Empty(bstrProgramPath)) return Refuse(kMethod, E_INVALIDARG, u"Path parameter cannot be empty\n");
        return NotBuilt();  // CSystem::SetProgramPath
    });
}

HRESULT CKelInstallSystem::GetProgramPath(ProgramType Type, BSTR bstrProgramName, BSTR* bstrProgramPath) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"GetProgramPath";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (!bstrProgramPath) return Refuse(kMethod, E_POINTER, u"Pointer not initialized\n");
        if (Type != Zendara && !bstrProgramName) {
            return Refuse(kMethod, E_INVALIDARG, u"Programname not specified for additional option\n");
        }
        return NotBuilt();  // CSystem::GetProgramPath
    });
}

HRESULT CKelInstallSystem::AddAdditionalOption(BSTR bstrKey, BSTR bstrProgramPath) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"AddAdditionalOption";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (Empty(bstrKey)) return Refuse(kMethod, E_INVALIDARG, u"No key specified\n");
        if (Empty(bstrProgramPath)) return Refuse(kMethod, E_INVALIDARG, u"No program release specified\n");
        return NotBuilt();
    });
}

HRESULT CKelInstallSystem::RemoveAdditionalOption(BSTR bstrProgramName) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"RemoveAdditionalOption";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (Empty(bstrProgramName)) return Refuse(kMethod, E_INVALIDARG, u"No program name specified\n");
        return NotBuilt();
    });
}

HRESULT CKelInstallSystem::SetSystemTag(BSTR) {
    return Guard([&] {
        KEL_REQUIRE_SYSTEM(u"SetSystemTag");
        return NotBuilt();  // CSystem::SetSystemTag (an empty tag is fine); false: "Error storing system tag\n"
    });
}

HRESULT CKelInstallSystem::GetSystemTag(BSTR* bstrTag) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"GetSystemTag";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (!bstrTag) return Refuse(kMethod, E_POINTER, u"Result value cannot be empty\n");
        return NotBuilt();  // CSystem::GetSystemTag; false: "Error retrieving system tag\n"
    });
}

HRESULT CKelInstallSystem::GetSystemInfo(BSTR* bstrInfoXML) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"GetSystemInfo";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (!bstrInfoXML) return Refuse(kMethod, E_POINTER, u"Result value cannot be empty\n");
        return NotBuilt();  // CSystem::GetSystemInfo; failure: E_FAIL, "Error retrieving system info\n"
    });
}

HRESULT CKelInstallSystem::AddDriveModule(BSTR bstrKey, unsigned short wModuleNr) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"AddDriveModule";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (Empty(bstrKey)) return Refuse(kMethod, E_INVALIDARG, u"No key specified\n");
        if (wModuleNr == 0) return Refuse(kMethod, E_INVALIDARG, u"Module nr cannot be zero!\n");
        return NotBuilt();
    });
}

HRESULT CKelInstallSystem::RemoveDriveModule(unsigned short wModuleNr) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"RemoveDriveModule";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (wModuleNr == 0) return Refuse(kMethod, E_INVALIDARG, u"Module nr cannot be zero!\n");
        return NotBuilt();
    });
}

HRESULT CKelInstallSystem::GetDriveModuleKeys(BSTR* bstrKeystring, ULONG* pCount) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"GetDriveModuleKeys";
        KEL_REQUIRE_SYSTEM(kMethod);
        if (!bstrKeystring || !pCount) return Refuse(kMethod, E_POINTER, u"Result value cannot be empty\n");
        return NotBuilt();  // failure: E_FAIL, "No keystrings found!\n"
    });
}

#undef KEL_REQUIRE_SYSTEM

HRESULT CKelInstallSystem::CheckBackup(BSTR bstrBackupPath, BSTR* bstrKeystring, ULONG* pCount) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"CheckBackup";
        if (CLength(bstrBackupPath) > kMaxPath) return Refuse(kMethod, kPathTooLong, Format(u"Path cannot exceed %d\n", 260));
        if (!bstrKeystring || !pCount) return Refuse(kMethod, E_POINTER, u"Result value cannot be null\n");
        return NotBuilt();  // backup check on a fresh backup-support object
    });
}

HRESULT CKelInstallSystem::InitBackup(BSTR bstrBackupPath, BSTR bstrSystemPath, BSTR bstrZDReleasePath, BSTR,
                                      ULONG) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"InitBackup";
        if (CLength(bstrBackupPath) > kMaxPath) {
            return Refuse(kMethod, kPathTooLong, Format(u"Backup path cannot exceed %d\n", 260));
        }
        if (const HRESULT hr = CheckSystemPath(bstrSystemPath); FAILED(hr)) return hr;
        if (CLength(bstrZDReleasePath) > kMaxPath) {
            return Refuse(kMethod, kPathTooLong, Format(u"Backup path cannot exceed %d\n", 260));
        }
        // CSystem::InitBackup, then InitSystem and SetProgramPath(Zendara, "", release) through this object.
        return NotBuilt();
    });
}

HRESULT CKelInstallSystem::GetBackupInfo(BSTR bstrPath, BSTR* bstrSystemXml) {
    return Guard([&] {
        constexpr const char16_t* kMethod = u"GetBackupInfo";
        if (CLength(bstrPath) > kMaxPath) return Refuse(kMethod, kPathTooLong, Format(u"Path cannot exceed %d\n", 260));
        if (!bstrSystemXml) return Refuse(kMethod, E_POINTER, u"Result value cannot be null\n");
        return NotBuilt();  // backup reading on a fresh backup-support object
    });
}

HRESULT CKelInstallSystem::InitSystem2(BSTR bstrSystemPath, HRESULT* pHresult) {
    return Guard([&] {
        if (!pHresult) return Refuse(u"InitSystem2", E_POINTER, u"Return pointer not specified\n");
        *pHresult = static_cast<IKelInstallSystem*>(this)->InitSystem(bstrSystemPath);
        return S_OK;
    });
}

HRESULT CKelInstallSystem::GetNextProgramNotice(BSTR* pbstrNotice) {
    return Guard([&] {
        if (!pbstrNotice || *pbstrNotice) return E_INVALIDARG;
        WString notice;
        if (!m_pSystem->PopProgramNotice(notice)) return S_FALSE;
        UniqueBstr out = UniqueBstr::From(notice);
        if (!out.get()) {
            m_pSystem->PushProgramNotice(std::move(notice));  // keep it for the next call
            return E_OUTOFMEMORY;
        }
        *pbstrNotice = out.Detach();
        return S_OK;
    });
}

}  // namespace kel
