// The KelInstallSystem component object: argument checks and status codes in
// front of the one system object it owns.
#pragma once

#include <atomic>
#include <memory>

#include "KelInstallSystem.h"
#include "platform/raii.h"
#include "system/system.h"

namespace kel {

inline constexpr HRESULT kStatusPathTooLong = KELINSTALL_E_PATH_TOO_LONG;
inline constexpr HRESULT kStatusNameTooLong = KELINSTALL_E_NAME_TOO_LONG;

class CKelInstallSystem final : public IKelInstallSystem, public IKelInstallSystem2, public IKelInstallSystem3 {
public:
    // With an outer object the new object is aggregated and riid must be IUnknown
    // (the class factory enforces that).
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);

    // Length limits and the system-name character set; nothing before the last
    // backslash is examined.
    static HRESULT CheckSystemPath(const OLECHAR* path);

    // IUnknown: delegated to the controlling object.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IKelInstallSystem
    HRESULT STDMETHODCALLTYPE CreateSystem(BSTR bstrSystemPath, BSTR bstrKey, BSTR bstrProgramPath) override;
    HRESULT STDMETHODCALLTYPE InitSystem(BSTR bstrSystemPath) override;
    HRESULT STDMETHODCALLTYPE ResetSystem() override;
    HRESULT STDMETHODCALLTYPE AddSystemParameterFile(BSTR bstrFilePath, VARIANT_BOOL varbOverWrite) override;
    HRESULT STDMETHODCALLTYPE GetSystemParameterFileList(BSTR* bstrFileList, ULONG* pCount) override;
    HRESULT STDMETHODCALLTYPE RemoveSystemParameterFile(BSTR bstrFileName) override;
    HRESULT STDMETHODCALLTYPE AddHomeFile(BSTR bstrFilePath, VARIANT_BOOL varbOverWrite) override;
    HRESULT STDMETHODCALLTYPE GetHomeFileList(BSTR* bstrFileList, ULONG* pCount) override;
    HRESULT STDMETHODCALLTYPE RemoveHomeFile(BSTR bstrFileName) override;
    HRESULT STDMETHODCALLTYPE GetSystemOptions(BSTR* bstrSystemOptions) override;
    HRESULT STDMETHODCALLTYPE SetSystemOptions(BSTR bstrSystemOptions) override;
    HRESULT STDMETHODCALLTYPE GetUsedKeystring(ProgramType Type, BSTR* bstrKeystring, ULONG* pCount) override;
    HRESULT STDMETHODCALLTYPE ReplaceKeystring(BSTR bstrOldKeystring, BSTR bstrNewKeystring) override;
    HRESULT STDMETHODCALLTYPE GetSystemType(KelInstallCtrlType* Type) override;
    HRESULT STDMETHODCALLTYPE SetProgramPath(ProgramType Type, BSTR bstrProgramName, BSTR bstrProgramPath) override;
    HRESULT STDMETHODCALLTYPE GetProgramPath(ProgramType Type, BSTR bstrProgramName, BSTR* bstrProgramPath) override;
    HRESULT STDMETHODCALLTYPE AddAdditionalOption(BSTR bstrKey, BSTR bstrProgramPath) override;
    HRESULT STDMETHODCALLTYPE RemoveAdditionalOption(BSTR bstrProgramName) override;
    HRESULT STDMETHODCALLTYPE SetSystemTag(BSTR bstrTag) override;
    HRESULT STDMETHODCALLTYPE GetSystemTag(BSTR* bstrTag) override;
    HRESULT STDMETHODCALLTYPE GetSystemInfo(BSTR* bstrInfoXML) override;
    HRESULT STDMETHODCALLTYPE AddDriveModule(BSTR bstrKey, unsigned short wModuleNr) override;
    HRESULT STDMETHODCALLTYPE RemoveDriveModule(unsigned short wModuleNr) override;
    HRESULT STDMETHODCALLTYPE GetDriveModuleKeys(BSTR* bstrKeystring, ULONG* pCount) override;
    HRESULT STDMETHODCALLTYPE CheckBackup(BSTR bstrBackupPath, BSTR* bstrKeystring, ULONG* pCount) override;
    HRESULT STDMETHODCALLTYPE InitBackup(BSTR bstrBackupPath, BSTR bstrSystemPath, BSTR bstrZDReleasePath,
                                         BSTR bstrAdditionalPrgPath, ULONG nAddPrgCount) override;
    HRESULT STDMETHODCALLTYPE GetBackupInfo(BSTR bstrPath, BSTR* bstrSystemXml) override;

    // IKelInstallSystem2
    HRESULT STDMETHODCALLTYPE InitSystem2(BSTR bstrSystemPath, HRESULT* pHresult) override;

    // IKelInstallSystem3
    HRESULT STDMETHODCALLTYPE GetNextProgramNotice(BSTR* pbstrNotice) override;

    CSystem& System() { return *m_pSystem; }
    // The path last given to CreateSystem or InitSystem; null before.
    const OLECHAR* SystemPath() const { return m_bstrSystemPath.get(); }
    bool IsInitialized() const { return m_bInitialized; }
    // Lets tests reach the argument checks of methods that need an open system.
    void MarkInitializedForTesting() { m_bInitialized = true; }

private:
    // The non-delegating IUnknown that an aggregating outer object holds.
    class InnerUnknown final : public IUnknown {
    public:
        explicit InnerUnknown(CKelInstallSystem& owner) : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;

    private:
        CKelInstallSystem& owner_;
    };

    explicit CKelInstallSystem(IUnknown* outer);
    ~CKelInstallSystem();
    CKelInstallSystem(const CKelInstallSystem&) = delete;
    CKelInstallSystem& operator=(const CKelInstallSystem&) = delete;

    HRESULT FinalConstruct();
    // kStatusPathTooLong, traced, when a new system's files would not fit below path.
    static HRESULT CheckNewSystemPath(const char16_t* method, const OLECHAR* path, std::size_t limit);
    HRESULT StorePath(BSTR bstrSystemPath);

    std::unique_ptr<CSystem> m_pSystem;
    UniqueBstr m_bstrSystemPath;
    bool m_bInitialized = false;
    WString m_message;  // the last formatted message of a backup check or reading

    InnerUnknown inner_;
    IUnknown* controlling_;
    std::atomic<ULONG> refs_{0};
};

}  // namespace kel
