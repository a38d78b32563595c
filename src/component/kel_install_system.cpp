#include "component/kel_install_system.h"

#include <new>
#include <string>

#include "description/backup_support.h"
#include "shared/file_operation.h"
#include "shared/com_object_base.h"
#include "component/module.h"
#include "platform/trace.h"

namespace kel {

namespace {

constexpr char16_t kModule[] = u"KelInstallSystemImpl";
constexpr int kMaxPath = 260;
constexpr int kMaxSystemName = 80;
// A new system's own files must fit in 259 characters: the longest is
// "\INTERNAL\commit.journal" (24), and "~" more while it is being built; a
// converted backup also holds "\BACKUP\BACKINFO\backinfo.txt" (29).
constexpr std::size_t kMaxNewSystemPath = 259 - 25;
constexpr std::size_t kMaxRestoredSystemPath = 259 - 30;

// Incoming strings are read up to their first NUL, so a client that passes a
// plain wide string instead of a BSTR is still understood.
WStringView Text(const OLECHAR* text) {
    if (!text) return {};
    const auto* chars = reinterpret_cast<const char16_t*>(text);
    return WStringView(chars, Length(chars));
}

bool IsEmpty(const OLECHAR* text) { return !text || text[0] == 0; }

HRESULT Refuse(const char16_t* method, HRESULT status, WStringView text) {
    Trace(kModule, u"CKelInstallSystem::" + WString(method) + u": " + WString(text));
    return status;
}

// A new string for an out parameter.
HRESULT PutText(WStringView text, BSTR* out) {
    *out = UniqueBstr::From(text).Detach();
    return *out ? S_OK : E_OUTOFMEMORY;
}

// Keystrings joined by commas; none is a null string and a count of 0.
HRESULT PutKeys(WStringView keys, uint32_t count, BSTR* out, ULONG* pCount) {
    *out = nullptr;
    *pCount = count;
    return count ? PutText(keys, out) : S_OK;
}

// A file list with its count, or the facade's failure.
HRESULT ReturnList(const char16_t* method, CSystem& system, bool (CSystem::*lister)(WString&, uint32_t&) const,
                   BSTR* out, ULONG* pCount) {
    WString list;
    uint32_t count = 0;
    if (!(system.*lister)(list, count)) return Refuse(method, E_FAIL, u"Failed to retrieve filelist\n");
    *pCount = count;
    return PutText(list, out);
}

HRESULT NotInitialized(const char16_t* method) { return Refuse(method, E_ABORT, u"No system is initialized\n"); }

// Digits, ASCII letters, "-._" and the Latin-1 letters (not U+00D7, U+00F7).
bool IsSystemNameChar(char16_t c) {
    if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) return true;
    if (c == u'-' || c == u'.' || c == u'_') return true;
    return c >= 0x00C0 && c <= 0x00FF && c != 0x00D7 && c != 0x00F7;
}


}  // namespace

// --- Creation and identity ---

CKelInstallSystem::CKelInstallSystem(IUnknown* outer) : inner_(*this), controlling_(outer ? outer : &inner_) {
    LockModule();
}

CKelInstallSystem::~CKelInstallSystem() { UnlockModule(); }

HRESULT CKelInstallSystem::FinalConstruct() {
    m_pSystem.reset(new (std::nothrow) CSystem);
    return m_pSystem ? S_OK : E_FAIL;
}

HRESULT CKelInstallSystem::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto* object = new (std::nothrow) CKelInstallSystem(outer);
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = ComGuard([&] { return object->FinalConstruct(); });
    if (SUCCEEDED(hr)) hr = object->inner_.QueryInterface(riid, ppv);
    if (FAILED(hr)) delete object;  // nothing refers to it yet
    return hr;
}

HRESULT CKelInstallSystem::InnerUnknown::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    IUnknown* found = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        found = this;
    } else if (IsEqualIID(riid, IID_IKelInstallSystem)) {
        found = static_cast<IKelInstallSystem*>(&owner_);
    } else if (IsEqualIID(riid, IID_IKelInstallSystem2)) {
        found = static_cast<IKelInstallSystem2*>(&owner_);
    } else if (IsEqualIID(riid, IID_IKelInstallSystem3)) {
        found = static_cast<IKelInstallSystem3*>(&owner_);
    }
    *ppv = found;
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    return S_OK;
}

ULONG CKelInstallSystem::InnerUnknown::AddRef() { return ++owner_.refs_; }

ULONG CKelInstallSystem::InnerUnknown::Release() {
    const ULONG remaining = --owner_.refs_;
    if (remaining == 0) delete &owner_;
    return remaining;
}

HRESULT CKelInstallSystem::QueryInterface(REFIID riid, void** ppv) { return controlling_->QueryInterface(riid, ppv); }
ULONG CKelInstallSystem::AddRef() { return controlling_->AddRef(); }
ULONG CKelInstallSystem::Release() { return controlling_->Release(); }

// --- Path checks ---

HRESULT CKelInstallSystem::CheckSystemPath(const OLECHAR* path) {
    constexpr const char16_t* kMethod = u"CheckSystemPath";
    const WStringView text = Text(path);
    if (text.size() > kMaxPath) {
        return Refuse(kMethod, kStatusPathTooLong, Format(u"Systempath is longer than %d\n", kMaxPath));
    }
    const std::size_t separator = text.rfind(u'\\');
    if (separator == WStringView::npos) return Refuse(kMethod, E_INVALIDARG, u"Path corrupt!\n");
    const WStringView name = text.substr(separator + 1);
    if (name.size() > kMaxSystemName) {
        return Refuse(kMethod, kStatusNameTooLong, Format(u"Systemname is longer than %d\n", kMaxSystemName));
    }
    for (const char16_t c : name) {
        if (!IsSystemNameChar(c)) return Refuse(kMethod, E_INVALIDARG, u"Invalid character found in systemname!\n");
    }
    return S_OK;
}

HRESULT CKelInstallSystem::CheckNewSystemPath(const char16_t* method, const OLECHAR* path, std::size_t limit) {
    if (Text(path).size() <= limit) return S_OK;
    return Refuse(method, kStatusPathTooLong,
                  Format(u"Systempath is longer than %d: the system's own files would not fit\n", static_cast<int>(limit)));
}

HRESULT CKelInstallSystem::StorePath(BSTR bstrSystemPath) {
    const WStringView text = Text(bstrSystemPath);
    UniqueBstr copy = UniqueBstr::From(text);
    if (!copy.get()) return E_OUTOFMEMORY;
    m_bstrSystemPath = std::move(copy);
    return S_OK;
}

// --- Opening a system ---

HRESULT CKelInstallSystem::CreateSystem(BSTR bstrSystemPath, BSTR bstrKey, BSTR bstrProgramPath) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"CreateSystem";
        if (IsEmpty(bstrSystemPath)) return Refuse(kMethod, E_INVALIDARG, u"No systempath specified\n");
        HRESULT hr = CheckSystemPath(bstrSystemPath);
        if (FAILED(hr)) return hr;
        hr = StorePath(bstrSystemPath);
        if (FAILED(hr)) return hr;
        if (IsEmpty(bstrKey)) return Refuse(kMethod, E_INVALIDARG, u"No key specified\n");
        if (IsEmpty(bstrProgramPath)) return Refuse(kMethod, E_INVALIDARG, u"No program release specified\n");
        hr = CheckNewSystemPath(kMethod, bstrSystemPath, kMaxNewSystemPath);
        if (FAILED(hr)) return hr;
        hr = System().CreateSystem(Text(bstrSystemPath), Text(bstrKey), Text(bstrProgramPath));
        // A failed create leaves no system open: later calls must not change another one.
        m_bInitialized = SUCCEEDED(hr);
        return hr;
    });
}

HRESULT CKelInstallSystem::InitSystem(BSTR bstrSystemPath) {
    return ComGuard([&] {
        if (IsEmpty(bstrSystemPath)) return Refuse(u"InitSystem", E_INVALIDARG, u"No systempath specified\n");
        HRESULT hr = CheckSystemPath(bstrSystemPath);
        if (FAILED(hr)) return hr;
        hr = StorePath(bstrSystemPath);
        if (FAILED(hr)) return hr;
        hr = System().InitSystem(Text(bstrSystemPath));
        m_bInitialized = SUCCEEDED(hr);
        return hr;
    });
}

HRESULT CKelInstallSystem::InitSystem2(BSTR bstrSystemPath, HRESULT* pHresult) {
    return ComGuard([&] {
        if (!pHresult) return Refuse(u"InitSystem2", E_POINTER, u"Return pointer not specified\n");
        // The status goes to the caller through the out parameter only.
        *pHresult = static_cast<IKelInstallSystem*>(this)->InitSystem(bstrSystemPath);
        return S_OK;
    });
}

HRESULT CKelInstallSystem::ResetSystem() {
    return ComGuard([&] {
        if (!m_bInitialized) return NotInitialized(u"ResetSystem");
        return System().ResetSystem();
    });
}

// --- Parameter and home files ---

HRESULT CKelInstallSystem::AddSystemParameterFile(BSTR bstrFilePath, VARIANT_BOOL varbOverWrite) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"AddSystemParameterFile";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (IsEmpty(bstrFilePath)) return Refuse(kMethod, E_INVALIDARG, u"No parameter file specified \n");
        // Only VARIANT_TRUE overwrites; 1 does not.
        if (!System().AddSystemParameterFile(Text(bstrFilePath), varbOverWrite == VARIANT_TRUE)) {
            return Refuse(kMethod, E_FAIL, u"Filecopy failed!\n");
        }
        return S_OK;
    });
}

HRESULT CKelInstallSystem::GetSystemParameterFileList(BSTR* bstrFileList, ULONG* pCount) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"GetSystemParameterFileList";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (!bstrFileList || !pCount) return Refuse(kMethod, E_POINTER, u"Return variable not initialized\n");
        return ReturnList(kMethod, System(), &CSystem::GetSystemParameterFileList, bstrFileList, pCount);
    });
}

HRESULT CKelInstallSystem::RemoveSystemParameterFile(BSTR bstrFileName) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"RemoveSystemParameterFile";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (IsEmpty(bstrFileName)) return Refuse(kMethod, E_INVALIDARG, u"No parameter file specified \n");
        if (!System().RemoveSystemParameterFile(Text(bstrFileName))) return Refuse(kMethod, E_FAIL, u"Failed to remove file\n");
        return S_OK;
    });
}

HRESULT CKelInstallSystem::AddHomeFile(BSTR bstrFilePath, VARIANT_BOOL varbOverWrite) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"AddHomeFile";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (IsEmpty(bstrFilePath)) return Refuse(kMethod, E_INVALIDARG, u"No parameter file specified \n");
        if (!System().AddHomeFile(Text(bstrFilePath), varbOverWrite == VARIANT_TRUE)) {
            return Refuse(kMethod, E_FAIL, u"Filecopy failed\n");
        }
        return S_OK;
    });
}

HRESULT CKelInstallSystem::GetHomeFileList(BSTR* bstrFileList, ULONG* pCount) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"GetHomeFileList";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (!bstrFileList || !pCount) return Refuse(kMethod, E_POINTER, u"Return variable not initialized\n");
        return ReturnList(kMethod, System(), &CSystem::GetHomeFileList, bstrFileList, pCount);
    });
}

HRESULT CKelInstallSystem::RemoveHomeFile(BSTR bstrFileName) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"RemoveHomeFile";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (IsEmpty(bstrFileName)) return Refuse(kMethod, E_INVALIDARG, u"No parameter file specified \n");
        if (!System().RemoveHomeFile(Text(bstrFileName))) return Refuse(kMethod, E_FAIL, u"Failed to remove file\n");
        return S_OK;
    });
}

// --- Options and keystrings ---

HRESULT CKelInstallSystem::GetSystemOptions(BSTR* bstrSystemOptions) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"GetSystemOptions";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (!bstrSystemOptions) return Refuse(kMethod, E_POINTER, u"No returnpointer specified\n");
        *bstrSystemOptions = nullptr;
        UniqueBstr document;
        const HRESULT hr = System().GetSystemOptions(document);
        if (FAILED(hr)) return hr;
        *bstrSystemOptions = document.Detach();
        return S_OK;
    });
}

HRESULT CKelInstallSystem::SetSystemOptions(BSTR bstrSystemOptions) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"SetSystemOptions";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (IsEmpty(bstrSystemOptions)) return Refuse(kMethod, E_INVALIDARG, u"No system options specified\n");
        return System().AddKeystring(Text(bstrSystemOptions));
    });
}

HRESULT CKelInstallSystem::GetUsedKeystring(ProgramType Type, BSTR* bstrKeystring, ULONG* pCount) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"GetUsedKeystring";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (!bstrKeystring || !pCount) return Refuse(kMethod, E_POINTER, u"Result value cannot be empty\n");
        WString keys;
        uint32_t count = 0;
        if (FAILED(System().GetUsedKeystring(Type, keys, count))) return Refuse(kMethod, E_FAIL, u"No keystrings found!\n");
        return PutKeys(keys, count, bstrKeystring, pCount);
    });
}

HRESULT CKelInstallSystem::ReplaceKeystring(BSTR bstrOldKeystring, BSTR bstrNewKeystring) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"ReplaceKeystring";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (IsEmpty(bstrOldKeystring) || IsEmpty(bstrNewKeystring)) {
            return Refuse(kMethod, E_INVALIDARG, u"Parameter error\n");
        }
        return System().ReplaceKeystring(Text(bstrOldKeystring), Text(bstrNewKeystring));
    });
}

HRESULT CKelInstallSystem::GetSystemType(KelInstallCtrlType* Type) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"GetSystemType";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (!Type) return Refuse(kMethod, E_POINTER, u"No result parameter supplied\n");
        if (!System().GetSystemType(*Type)) return Refuse(kMethod, E_FAIL, u"Could not detect system type\n");
        return S_OK;
    });
}

HRESULT CKelInstallSystem::SetProgramPath(ProgramType Type, BSTR bstrProgramName, BSTR bstrProgramPath) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"SetProgramPath";
        if (!m_bInitialized) return NotInitialized(kMethod);
        // Only a null name is refused; the main program needs none at all.
        if (Type != Zendara && !bstrProgramName) {
            return Refuse(kMethod, E_INVALIDARG, u"Programname not specified for additional option\n");
        }
        if (IsEmpty(bstrProgramPath)) return Refuse(kMethod, E_INVALIDARG, u"Path parameter cannot be empty\n");
        return System().SetProgramPath(Type, Text(bstrProgramName), bstrProgramName != nullptr, Text(bstrProgramPath));
    });
}

HRESULT CKelInstallSystem::GetProgramPath(ProgramType Type, BSTR bstrProgramName, BSTR* bstrProgramPath) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"GetProgramPath";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (!bstrProgramPath) return Refuse(kMethod, E_POINTER, u"Pointer not initialized\n");
        if (Type != Zendara && !bstrProgramName) {
            return Refuse(kMethod, E_INVALIDARG, u"Programname not specified for additional option\n");
        }
        *bstrProgramPath = nullptr;
        WString path;
        const HRESULT hr = System().GetProgramPath(Type, Text(bstrProgramName), bstrProgramName != nullptr, path);
        return FAILED(hr) ? hr : PutText(path, bstrProgramPath);
    });
}

HRESULT CKelInstallSystem::AddAdditionalOption(BSTR bstrKey, BSTR bstrProgramPath) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"AddAdditionalOption";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (IsEmpty(bstrKey)) return Refuse(kMethod, E_INVALIDARG, u"No key specified\n");
        if (IsEmpty(bstrProgramPath)) return Refuse(kMethod, E_INVALIDARG, u"No program release specified\n");
        return System().AddAdditionalOption(Text(bstrKey), Text(bstrProgramPath));
    });
}

HRESULT CKelInstallSystem::RemoveAdditionalOption(BSTR bstrProgramName) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"RemoveAdditionalOption";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (IsEmpty(bstrProgramName)) return Refuse(kMethod, E_INVALIDARG, u"No program name specified\n");
        return System().RemoveAdditionalOption(Text(bstrProgramName));
    });
}

// --- Tag and description ---

HRESULT CKelInstallSystem::SetSystemTag(BSTR bstrTag) {
    return ComGuard([&] {
        if (!m_bInitialized) return NotInitialized(u"SetSystemTag");
        // An empty tag is a valid tag.
        if (!System().SetSystemTag(Text(bstrTag))) return Refuse(u"SetSystemTag", E_FAIL, u"Error storing system tag\n");
        return S_OK;
    });
}

HRESULT CKelInstallSystem::GetSystemTag(BSTR* bstrTag) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"GetSystemTag";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (!bstrTag) return Refuse(kMethod, E_POINTER, u"Result value cannot be empty\n");
        *bstrTag = nullptr;
        WString tag;
        if (!System().GetSystemTag(tag)) return Refuse(kMethod, E_FAIL, u"Error retrieving system tag\n");
        return PutText(tag, bstrTag);
    });
}

HRESULT CKelInstallSystem::GetSystemInfo(BSTR* bstrInfoXML) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"GetSystemInfo";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (!bstrInfoXML) return Refuse(kMethod, E_POINTER, u"Result value cannot be empty\n");
        *bstrInfoXML = nullptr;
        WString text;
        if (FAILED(System().GetSystemInfo(text))) return Refuse(kMethod, E_FAIL, u"Error retrieving system info\n");
        return PutText(text, bstrInfoXML);
    });
}

// --- Drive modules ---

HRESULT CKelInstallSystem::AddDriveModule(BSTR bstrKey, unsigned short wModuleNr) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"AddDriveModule";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (IsEmpty(bstrKey)) return Refuse(kMethod, E_INVALIDARG, u"No key specified\n");
        if (wModuleNr == 0) return Refuse(kMethod, E_INVALIDARG, u"Module nr cannot be zero!\n");
        return System().AddDriveModule(Text(bstrKey), wModuleNr);
    });
}

HRESULT CKelInstallSystem::RemoveDriveModule(unsigned short wModuleNr) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"RemoveDriveModule";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (wModuleNr == 0) return Refuse(kMethod, E_INVALIDARG, u"Module nr cannot be zero!\n");
        return System().RemoveDriveModule(wModuleNr);
    });
}

HRESULT CKelInstallSystem::GetDriveModuleKeys(BSTR* bstrKeystring, ULONG* pCount) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"GetDriveModuleKeys";
        if (!m_bInitialized) return NotInitialized(kMethod);
        if (!bstrKeystring || !pCount) return Refuse(kMethod, E_POINTER, u"Result value cannot be empty\n");
        WString keys;
        uint32_t count = 0;
        if (FAILED(System().GetDriveModuleKeys(keys, count))) return Refuse(kMethod, E_FAIL, u"No keystrings found!\n");
        return PutKeys(keys, count, bstrKeystring, pCount);
    });
}

// --- Backups ---

HRESULT CKelInstallSystem::CheckBackup(BSTR bstrBackupPath, BSTR* bstrKeystring, ULONG* pCount) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"CheckBackup";
        if (Text(bstrBackupPath).size() > kMaxPath) {
            return Refuse(kMethod, kStatusPathTooLong, Format(u"Path cannot exceed %d\n", kMaxPath));
        }
        if (!bstrKeystring || !pCount) return Refuse(kMethod, E_POINTER, u"Result value cannot be null\n");
        // A failure leaves no stale value behind for a caller that reads it anyway.
        *bstrKeystring = nullptr;
        *pCount = 0;
        WString keys;
        uint32_t count = 0;
        const HRESULT hr = CBackupSupport(m_message).CheckBackup(Text(bstrBackupPath), keys, count);
        if (FAILED(hr)) return hr;
        *pCount = count;
        return count ? PutText(keys, bstrKeystring) : hr;
    });
}

HRESULT CKelInstallSystem::InitBackup(BSTR bstrBackupPath, BSTR bstrSystemPath, BSTR bstrZDReleasePath,
                                      BSTR bstrAdditionalPrgPath, ULONG nAddPrgCount) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"InitBackup";
        if (Text(bstrBackupPath).size() > kMaxPath) {
            return Refuse(kMethod, kStatusPathTooLong, Format(u"Backup path cannot exceed %d\n", kMaxPath));
        }
        HRESULT hr = CheckSystemPath(bstrSystemPath);
        if (FAILED(hr)) return hr;
        if (Text(bstrZDReleasePath).size() > kMaxPath) {
            return Refuse(kMethod, kStatusPathTooLong, Format(u"Backup path cannot exceed %d\n", kMaxPath));
        }
        hr = CheckNewSystemPath(kMethod, bstrSystemPath, kMaxRestoredSystemPath);
        if (FAILED(hr)) return hr;
        m_bInitialized = false;
        hr = System().InitBackup(Text(bstrBackupPath), Text(bstrSystemPath), Text(bstrZDReleasePath),
                                 Text(bstrAdditionalPrgPath), nAddPrgCount);
        if (FAILED(hr)) return hr;
        hr = static_cast<IKelInstallSystem*>(this)->InitSystem(bstrSystemPath);
        if (SUCCEEDED(hr)) {
            UniqueBstr noName = UniqueBstr::From(u"");
            hr = noName.get() ? static_cast<IKelInstallSystem*>(this)->SetProgramPath(Zendara, noName.get(), bstrZDReleasePath)
                              : E_OUTOFMEMORY;
        }
        if (FAILED(hr)) {
            // The system this call made does not open as asked: it goes again, so that a retry can make it.
            m_bInitialized = false;
            RemoveDirectoryTree(Text(bstrSystemPath));
            Refuse(kMethod, hr, u"The restored system does not open with the given releases; it was removed\n");
        }
        return hr;
    });
}

HRESULT CKelInstallSystem::GetBackupInfo(BSTR bstrPath, BSTR* bstrSystemXml) {
    return ComGuard([&] {
        constexpr const char16_t* kMethod = u"GetBackupInfo";
        if (Text(bstrPath).size() > kMaxPath) {
            return Refuse(kMethod, kStatusPathTooLong, Format(u"Path cannot exceed %d\n", kMaxPath));
        }
        if (!bstrSystemXml) return Refuse(kMethod, E_POINTER, u"Result value cannot be null\n");
        *bstrSystemXml = nullptr;
        WString text;
        const HRESULT hr = CBackupSupport(m_message).GetBackupInfo(Text(bstrPath), text);
        return FAILED(hr) ? hr : PutText(text, bstrSystemXml);
    });
}

// --- Program notices ---

HRESULT CKelInstallSystem::GetNextProgramNotice(BSTR* pbstrNotice) {
    return ComGuard([&] {
        // A string already there would leak if overwritten: refuse without touching it.
        if (!pbstrNotice || *pbstrNotice) return E_INVALIDARG;
        WString notice;
        if (!m_pSystem->PopProgramNotice(notice)) return S_FALSE;
        UniqueBstr copy = UniqueBstr::From(notice);
        if (!copy.get()) {
            m_pSystem->PushProgramNotice(std::move(notice));
            return E_OUTOFMEMORY;
        }
        *pbstrNotice = copy.Detach();
        return S_OK;
    });
}

}  // namespace kel
