// A client that sees only the built library's entry points, its class factory
// and its BSTR functions.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "KelInstallSystem.h"
#include "platform/os.h"

namespace {

struct Library {
    kel::os::DynamicLibrary library;
    HRESULT(STDMETHODCALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDMETHODCALLTYPE* canUnloadNow)() = nullptr;
    BSTR (*allocString)(const OLECHAR*) = nullptr;
    void (*freeString)(BSTR) = nullptr;

    bool Load() {
#ifdef _WIN32
        if (!library.Open("KelInstallSystem.dll")) return false;
        allocString = [](const OLECHAR* text) { return ::SysAllocString(text); };
        freeString = [](BSTR text) { ::SysFreeString(text); };
#else
        if (!library.Open(KEL_LIBRARY_PATH)) return false;
        allocString = reinterpret_cast<decltype(allocString)>(library.Symbol("SysAllocString"));
        freeString = reinterpret_cast<decltype(freeString)>(library.Symbol("SysFreeString"));
#endif
        getClassObject = reinterpret_cast<decltype(getClassObject)>(library.Symbol("DllGetClassObject"));
        canUnloadNow = reinterpret_cast<decltype(canUnloadNow)>(library.Symbol("DllCanUnloadNow"));
        return getClassObject && canUnloadNow && allocString && freeString;
    }

    BSTR Str(const std::u16string& text) { return allocString(reinterpret_cast<const OLECHAR*>(text.c_str())); }
};

#ifndef _WIN32
std::vector<std::u16string>* g_pieces = nullptr;
void Collect(const char16_t* piece, void*) {
    if (g_pieces) g_pieces->push_back(piece);
}
#endif

TEST(ComponentClient, AFreshObjectRefusesEveryInitMethodAndChecksPaths) {
    Library lib;
    ASSERT_TRUE(lib.Load());
    EXPECT_EQ(lib.getClassObject(CLSID_KelInstallSystem, IID_IClassFactory, nullptr), E_POINTER);
    void* raw = nullptr;
    EXPECT_EQ(lib.getClassObject(IID_IKelInstallSystem, IID_IClassFactory, &raw), CLASS_E_CLASSNOTAVAILABLE);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(lib.getClassObject(CLSID_KelInstallSystem, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IKelInstallSystem* system = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKelInstallSystem, reinterpret_cast<void**>(&system)), S_OK);
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);

#ifndef _WIN32
    std::vector<std::u16string> pieces;
    g_pieces = &pieces;
    auto setSink = reinterpret_cast<void (*)(void (*)(const char16_t*, void*), void*)>(
        lib.library.Symbol("KelInstallSetTraceSink"));
    ASSERT_NE(setSink, nullptr);
    setSink(&Collect, nullptr);
#endif

    BSTR name = lib.Str(u"file.cfg");
    BSTR out = nullptr;
    ULONG count = 0;
    KelInstallCtrlType type;
    const std::vector<std::function<HRESULT()>> initMethods = {
        [&] { return system->ResetSystem(); },
        [&] { return system->AddSystemParameterFile(name, VARIANT_TRUE); },
        [&] { return system->GetSystemParameterFileList(&out, &count); },
        [&] { return system->RemoveSystemParameterFile(name); },
        [&] { return system->AddHomeFile(name, VARIANT_TRUE); },
        [&] { return system->GetHomeFileList(&out, &count); },
        [&] { return system->RemoveHomeFile(name); },
        [&] { return system->GetSystemOptions(&out); },
        [&] { return system->SetSystemOptions(name); },
        [&] { return system->GetUsedKeystring(Zendara, &out, &count); },
        [&] { return system->ReplaceKeystring(name, name); },
        [&] { return system->GetSystemType(&type); },
        [&] { return system->SetProgramPath(Zendara, nullptr, name); },
        [&] { return system->GetProgramPath(Zendara, nullptr, &out); },
        [&] { return system->AddAdditionalOption(name, name); },
        [&] { return system->RemoveAdditionalOption(name); },
        [&] { return system->SetSystemTag(name); },
        [&] { return system->GetSystemTag(&out); },
        [&] { return system->GetSystemInfo(&out); },
        [&] { return system->AddDriveModule(name, 1); },
        [&] { return system->RemoveDriveModule(1); },
        [&] { return system->GetDriveModuleKeys(&out, &count); },
    };
    for (std::size_t i = 0; i < initMethods.size(); ++i) {
        EXPECT_EQ(initMethods[i](), E_ABORT) << "method " << i;
    }
    EXPECT_EQ(out, nullptr);
#ifndef _WIN32
    ASSERT_EQ(pieces.size(), 5 * initMethods.size());
    EXPECT_EQ(pieces[0], u"ReleaseErrorTrace: \nFile: ");
    EXPECT_EQ(pieces[1], u"KelInstallSystemImpl");
    EXPECT_EQ(pieces[3], u"CKelInstallSystem::ResetSystem: No system is initialized\n");
    EXPECT_EQ(pieces[5 * 21 + 3], u"CKelInstallSystem::GetDriveModuleKeys: No system is initialized\n");
    setSink(nullptr, nullptr);
    g_pieces = nullptr;
#endif

    IKelInstallSystem2* system2 = nullptr;
    ASSERT_EQ(system->QueryInterface(IID_IKelInstallSystem2, reinterpret_cast<void**>(&system2)), S_OK);
    HRESULT stored = S_OK;
    const std::u16string pool = u"Z:\\pool\\";
    const struct {
        std::u16string path;
        HRESULT status;
    } paths[] = {
        {pool + std::u16string(261 - pool.size(), u'a'), KELINSTALL_E_PATH_TOO_LONG},
        {pool + std::u16string(81, u'a'), KELINSTALL_E_NAME_TOO_LONG},
        {pool + u"My System", E_INVALIDARG},
        {pool + u"a\u00d7b", E_INVALIDARG},
        {pool + u"a/b", E_INVALIDARG},
        {u"no-backslash", E_INVALIDARG},
    };
    for (const auto& c : paths) {
        BSTR path = lib.Str(c.path);
        EXPECT_EQ(system2->InitSystem2(path, &stored), S_OK);
        EXPECT_EQ(stored, c.status) << std::string(c.path.begin(), c.path.end());
        lib.freeString(path);
    }
    EXPECT_EQ(system2->InitSystem2(name, nullptr), E_POINTER);

    IKelInstallSystem3* system3 = nullptr;
    ASSERT_EQ(system->QueryInterface(IID_IKelInstallSystem3, reinterpret_cast<void**>(&system3)), S_OK);
    BSTR notice = nullptr;
    EXPECT_EQ(system3->GetNextProgramNotice(&notice), S_FALSE);
    EXPECT_EQ(notice, nullptr);
    BSTR held = name;
    EXPECT_EQ(system3->GetNextProgramNotice(&held), E_INVALIDARG);
    EXPECT_EQ(held, name);
    EXPECT_EQ(system3->GetNextProgramNotice(nullptr), E_INVALIDARG);
    lib.freeString(name);

    system3->Release();
    system2->Release();
    EXPECT_EQ(system->Release(), 0u);
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
    factory->Release();
}

}  // namespace
