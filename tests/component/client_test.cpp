// The built library as a client sees it: loaded at run time and reached only
// through its exported entry points and the class factory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KelInstallSystem.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "platform/shell_file_op.h"
#include "shared/keystring.h"
#include "support/test_support.h"

namespace kel::test {
namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using SimpleEntryFn = HRESULT (*)();
using TraceSinkFn = void (*)(const char16_t*, void*);
using SetTraceSinkFn = void (*)(TraceSinkFn, void*);

class Library {
public:
    Library() {
#if defined(_WIN32)
        loaded_ = library_.Open("KelInstallSystem.dll");  // beside the test program
#else
        loaded_ = library_.Open(KEL_LIBRARY_PATH);
#endif
        getClassObject = Resolve<GetClassObjectFn>("DllGetClassObject");
        canUnloadNow = Resolve<SimpleEntryFn>("DllCanUnloadNow");
        registerServer = Resolve<SimpleEntryFn>("DllRegisterServer");
        unregisterServer = Resolve<SimpleEntryFn>("DllUnregisterServer");
    }

    bool ready() const { return loaded_ && getClassObject && canUnloadNow && registerServer && unregisterServer; }

    template <class Fn>
    Fn Resolve(const char* name) const {
        return reinterpret_cast<Fn>(library_.Symbol(name));
    }

    ComPtr<IClassFactory> Factory() const {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(getClassObject(CLSID_KelInstallSystem, IID_IClassFactory, factory.PutVoid()), S_OK);
        return factory;
    }

    ComPtr<IKelInstallSystem> New() const {
        ComPtr<IKelInstallSystem> object;
        if (auto factory = Factory()) {
            EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKelInstallSystem, object.PutVoid()), S_OK);
        }
        return object;
    }

    GetClassObjectFn getClassObject = nullptr;
    SimpleEntryFn canUnloadNow = nullptr;
    SimpleEntryFn registerServer = nullptr;
    SimpleEntryFn unregisterServer = nullptr;

private:
    os::DynamicLibrary library_;
    bool loaded_ = false;
};

TEST(ComponentClient, ModuleStaysLoadedWhileObjectsFactoriesOrLocksLive) {
    Library library;
    ASSERT_TRUE(library.ready());
    EXPECT_EQ(library.canUnloadNow(), S_OK);

    auto factory = library.Factory();
    ASSERT_TRUE(factory);
    EXPECT_EQ(library.canUnloadNow(), S_FALSE);  // a held factory pins the code it points into
    ComPtr<IKelInstallSystem> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKelInstallSystem, object.PutVoid()), S_OK);
    ASSERT_EQ(factory->LockServer(1), S_OK);
    factory.Reset();
    EXPECT_EQ(library.canUnloadNow(), S_FALSE);
    object.Reset();
    EXPECT_EQ(library.canUnloadNow(), S_FALSE);  // the lock alone

    factory = library.Factory();
    ASSERT_EQ(factory->LockServer(0), S_OK);
    factory.Reset();
    EXPECT_EQ(library.canUnloadNow(), S_OK);

    void* none = &none;
    EXPECT_EQ(library.getClassObject(IID_IKelInstallSystem2, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
#if !defined(_WIN32)
    // No class registry here: both only check the built-in registry script.
    EXPECT_EQ(library.registerServer(), S_OK);
    EXPECT_EQ(library.unregisterServer(), S_OK);
#endif
}

TEST(ComponentClient, ExportsItsPlainFunctionsAndHidesTheRest) {
    Library library;
    ASSERT_TRUE(library.ready());
    for (const char* name : {"os_toupper", "os_tolower", "os_stricmp", "os_strnicmp", "os_validate_identifier", "os_strtok_r"}) {
        EXPECT_NE(library.Resolve<void*>(name), nullptr) << name;
    }
    EXPECT_EQ(library.Resolve<void*>("MakeTables"), nullptr);
#if !defined(_WIN32)
    using AllocLen = char16_t* (*)(const char16_t*, unsigned);
    using Len = unsigned (*)(char16_t*);
    using Free = void (*)(char16_t*);
    auto alloc = library.Resolve<AllocLen>("SysAllocStringLen");
    auto length = library.Resolve<Len>("SysStringLen");
    auto release = library.Resolve<Free>("SysFreeString");
    ASSERT_TRUE(alloc && length && release && library.Resolve<void*>("SysAllocString"));
    char16_t* text = alloc(u"a\0b", 3);  // counted: embedded NULs survive
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(length(text), 3u);
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<char*>(text) - 4, 4);
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(text[3], u'\0');
    release(text);
    EXPECT_EQ(length(nullptr), 0u);

    // The exported sink delivers the library's own trace. (Under Wine the
    // trace goes to the debugger channel instead.)
    std::vector<std::u16string> pieces;
    const auto setSink = library.Resolve<SetTraceSinkFn>("KelInstallSetTraceSink");
    ASSERT_NE(setSink, nullptr);
    setSink([](const char16_t* piece, void* self) { static_cast<std::vector<std::u16string>*>(self)->push_back(piece); },
            &pieces);
    {
        const auto object = library.New();
        ASSERT_TRUE(object);
        EXPECT_EQ(object->ResetSystem(), E_ABORT);
    }
    setSink(nullptr, nullptr);
    // A receiver may call back into the library and remove itself.
    struct Reentrant {
        SetTraceSinkFn setSink;
        IKelInstallSystem* object;
        int calls = 0;
    };
    {
        const auto object = library.New();
        ASSERT_TRUE(object);
        Reentrant reentrant{setSink, object.get()};
        setSink([](const char16_t*, void* self) {
                    auto& state = *static_cast<Reentrant*>(self);
                    if (++state.calls == 1) state.object->ResetSystem();  // traces again, from inside
                    state.setSink(nullptr, nullptr);
                },
                &reentrant);
        EXPECT_EQ(object->ResetSystem(), E_ABORT);
        EXPECT_GE(reentrant.calls, 2);
    }
    const std::vector<std::u16string> expected = {u"ReleaseErrorTrace: \nFile: ", u"KelInstallSystemImpl", u"\nError: ",
                                                  u"CKelInstallSystem::ResetSystem: No system is initialized\n", u"\n"};
    EXPECT_EQ(pieces, expected);
#endif
}

// What a tool does with a system, through the interface alone.
TEST(ComponentClient, SystemFromCreationToReset) {
    Library library;
    ASSERT_TRUE(library.ready());
    TempDir pool;
    const WString path = pool / u"Cell1";
    const WString release = SampleRelease(u"zendara-6.0");
    const WString arc = SampleRelease(u"arcwelding-1.2");
    const WString pick = SampleRelease(u"pickmaster-2.0");
    ASSERT_EQ(library.New()->CreateSystem(B(path).get(), B(kMainKey).get(), B(release).get()), S_OK);

    const auto system = library.New();
    ASSERT_EQ(system->InitSystem(B(path).get()), S_OK);
    ASSERT_TRUE(WriteAll(pool / u"robot.mod", "MODULE x"));
    EXPECT_EQ(system->AddHomeFile(B(pool / u"robot.mod").get(), VARIANT_FALSE), S_OK);
    EXPECT_EQ(system->AddSystemParameterFile(B(pool / u"robot.mod").get(), VARIANT_FALSE), S_OK);
    UniqueBstr list;
    ULONG count = 0;
    ASSERT_EQ(system->GetHomeFileList(list.Put(), &count), S_OK);
    EXPECT_EQ(list.View(), u"robot.mod");
    EXPECT_EQ(system->AddHomeFile(B(pool / u"robot.mod").get(), 1), E_FAIL);  // only VARIANT_TRUE overwrites
    EXPECT_EQ(system->AddHomeFile(B(pool / u"robot.mod").get(), VARIANT_TRUE), S_OK);
    EXPECT_EQ(system->RemoveSystemParameterFile(B(u"robot.mod").get()), S_OK);
    for (const char16_t* outside : {u"..\\INTERNAL\\key.id", u"..", u"sub/x", u"missing"}) {
        EXPECT_EQ(system->RemoveHomeFile(B(outside).get()), E_FAIL) << N(outside);
    }
    EXPECT_TRUE(Exists(path + u"\\INTERNAL\\key.id"));
    UniqueBstr tag;
    ASSERT_EQ(system->GetSystemTag(tag.Put()), S_OK);
    EXPECT_EQ(tag.View(), u"");
    EXPECT_EQ(system->SetSystemTag(B(u"cell 1\nline A").get()), S_OK);
    EXPECT_EQ(ReadAll(path + u"\\info.txt"), "cell 1\r\nline A");
    ASSERT_EQ(system->GetSystemTag(tag.Put()), S_OK);
    EXPECT_EQ(tag.View(), u"cell 1\nline A");

    EXPECT_EQ(system->AddAdditionalOption(B(kArcKey).get(), B(arc).get()), S_OK);
    EXPECT_EQ(system->AddAdditionalOption(B(kPickKey).get(), B(pick).get()), S_OK);
    EXPECT_EQ(system->AddDriveModule(B(kDriveKey).get(), 1), S_OK);
    EXPECT_EQ(system->AddDriveModule(B(kDriveKey).get(), 2), S_OK);
    EXPECT_EQ(system->RemoveDriveModule(1), S_OK);
    // Refused without change: a program already loaded (whatever its case), a module number in use, one not loaded.
    const WString shouting = Rekey(kArcKey, [](KeyDescription& key) { key.programName = u"ARCWELDING"; });
    EXPECT_EQ(system->AddAdditionalOption(B(shouting).get(), B(arc).get()), KELINSTALL_E_ALREADY_LOADED);
    EXPECT_EQ(system->AddDriveModule(B(kDriveKey).get(), 2), KELINSTALL_E_ALREADY_LOADED);
    EXPECT_EQ(system->RemoveDriveModule(7), static_cast<HRESULT>(0x00040540));
    const std::string internal = N(path) + "\\INTERNAL\\";
    EXPECT_EQ(ReadAll(path + u"\\INTERNAL\\keystr.txt"), "#Loaded keys in " + internal + "keystr.txt:\r\n" + N(kMainKey) +
                                                             "\r\n" + N(kArcKey) + "\r\n" + N(kPickKey) + "\r\n" +
                                                             N(kDriveKey) + "\t2\r\n");

    // A new option selection: the main program's language becomes German.
    UniqueBstr options;
    ASSERT_EQ(system->GetSystemOptions(options.Put()), S_OK);
    WString text(options.View());
    ASSERT_TRUE(SelectGerman(text));
    EXPECT_EQ(system->SetSystemOptions(B(text).get()), S_OK);
    EXPECT_NE(Unsealed(path + u"\\INTERNAL\\key.id").find("#CKeyId seldesc German\n"), std::string::npos);

    UniqueBstr value;
    ASSERT_EQ(system->GetProgramPath(ExternalWithOptions, B(u"ArcWelding").get(), value.Put()), S_OK);
    EXPECT_EQ(value.View(), arc);
    EXPECT_EQ(system->GetProgramPath(ExternalWithOptions, B(u"arcwelding").get(), value.Put()), E_INVALIDARG);
    ASSERT_EQ(system->GetSystemInfo(value.Put()), S_OK);
    EXPECT_EQ(N(value.View()), ReadAll(path + u"\\system.xml"));
    ASSERT_EQ(system->GetUsedKeystring(External, value.Put(), &count), S_OK);
    EXPECT_EQ(value.View(), WString(kArcKey) + u"," + kPickKey);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(system->RemoveAdditionalOption(B(u"pickmaster").get()), S_OK);
    EXPECT_EQ(system->RemoveAdditionalOption(B(u"pickmaster").get()), E_INVALIDARG);

    // A new main release path reaches the drive modules too.
    const WString copy = pool / u"zendara-copy";
    ASSERT_EQ(ShellFileOperation(ShellOperation::Copy, release, copy, kShellSilentFlags), 0);
    EXPECT_EQ(system->SetProgramPath(Zendara, nullptr, B(copy).get()), S_OK);
    EXPECT_NE(Unsealed(path + u"\\INTERNAL\\key.id").find("#CKeyId dminfo Selection(s) setup from zendara-copy"),
              std::string::npos);

    // The main key becomes a virtual controller's; a reset keeps only it.
    EXPECT_EQ(system->ReplaceKeystring(B(WString(kMainKey).replace(5, 1, u"r")).get(), B(kVirtualKey).get()), E_INVALIDARG);
    ASSERT_EQ(system->ReplaceKeystring(B(kMainKey).get(), B(kVirtualKey).get()), S_OK);
    KelInstallCtrlType type{};
    ASSERT_EQ(system->GetSystemType(&type), S_OK);
    EXPECT_EQ(type, KelInstallCtrlType_VC);
    ASSERT_EQ(system->ResetSystem(), S_OK);
    EXPECT_EQ(ReadAll(path + u"\\INTERNAL\\keystr.txt"), "#Loaded keys in " + internal + "keystr.txt:\r\n" + N(kVirtualKey) + "\r\n");
    ASSERT_EQ(system->GetDriveModuleKeys(value.Put(), &count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(value.get(), nullptr);
    ASSERT_EQ(system->GetHomeFileList(list.Put(), &count), S_OK);
    EXPECT_EQ(count, 0u);
}

// A controller backup becomes a new, open system.
TEST(ComponentClient, BackupBecomesAnOpenSystem) {
    Library library;
    ASSERT_TRUE(library.ready());
    const auto object = library.New();
    ASSERT_TRUE(object);
    const WString backup = SourceDir() + u"\\samples\\backups\\cell1";
    const WString release = SampleRelease(u"zendara-6.0");
    UniqueBstr text;
    ASSERT_EQ(object->GetBackupInfo(B(backup).get(), text.Put()), S_OK);
    EXPECT_NE(text.View().find(u"<SystemName>Cell1</SystemName>"), WStringView::npos);

    TempDir pool;
    const WString path = pool / u"Restored";
    // Without the additional release its keys need, the new system would not
    // open: it is not left behind, and the retry with the release works.
    EXPECT_EQ(object->InitBackup(B(backup).get(), B(path).get(), B(release).get(), B(u"").get(), 0),
              KELINSTALL_E_NO_RELEASE);
    EXPECT_TRUE(Snapshot(pool.path()).empty());
    ASSERT_EQ(object->InitBackup(B(backup).get(), B(path).get(), B(release).get(),
                                 B(SampleRelease(u"arcwelding-1.2")).get(), 1), S_OK);
    // Open on the new system, whose key list now names it.
    ASSERT_EQ(object->GetProgramPath(Zendara, nullptr, text.Put()), S_OK);
    EXPECT_EQ(text.View(), release);
    EXPECT_EQ(ReadAll(path + u"\\INTERNAL\\keystr.txt").rfind("#Loaded keys in " + N(path) + "\\INTERNAL\\keystr.txt:\r\n", 0), 0u);
}

}  // namespace
}  // namespace kel::test
