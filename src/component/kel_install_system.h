// The component object: argument checks, the "initialized" gate, and
// forwarding to the system object.
#pragma once

#include <atomic>
#include <memory>

#include "KelInstallSystem.h"
#include "platform/raii.h"
#include "platform/text.h"

namespace kel {

class CSystem;

class CKelInstallSystem : public IKelInstallSystem, public IKelInstallSystem2, public IKelInstallSystem3 {
public:
    // A new object with no references; outer is the controlling unknown when aggregated.
    explicit CKelInstallSystem(IUnknown* outer);
    virtual ~CKelInstallSystem();
    CKelInstallSystem(const CKelInstallSystem&) = delete;
    CKelInstallSystem& operator=(const CKelInstallSystem&) = delete;

    // Makes the system object; E_FAIL when that fails.
    HRESULT FinalConstruct();
    // The object's own IUnknown: the one an aggregating outer object holds.
    IUnknown* NonDelegatingUnknown() { return &m_inner; }

    // IUnknown (delegates to the outer object when aggregated)
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

    // Length, backslash, name length and name characters of a system path.
    HRESULT CheckSystemPath(BSTR path);

    bool IsInitialized() const { return m_bInitialized != 0; }
    CSystem& SystemObject() { return *m_pSystem; }
    WStringView StoredSystemPath() const { return m_bstrSystemPath.View(); }

private:
    class Inner : public IUnknown {
    public:
        explicit Inner(CKelInstallSystem& owner) : m_owner(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;

    private:
        CKelInstallSystem& m_owner;
    };

    HRESULT Refuse(const char16_t* method, HRESULT status, WStringView text);
    bool StorePath(BSTR path);

    std::unique_ptr<CSystem> m_pSystem;
    UniqueBstr m_bstrSystemPath;
    int32_t m_bInitialized = 0;
    WString m_message;

    std::atomic<ULONG> m_refCount{0};
    IUnknown* m_outer;
    Inner m_inner{*this};
};

}  // namespace kel
