// Public interface of the KelInstallSystem component, for C++ clients on
// Windows (KelInstallSystem.dll, activated through COM) and Linux
// (libKelInstallSystem.so, activated through DllGetClassObject).
//
// The declarations match the type library KELINSTALLSYSTEMLib built into the
// DLL; IKelInstallSystem3 is not in the type library.
#pragma once

#include "KelCom.h"

#if defined(_MSC_VER)
#define KELINSTALL_INTERFACE(iid) struct __declspec(uuid(iid)) __declspec(novtable)
#else
#define KELINSTALL_INTERFACE(iid) struct
#endif

// Kind of program release; used as a selector and as a bit set.
enum ProgramType {
    None = 0,
    Zendara = 1,
    Orvane = 1,
    ExternalWithOptions = 2,
    ExternalWithoutOptions = 4,
    BootServer = 8,
    FailSafe = 16,
    External = 6,
    AdditionalOption = 6
};

// Kind of controller a system is for.
enum KelInstallCtrlType {
    KelInstallCtrlType_RC = 1,  // real controller
    KelInstallCtrlType_VC = 2   // virtual controller
};

// {F0FDF787-B3C3-4B3F-9A1B-88C048173DC0}
inline constexpr CLSID CLSID_KelInstallSystem = {
    0xF0FDF787, 0xB3C3, 0x4B3F, {0x9A, 0x1B, 0x88, 0xC0, 0x48, 0x17, 0x3D, 0xC0}};
// {04CE16FC-9D04-407A-9C84-F7710C8F4ED4}, version 1.0
inline constexpr GUID LIBID_KELINSTALLSYSTEMLib = {
    0x04CE16FC, 0x9D04, 0x407A, {0x9C, 0x84, 0xF7, 0x71, 0x0C, 0x8F, 0x4E, 0xD4}};
// {9E2051A1-4DCE-4C2E-B923-48F0D521C771}
inline constexpr IID IID_IKelInstallSystem = {
    0x9E2051A1, 0x4DCE, 0x4C2E, {0xB9, 0x23, 0x48, 0xF0, 0xD5, 0x21, 0xC7, 0x71}};
// {B3C6497E-10FB-4945-A4C9-00E2861EDB97}
inline constexpr IID IID_IKelInstallSystem2 = {
    0xB3C6497E, 0x10FB, 0x4945, {0xA4, 0xC9, 0x00, 0xE2, 0x86, 0x1E, 0xDB, 0x97}};
// {980B5298-9E36-4CD5-B708-9FAAA796C22B}
inline constexpr IID IID_IKelInstallSystem3 = {
    0x980B5298, 0x9E36, 0x4CD5, {0xB7, 0x08, 0x9F, 0xAA, 0xA7, 0x96, 0xC2, 0x2B}};

// Counts are 32-bit on both platforms (ULONG, not the 64-bit unsigned long of Linux).
KELINSTALL_INTERFACE("9E2051A1-4DCE-4C2E-B923-48F0D521C771") IKelInstallSystem : public IUnknown {
    // Makes a new system in the pool and opens it: docs/api.md#createsystem
    virtual HRESULT STDMETHODCALLTYPE CreateSystem(BSTR bstrSystemPath, BSTR bstrKey, BSTR bstrProgramPath) = 0;
    // Opens an existing system: docs/api.md#initsystem
    virtual HRESULT STDMETHODCALLTYPE InitSystem(BSTR bstrSystemPath) = 0;
    // Back to what the main key alone gives: docs/api.md#resetsystem
    virtual HRESULT STDMETHODCALLTYPE ResetSystem() = 0;
    // Copies a file into SYSPAR: docs/api.md#addsystemparameterfile
    virtual HRESULT STDMETHODCALLTYPE AddSystemParameterFile(BSTR bstrFilePath, VARIANT_BOOL varbOverWrite) = 0;
    // The files of SYSPAR: docs/api.md#getsystemparameterfilelist
    virtual HRESULT STDMETHODCALLTYPE GetSystemParameterFileList(BSTR* bstrFileList, ULONG* pCount) = 0;
    // Deletes a file of SYSPAR: docs/api.md#removesystemparameterfile
    virtual HRESULT STDMETHODCALLTYPE RemoveSystemParameterFile(BSTR bstrFileName) = 0;
    // Copies a file into HOME: docs/api.md#addhomefile
    virtual HRESULT STDMETHODCALLTYPE AddHomeFile(BSTR bstrFilePath, VARIANT_BOOL varbOverWrite) = 0;
    // The files of HOME: docs/api.md#gethomefilelist
    virtual HRESULT STDMETHODCALLTYPE GetHomeFileList(BSTR* bstrFileList, ULONG* pCount) = 0;
    // Deletes a file of HOME: docs/api.md#removehomefile
    virtual HRESULT STDMETHODCALLTYPE RemoveHomeFile(BSTR bstrFileName) = 0;
    // The option selection document: docs/api.md#getsystemoptions
    virtual HRESULT STDMETHODCALLTYPE GetSystemOptions(BSTR* bstrSystemOptions) = 0;
    // Stores an option selection document: docs/api.md#setsystemoptions
    virtual HRESULT STDMETHODCALLTYPE SetSystemOptions(BSTR bstrSystemOptions) = 0;
    // The main key, or the additional options' keys: docs/api.md#getusedkeystring
    virtual HRESULT STDMETHODCALLTYPE GetUsedKeystring(ProgramType Type, BSTR* bstrKeystring, ULONG* pCount) = 0;
    // Replaces a loaded keystring: docs/api.md#replacekeystring
    virtual HRESULT STDMETHODCALLTYPE ReplaceKeystring(BSTR bstrOldKeystring, BSTR bstrNewKeystring) = 0;
    // Real or virtual controller: docs/api.md#getsystemtype
    virtual HRESULT STDMETHODCALLTYPE GetSystemType(KelInstallCtrlType* Type) = 0;
    // Points a program at another release folder: docs/api.md#setprogrampath
    virtual HRESULT STDMETHODCALLTYPE SetProgramPath(ProgramType Type, BSTR bstrProgramName, BSTR bstrProgramPath) = 0;
    // A program's release folder: docs/api.md#getprogrampath
    virtual HRESULT STDMETHODCALLTYPE GetProgramPath(ProgramType Type, BSTR bstrProgramName, BSTR* bstrProgramPath) = 0;
    // Adds an additional option program: docs/api.md#addadditionaloption
    virtual HRESULT STDMETHODCALLTYPE AddAdditionalOption(BSTR bstrKey, BSTR bstrProgramPath) = 0;
    // Removes an additional option program: docs/api.md#removeadditionaloption
    virtual HRESULT STDMETHODCALLTYPE RemoveAdditionalOption(BSTR bstrProgramName) = 0;
    // Stores the tag (info.txt): docs/api.md#setsystemtag
    virtual HRESULT STDMETHODCALLTYPE SetSystemTag(BSTR bstrTag) = 0;
    // The tag: docs/api.md#getsystemtag
    virtual HRESULT STDMETHODCALLTYPE GetSystemTag(BSTR* bstrTag) = 0;
    // system.xml as text: docs/api.md#getsysteminfo
    virtual HRESULT STDMETHODCALLTYPE GetSystemInfo(BSTR* bstrInfoXML) = 0;
    // Adds a drive module: docs/api.md#adddrivemodule
    virtual HRESULT STDMETHODCALLTYPE AddDriveModule(BSTR bstrKey, unsigned short wModuleNr) = 0;
    // Removes a drive module: docs/api.md#removedrivemodule
    virtual HRESULT STDMETHODCALLTYPE RemoveDriveModule(unsigned short wModuleNr) = 0;
    // The drive modules' keys: docs/api.md#getdrivemodulekeys
    virtual HRESULT STDMETHODCALLTYPE GetDriveModuleKeys(BSTR* bstrKeystring, ULONG* pCount) = 0;
    // Whether a folder is a backup, and its keys: docs/api.md#checkbackup
    virtual HRESULT STDMETHODCALLTYPE CheckBackup(BSTR bstrBackupPath, BSTR* bstrKeystring, ULONG* pCount) = 0;
    // Restores a backup as a new system and opens it: docs/api.md#initbackup
    virtual HRESULT STDMETHODCALLTYPE InitBackup(BSTR bstrBackupPath, BSTR bstrSystemPath, BSTR bstrZDReleasePath,
                                                 BSTR bstrAdditionalPrgPath, ULONG nAddPrgCount) = 0;
    // A backup's system.xml as text: docs/api.md#getbackupinfo
    virtual HRESULT STDMETHODCALLTYPE GetBackupInfo(BSTR bstrPath, BSTR* bstrSystemXml) = 0;
};

// For clients that cannot see failure codes: the status comes back in pHresult.
KELINSTALL_INTERFACE("B3C6497E-10FB-4945-A4C9-00E2861EDB97") IKelInstallSystem2 : public IUnknown {
    // InitSystem with the status in an out parameter: docs/api.md#initsystem2
    virtual HRESULT STDMETHODCALLTYPE InitSystem2(BSTR bstrSystemPath, HRESULT* pHresult) = 0;
};

KELINSTALL_INTERFACE("980B5298-9E36-4CD5-B708-9FAAA796C22B") IKelInstallSystem3 : public IUnknown {
    // The next program whose selection a build changed (*pbstrNotice null on entry): docs/api.md#getnextprogramnotice
    virtual HRESULT STDMETHODCALLTYPE GetNextProgramNotice(BSTR* pbstrNotice) = 0;
};

#undef KELINSTALL_INTERFACE

// Status codes of the component besides the standard ones.
#define KELINSTALL_S_MODULE_NOT_LOADED ((HRESULT)0x00040540L)
// A success: the change is decided and the object holds it, but a file of the
// system was blocked; the next open of the system finishes putting it in.
#define KELINSTALL_S_PENDING ((HRESULT)0x00040541L)
#define KELINSTALL_E_READ_KEYS ((HRESULT)0xC0040501L)
#define KELINSTALL_E_CREATE_DIRECTORY ((HRESULT)0xC0040506L)
#define KELINSTALL_E_GUID_FILE ((HRESULT)0xC0040509L)
#define KELINSTALL_E_WRITE_PROGRAM_LIST ((HRESULT)0xC004050BL)
#define KELINSTALL_E_WORK_AREA ((HRESULT)0xC004050CL)
#define KELINSTALL_E_RESET ((HRESULT)0xC004050DL)
#define KELINSTALL_E_EXISTS ((HRESULT)0xC004051BL)
#define KELINSTALL_E_BAD_KEY ((HRESULT)0xC004051CL)
#define KELINSTALL_E_NO_RELKEY ((HRESULT)0xC004051DL)
#define KELINSTALL_E_NO_RELEASE ((HRESULT)0xC004051EL)
#define KELINSTALL_E_WRITE_CONFIG ((HRESULT)0xC004051FL)
#define KELINSTALL_E_ALREADY_LOADED ((HRESULT)0xC0040521L)
#define KELINSTALL_E_BAD_PROGRAM_PATH ((HRESULT)0xC0040522L)
// Another object or process holds the system longer than a call waits (10 s),
// or changed it since this object opened it: open it again.
#define KELINSTALL_E_BUSY ((HRESULT)0xC0040530L)
#define KELINSTALL_E_PATH_TOO_LONG ((HRESULT)0xC0040538L)
#define KELINSTALL_E_NAME_TOO_LONG ((HRESULT)0xC0040539L)

#if defined(__MINGW32__) && defined(__CRT_UUID_DECL)
// Lets __uuidof and IID_PPV_ARGS work with mingw-w64.
__CRT_UUID_DECL(IKelInstallSystem, 0x9E2051A1, 0x4DCE, 0x4C2E, 0xB9, 0x23, 0x48, 0xF0, 0xD5, 0x21, 0xC7, 0x71)
__CRT_UUID_DECL(IKelInstallSystem2, 0xB3C6497E, 0x10FB, 0x4945, 0xA4, 0xC9, 0x00, 0xE2, 0x86, 0x1E, 0xDB, 0x97)
__CRT_UUID_DECL(IKelInstallSystem3, 0x980B5298, 0x9E36, 0x4CD5, 0xB7, 0x08, 0x9F, 0xAA, 0xA7, 0x96, 0xC2, 0x2B)
#endif

#if !defined(_WIN32)
// Entry points of libKelInstallSystem.so. Out strings are allocated with the
// library's SysAllocString and freed with its SysFreeString (see KelCom.h).
// docs/api.md#exported-functions
extern "C" {
__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
__attribute__((visibility("default"))) HRESULT DllCanUnloadNow();
// There is no class registry on Linux: both check the built-in registry script.
__attribute__((visibility("default"))) HRESULT DllRegisterServer();
__attribute__((visibility("default"))) HRESULT DllUnregisterServer();
// Receives each of the five pieces of every failure trace, in order; null removes it.
__attribute__((visibility("default"))) void KelInstallSetTraceSink(void (*sink)(const char16_t* piece, void* context),
                                                                   void* context);
}
#endif
