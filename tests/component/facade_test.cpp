// The component object in process, created through the module's own factory.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "component/kel_install_system.h"
#include "component/module.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "support/test_support.h"

namespace kel::test {
namespace {

CKelInstallSystem& Impl(const ComPtr<IKelInstallSystem>& object) {
    return *static_cast<CKelInstallSystem*>(object.get());
}

const OLECHAR* O(const WString& text) { return reinterpret_cast<const OLECHAR*>(text.c_str()); }

// "C:\ppp...\nnn..." with the given total length and name length.
WString PathOf(std::size_t total, std::size_t nameLength) {
    return u"C:\\" + WString(total - 4 - nameLength, u'p') + u"\\" + WString(nameLength, u'n');
}

void ExpectOnlyRecord(const TraceCapture& traces, const std::string& message) {
    const auto records = traces.records();
    ASSERT_EQ(records.size(), 1u) << message;
    EXPECT_EQ(records[0].module, "KelInstallSystemImpl");
    EXPECT_EQ(records[0].message, "CKelInstallSystem::" + message);
}

const HRESULT kPathTooLong = static_cast<HRESULT>(0xC0040538L);
const HRESULT kNameTooLong = static_cast<HRESULT>(0xC0040539L);

struct Call {
    const char* method;
    std::function<HRESULT()> call;
    HRESULT status;
    const char* trace;  // null: only the closed-system check is reached
};

void ExpectRefusals(const std::vector<Call>& calls) {
    for (const auto& c : calls) {
        if (!c.trace) continue;
        TraceCapture traces;
        EXPECT_EQ(c.call(), c.status) << c.method << ": " << c.trace;
        ExpectOnlyRecord(traces, std::string(c.method) + ": " + c.trace);
    }
}

TEST(KelInstallSystemFacade, CheckSystemPathLimitsAndCharacterSet) {
    struct Case {
        WString path;
        HRESULT status;
        const char* trace;  // null: no trace
    };
    const Case cases[] = {
        {PathOf(260, 80), S_OK, nullptr},
        {PathOf(261, 10), kPathTooLong, "Systempath is longer than 260\n"},
        {PathOf(100, 81), kNameTooLong, "Systemname is longer than 80\n"},
        {u"C:\\pool\\M\u00FCller-System_1.0\u00C0\u00D6\u00D8\u00DF\u00E0\u00F6\u00F8\u00FF", S_OK, nullptr},
        {u"C:\\po ol/x\\Name", S_OK, nullptr},  // only the name is examined
        {u"C:\\pool\\", S_OK, nullptr},          // an empty name passes
        {u"C:/pool/name", E_INVALIDARG, "Path corrupt!\n"},
        {u"", E_INVALIDARG, "Path corrupt!\n"},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    // Neighbours of the accepted Latin-1 letters, a blank and a slash.
    for (const char16_t bad : {u' ', u'\u00D7', u'\u00F7', u'\u00BF', u'\u0100', u'/'}) {
        all.push_back({u"C:\\pool\\a" + WString(1, bad) + u"b", E_INVALIDARG, "Invalid character found in systemname!\n"});
    }
    for (const auto& c : all) {
        TraceCapture traces;
        EXPECT_EQ(CKelInstallSystem::CheckSystemPath(O(c.path)), c.status) << N(c.path);
        if (c.trace) {
            ExpectOnlyRecord(traces, std::string("CheckSystemPath: ") + c.trace);
        } else {
            EXPECT_TRUE(traces.pieces().empty()) << N(c.path);
        }
    }
    // The path ends at its first NUL, whatever the string's length.
    WString embedded = u"C:\\pool\\name";
    embedded.push_back(0);
    embedded += u" more";
    UniqueBstr withNul = UniqueBstr::From(embedded);
    EXPECT_EQ(CKelInstallSystem::CheckSystemPath(withNul.get()), S_OK);
    EXPECT_EQ(CKelInstallSystem::CheckSystemPath(nullptr), E_INVALIDARG);
}

TEST(KelInstallSystemFacade, CreateInitAndBackupCheckInOrderAndOpenNothing) {
    auto object = NewSystemObject();
    ASSERT_TRUE(object);
    CKelInstallSystem& impl = Impl(object);
    ComPtr<IKelInstallSystem2> second;
    ASSERT_EQ(object->QueryInterface(IID_IKelInstallSystem2, second.PutVoid()), S_OK);
    const auto key = B(u"key");
    const auto release = B(u"C:\\release");
    struct Case {
        std::function<HRESULT()> call;
        HRESULT status;
        const char* trace;
        const char16_t* stored;  // the system path kept afterwards
    };
    const Case cases[] = {
        {[&] { return object->CreateSystem(nullptr, key.get(), release.get()); }, E_INVALIDARG, "CreateSystem: No systempath specified\n", nullptr},
        // The path check comes before the key check, and a refused path is not kept.
        {[&] { return object->CreateSystem(B(u"C:\\pool\\bad name").get(), nullptr, nullptr); }, E_INVALIDARG, "CheckSystemPath: Invalid character found in systemname!\n", nullptr},
        {[&] { return object->CreateSystem(B(u"C:\\pool\\Sys1").get(), B(u"").get(), release.get()); }, E_INVALIDARG, "CreateSystem: No key specified\n", u"C:\\pool\\Sys1"},
        {[&] { return object->CreateSystem(B(u"C:\\pool\\Sys2").get(), key.get(), nullptr); }, E_INVALIDARG, "CreateSystem: No program release specified\n", u"C:\\pool\\Sys2"},
        {[&] { return object->InitSystem(B(u"").get()); }, E_INVALIDARG, "InitSystem: No systempath specified\n", u"C:\\pool\\Sys2"},
        {[&] { return object->InitSystem(B(WString(300, u'x')).get()); }, kPathTooLong, "CheckSystemPath: Systempath is longer than 260\n", u"C:\\pool\\Sys2"},
        {[&] { return second->InitSystem2(B(u"C:\\pool\\x").get(), nullptr); }, E_POINTER, "InitSystem2: Return pointer not specified\n", u"C:\\pool\\Sys2"},
        // InitSystem2 succeeds and hands InitSystem's refusal back.
        {[&] { HRESULT stored = S_OK; return second->InitSystem2(nullptr, &stored) == S_OK ? stored : E_FAIL; }, E_INVALIDARG, "InitSystem: No systempath specified\n", u"C:\\pool\\Sys2"},
    };
    for (const auto& c : cases) {
        TraceCapture traces;
        EXPECT_EQ(c.call(), c.status) << c.trace;
        ExpectOnlyRecord(traces, c.trace);
        EXPECT_EQ(impl.SystemPath() ? WString(UniqueBstr::View(impl.SystemPath())) : u"<null>",
                  c.stored ? c.stored : u"<null>");
    }
    EXPECT_FALSE(impl.IsInitialized());
    // Backup paths are limited without an open system.
    const auto longPath = UniqueBstr::From(PathOf(261, 5));
    const auto maxPath = UniqueBstr::From(PathOf(260, 5));
    const auto system = B(u"C:\\pool\\Restored");
    BSTR out = nullptr;
    ULONG count = 0;
    ExpectRefusals({
        {"CheckBackup", [&] { return object->CheckBackup(longPath.get(), &out, &count); }, kPathTooLong, "Path cannot exceed 260\n"},
        {"CheckBackup", [&] { return object->CheckBackup(maxPath.get(), &out, nullptr); }, E_POINTER, "Result value cannot be null\n"},
        {"GetBackupInfo", [&] { return object->GetBackupInfo(longPath.get(), nullptr); }, kPathTooLong, "Path cannot exceed 260\n"},
        {"GetBackupInfo", [&] { return object->GetBackupInfo(maxPath.get(), nullptr); }, E_POINTER, "Result value cannot be null\n"},
        {"InitBackup", [&] { return object->InitBackup(longPath.get(), nullptr, nullptr, nullptr, 0); }, kPathTooLong, "Backup path cannot exceed 260\n"},
        {"CheckSystemPath", [&] { return object->InitBackup(maxPath.get(), B(u"bad").get(), longPath.get(), nullptr, 0); }, E_INVALIDARG, "Path corrupt!\n"},
        {"InitBackup", [&] { return object->InitBackup(maxPath.get(), system.get(), longPath.get(), nullptr, 0); }, kPathTooLong, "Backup path cannot exceed 260\n"},
    });
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(impl.IsInitialized());
}

TEST(KelInstallSystemFacade, ClosedSystemGateThenArgumentChecksInTheirOrder) {
    auto object = NewSystemObject();
    ASSERT_TRUE(object);
    IKelInstallSystem* p = object.get();
    const auto empty = B(u"");
    const auto text = B(u"text");
    // Out parameters the component must leave alone when it refuses.
    OLECHAR sentinel[2] = {'x', 0};
    BSTR out = sentinel;
    ULONG count = 77;
    auto type = static_cast<KelInstallCtrlType>(3);
    const std::vector<Call> calls = {
        {"ResetSystem", [&] { return p->ResetSystem(); }, S_OK, nullptr},
        {"SetSystemTag", [&] { return p->SetSystemTag(nullptr); }, S_OK, nullptr},
        {"GetSystemType", [&] { return p->GetSystemType(&type); }, S_OK, nullptr},
        {"GetSystemTag", [&] { return p->GetSystemTag(&out); }, S_OK, nullptr},
        {"AddSystemParameterFile", [&] { return p->AddSystemParameterFile(empty.get(), VARIANT_TRUE); }, E_INVALIDARG, "No parameter file specified \n"},
        {"GetSystemParameterFileList", [&] { return p->GetSystemParameterFileList(nullptr, &count); }, E_POINTER, "Return variable not initialized\n"},
        {"GetSystemParameterFileList", [&] { return p->GetSystemParameterFileList(&out, nullptr); }, E_POINTER, "Return variable not initialized\n"},
        {"RemoveSystemParameterFile", [&] { return p->RemoveSystemParameterFile(nullptr); }, E_INVALIDARG, "No parameter file specified \n"},
        {"AddHomeFile", [&] { return p->AddHomeFile(nullptr, VARIANT_FALSE); }, E_INVALIDARG, "No parameter file specified \n"},
        {"GetHomeFileList", [&] { return p->GetHomeFileList(&out, nullptr); }, E_POINTER, "Return variable not initialized\n"},
        {"RemoveHomeFile", [&] { return p->RemoveHomeFile(empty.get()); }, E_INVALIDARG, "No parameter file specified \n"},
        {"GetSystemOptions", [&] { return p->GetSystemOptions(nullptr); }, E_POINTER, "No returnpointer specified\n"},
        {"SetSystemOptions", [&] { return p->SetSystemOptions(empty.get()); }, E_INVALIDARG, "No system options specified\n"},
        {"GetUsedKeystring", [&] { return p->GetUsedKeystring(Zendara, &out, nullptr); }, E_POINTER, "Result value cannot be empty\n"},
        {"ReplaceKeystring", [&] { return p->ReplaceKeystring(text.get(), empty.get()); }, E_INVALIDARG, "Parameter error\n"},
        {"ReplaceKeystring", [&] { return p->ReplaceKeystring(nullptr, text.get()); }, E_INVALIDARG, "Parameter error\n"},
        {"GetSystemType", [&] { return p->GetSystemType(nullptr); }, E_POINTER, "No result parameter supplied\n"},
        {"SetProgramPath", [&] { return p->SetProgramPath(ExternalWithOptions, nullptr, empty.get()); }, E_INVALIDARG, "Programname not specified for additional option\n"},
        {"SetProgramPath", [&] { return p->SetProgramPath(Zendara, nullptr, empty.get()); }, E_INVALIDARG, "Path parameter cannot be empty\n"},
        {"SetProgramPath", [&] { return p->SetProgramPath(AdditionalOption, empty.get(), nullptr); }, E_INVALIDARG, "Path parameter cannot be empty\n"},
        {"GetProgramPath", [&] { return p->GetProgramPath(BootServer, nullptr, nullptr); }, E_POINTER, "Pointer not initialized\n"},
        {"GetProgramPath", [&] { return p->GetProgramPath(FailSafe, nullptr, &out); }, E_INVALIDARG, "Programname not specified for additional option\n"},
        {"AddAdditionalOption", [&] { return p->AddAdditionalOption(empty.get(), nullptr); }, E_INVALIDARG, "No key specified\n"},
        {"AddAdditionalOption", [&] { return p->AddAdditionalOption(text.get(), empty.get()); }, E_INVALIDARG, "No program release specified\n"},
        {"RemoveAdditionalOption", [&] { return p->RemoveAdditionalOption(nullptr); }, E_INVALIDARG, "No program name specified\n"},
        {"GetSystemTag", [&] { return p->GetSystemTag(nullptr); }, E_POINTER, "Result value cannot be empty\n"},
        {"GetSystemInfo", [&] { return p->GetSystemInfo(nullptr); }, E_POINTER, "Result value cannot be empty\n"},
        {"AddDriveModule", [&] { return p->AddDriveModule(nullptr, 0); }, E_INVALIDARG, "No key specified\n"},
        {"AddDriveModule", [&] { return p->AddDriveModule(text.get(), 0); }, E_INVALIDARG, "Module nr cannot be zero!\n"},
        {"RemoveDriveModule", [&] { return p->RemoveDriveModule(0); }, E_INVALIDARG, "Module nr cannot be zero!\n"},
        {"GetDriveModuleKeys", [&] { return p->GetDriveModuleKeys(nullptr, &count); }, E_POINTER, "Result value cannot be empty\n"},
    };
    // Without a system every method answers only that, whatever its arguments.
    for (const auto& c : calls) {
        TraceCapture traces;
        EXPECT_EQ(c.call(), E_ABORT) << c.method;
        ExpectOnlyRecord(traces, std::string(c.method) + ": No system is initialized\n");
    }
    Impl(object).MarkInitializedForTesting();
    ExpectRefusals(calls);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(type, 3);
}

// An outer object that records what reaches it.
class Outer final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        ++queries;
        if (IsEqualIID(riid, IID_IKelInstallSystem) && inner) return inner->QueryInterface(riid, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    IUnknown* inner = nullptr;
    ULONG refs = 1;
    int queries = 0;
};

TEST(KelInstallSystemFacade, IdentityInterfacesProgramNoticesAndAggregation) {
    auto object = NewSystemObject();
    ASSERT_TRUE(object);
    ComPtr<IUnknown> viaFirst, viaThird;
    ComPtr<IKelInstallSystem3> third;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, viaFirst.PutVoid()), S_OK);
    ASSERT_EQ(object->QueryInterface(IID_IKelInstallSystem3, third.PutVoid()), S_OK);
    ASSERT_EQ(third->QueryInterface(IID_IUnknown, viaThird.PutVoid()), S_OK);
    EXPECT_EQ(viaFirst.get(), viaThird.get());
    {
        // Program notices, the third interface's one call, come newest first.
        TraceCapture traces;
        EXPECT_EQ(third->GetNextProgramNotice(nullptr), E_INVALIDARG);
        UniqueBstr notice;
        EXPECT_EQ(third->GetNextProgramNotice(notice.Put()), S_FALSE);
        EXPECT_EQ(notice.get(), nullptr);
        Impl(object).System().PushProgramNotice(u"first");
        Impl(object).System().PushProgramNotice(u"second");
        // A string already in the slot is neither freed nor replaced.
        const UniqueBstr held = B(u"held");
        BSTR slot = held.get();
        EXPECT_EQ(third->GetNextProgramNotice(&slot), E_INVALIDARG);
        EXPECT_EQ(slot, held.get());
        EXPECT_EQ(held.View(), u"held");
        EXPECT_EQ(third->GetNextProgramNotice(notice.Put()), S_OK);
        EXPECT_EQ(notice.View(), u"second");
        EXPECT_EQ(third->GetNextProgramNotice(notice.Put()), S_OK);
        EXPECT_EQ(notice.View(), u"first");
        EXPECT_EQ(third->GetNextProgramNotice(notice.Put()), S_FALSE);
        EXPECT_EQ(notice.get(), nullptr);
        EXPECT_TRUE(traces.pieces().empty());
    }
    void* none = &none;
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(CLSID_KelInstallSystem, IID_IClassFactory, factory.PutVoid()), S_OK);
    ComPtr<IClassFactory> again;
    ASSERT_EQ(DllGetClassObject(CLSID_KelInstallSystem, IID_IUnknown, again.PutVoid()), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(factory.get()), static_cast<IUnknown*>(again.get()));
    EXPECT_EQ(DllGetClassObject(CLSID_KelInstallSystem, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKelInstallSystem, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &none), E_NOINTERFACE);

    Outer outer;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IKelInstallSystem, &none), CLASS_E_NOAGGREGATION);
    ComPtr<IUnknown> inner;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.PutVoid()), S_OK);
    outer.inner = inner.get();
    ComPtr<IKelInstallSystem> aggregated;
    ASSERT_EQ(inner->QueryInterface(IID_IKelInstallSystem, aggregated.PutVoid()), S_OK);
    EXPECT_EQ(outer.refs, 2u);  // the interface's reference belongs to the outer object
    // Queries through the interface go to the outer object, which knows no second interface.
    ComPtr<IKelInstallSystem2> second;
    EXPECT_EQ(aggregated->QueryInterface(IID_IKelInstallSystem2, second.PutVoid()), E_NOINTERFACE);
    EXPECT_EQ(outer.queries, 1);
    aggregated.Reset();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(inner->Release(), 0u);  // the last inner reference destroys the object
    inner.Detach();
}

// A new system may have as long a path as its own files allow, and then
// changes and resets too; a failed create or open leaves no system open.
TEST(Facade, PathBudgetAndNoSystemAfterAFailedCreate) {
    TempDir pool;
    constexpr std::size_t kLongest = 234;
    const WString folder = pool / WString(kLongest - pool.path().size() - 6, u'd');
    ASSERT_TRUE(os::MakeDirectory(folder));
    const auto path = [&](const char16_t* name) { return UniqueBstr::From(folder + u"\\" + name); };
    const UniqueBstr key = UniqueBstr::From(kMainKey);
    const UniqueBstr release = UniqueBstr::From(SampleRelease(u"zendara-6.0"));
    ComPtr<IKelInstallSystem> object = NewSystemObject();
    ASSERT_TRUE(object);
    EXPECT_EQ(object->CreateSystem(path(u"Cell2").get(), key.get(), release.get()), KELINSTALL_E_PATH_TOO_LONG);
    ASSERT_EQ(object->CreateSystem(path(u"Cell").get(), key.get(), release.get()), S_OK);
    const UniqueBstr drive = UniqueBstr::From(kDriveKey);
    EXPECT_EQ(object->AddDriveModule(drive.get(), 1), S_OK);
    EXPECT_EQ(object->ResetSystem(), S_OK);
    // Creating over an existing system fails: the object then holds none, so
    // nothing below can change the system it had open before.
    EXPECT_EQ(object->CreateSystem(path(u"Cell").get(), key.get(), release.get()), KELINSTALL_E_EXISTS);
    EXPECT_EQ(object->AddDriveModule(drive.get(), 1), E_ABORT);
    EXPECT_EQ(object->InitSystem(path(u"None").get()), KELINSTALL_E_READ_KEYS);
    EXPECT_EQ(object->ResetSystem(), E_ABORT);
}

}  // namespace
}  // namespace kel::test
