#include "component/kel_install_system.h"

#include <gtest/gtest.h>

#include "component/module.h"
#include "support/test_support.h"
#include "system/system.h"

namespace kel {
namespace {

// An in-process object, so that its traces reach the test's sink on both platforms.
ComPtr<IKelInstallSystem> NewObject() {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(GetClassObject(CLSID_KelInstallSystem, IID_IClassFactory, factory.PutVoid()), S_OK);
    ComPtr<IKelInstallSystem> object;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKelInstallSystem, object.PutVoid()), S_OK);
    return object;
}

CKelInstallSystem& Impl(const ComPtr<IKelInstallSystem>& object) { return *static_cast<CKelInstallSystem*>(object.get()); }

TEST(KelInstallSystem, SystemPathLimitsAndCharacters) {
    auto object = NewObject();
    CKelInstallSystem& impl = Impl(object);
    test::TraceCapture traces;
    auto check = [&](const WString& path) { return impl.CheckSystemPath(UniqueBstr::From(path).get()); };
    const WString pool = u"C:\\pool\\";
    EXPECT_EQ(check(pool + WString(260 - pool.size(), u'n')), KELINSTALL_E_NAME_TOO_LONG);  // length passes
    EXPECT_EQ(check(u"C:\\" + WString(176, u'p') + u"\\" + WString(80, u'n')), S_OK);      // exactly 260
    EXPECT_EQ(check(u"C:\\" + WString(177, u'p') + u"\\" + WString(80, u'n')), KELINSTALL_E_PATH_TOO_LONG);
    EXPECT_EQ(check(pool + WString(81, u'n')), KELINSTALL_E_NAME_TOO_LONG);
    EXPECT_EQ(check(pool + u"M\u00fcller-System_1.0"), S_OK);
    EXPECT_EQ(check(pool + u"\u00c0\u00d6\u00d8\u00f6\u00f8\u00ff"), S_OK);
    EXPECT_EQ(check(pool), S_OK);  // an empty name is the operation's concern
    EXPECT_EQ(check(u"relative\\name"), S_OK);
    for (const WString name : {u"My System", u"a\u00d7b", u"a\u00f7b", u"a/b", u"a:b", u"\u0100x"}) {
        EXPECT_EQ(check(pool + name), E_INVALIDARG) << test::N(name);
    }
    EXPECT_EQ(check(u"C:no-backslash"), E_INVALIDARG);
    const auto records = traces.records();
    ASSERT_GE(records.size(), 4u);
    EXPECT_EQ(records[0].module, "KelInstallSystemImpl");
    EXPECT_EQ(records[0].message, "CKelInstallSystem::CheckSystemPath: Systemname is longer than 80\n");
    EXPECT_EQ(records[1].message, "CKelInstallSystem::CheckSystemPath: Systempath is longer than 260\n");
    EXPECT_EQ(records.back().message, "CKelInstallSystem::CheckSystemPath: Path corrupt!\n");
    EXPECT_TRUE(traces.Has("CKelInstallSystem::CheckSystemPath: Invalid character found in systemname!\n"));
}

TEST(KelInstallSystem, ArgumentChecksRunInOrderAndStoreThePathEarly) {
    auto object = NewObject();
    CKelInstallSystem& impl = Impl(object);
    test::TraceCapture traces;
    const UniqueBstr path = UniqueBstr::From(u"C:\\pool\\Sys1");
    const UniqueBstr empty = UniqueBstr::From(u"");

    EXPECT_EQ(object->CreateSystem(nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_TRUE(traces.Has("CKelInstallSystem::CreateSystem: No systempath specified\n"));
    EXPECT_EQ(object->CreateSystem(path.get(), empty.get(), path.get()), E_INVALIDARG);
    EXPECT_TRUE(traces.Has("CKelInstallSystem::CreateSystem: No key specified\n"));
    EXPECT_EQ(impl.StoredSystemPath(), u"C:\\pool\\Sys1");
    EXPECT_FALSE(impl.IsInitialized());
    EXPECT_EQ(object->CreateSystem(path.get(), path.get(), nullptr), E_INVALIDARG);
    EXPECT_TRUE(traces.Has("CKelInstallSystem::CreateSystem: No program release specified\n"));

    // Backup paths: the length comes before the pointers.
    const UniqueBstr longPath = UniqueBstr::From(u"C:\\" + WString(258, u'b'));
    BSTR out = nullptr;
    ULONG count = 0;
    EXPECT_EQ(object->CheckBackup(longPath.get(), nullptr, nullptr), KELINSTALL_E_PATH_TOO_LONG);
    EXPECT_TRUE(traces.Has("CKelInstallSystem::CheckBackup: Path cannot exceed 260\n"));
    EXPECT_EQ(object->CheckBackup(path.get(), &out, nullptr), E_POINTER);
    EXPECT_EQ(object->GetBackupInfo(longPath.get(), nullptr), KELINSTALL_E_PATH_TOO_LONG);
    EXPECT_EQ(object->GetBackupInfo(path.get(), nullptr), E_POINTER);
    EXPECT_TRUE(traces.Has("CKelInstallSystem::GetBackupInfo: Result value cannot be null\n"));
    EXPECT_EQ(object->InitBackup(longPath.get(), path.get(), path.get(), nullptr, 0), KELINSTALL_E_PATH_TOO_LONG);
    EXPECT_TRUE(traces.Has("CKelInstallSystem::InitBackup: Backup path cannot exceed 260\n"));
    EXPECT_EQ(object->InitBackup(path.get(), empty.get(), path.get(), nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(object->InitBackup(path.get(), path.get(), longPath.get(), nullptr, 0), KELINSTALL_E_PATH_TOO_LONG);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(out, nullptr);
}

TEST(KelInstallSystem, NoticesComeOutNewestFirstAsCallerStrings) {
    auto object = NewObject();
    ComPtr<IKelInstallSystem3> notices;
    ASSERT_EQ(object->QueryInterface(IID_IKelInstallSystem3, notices.PutVoid()), S_OK);
    Impl(object).SystemObject().PushProgramNotice(u"ArcWelding");
    Impl(object).SystemObject().PushProgramNotice(u"DriveModule1");
    UniqueBstr first, second, third;
    EXPECT_EQ(notices->GetNextProgramNotice(first.Put()), S_OK);
    EXPECT_EQ(first.View(), u"DriveModule1");
    EXPECT_EQ(notices->GetNextProgramNotice(second.Put()), S_OK);
    EXPECT_EQ(second.View(), u"ArcWelding");
    EXPECT_EQ(notices->GetNextProgramNotice(third.Put()), S_FALSE);
    EXPECT_EQ(third.get(), nullptr);
}

// A minimal outer object that aggregates the component.
class Outer : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    IUnknown* inner = nullptr;
    ULONG refs = 1;
};

TEST(KelInstallSystem, AggregationDelegatesIdentityAndCounts) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetClassObject(CLSID_KelInstallSystem, IID_IClassFactory, factory.PutVoid()), S_OK);
    Outer outer;
    void* raw = nullptr;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IKelInstallSystem, &raw), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    const long locks = ModuleLockCount();
    EXPECT_GT(locks, 0);

    IKelInstallSystem* system = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IKelInstallSystem, reinterpret_cast<void**>(&system)), S_OK);
    EXPECT_EQ(outer.refs, 2u);  // the interface's AddRef went to the outer object
    IUnknown* identity = nullptr;
    ASSERT_EQ(system->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    system->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(ModuleLockCount(), locks - 1);
}

}  // namespace
}  // namespace kel
