// Every call that returns success leaves a system that opens; a key or a
// release that would not is refused before anything is written.
#include <gtest/gtest.h>

#include <functional>

#include "platform/shell_file_op.h"
#include "support/test_support.h"

namespace kel::test {
namespace {

constexpr HRESULT kBadKey = static_cast<HRESULT>(0xC004051CL);
constexpr HRESULT kNoFit = static_cast<HRESULT>(0xC0040522L);

WString Keys(const ComPtr<IKelInstallSystem>& system) {
    UniqueBstr keys;
    ULONG count = 0;
    system->GetUsedKeystring(Zendara, keys.Put(), &count);
    UniqueBstr others;
    system->GetUsedKeystring(AdditionalOption, others.Put(), &count);
    UniqueBstr modules;
    system->GetDriveModuleKeys(modules.Put(), &count);
    return WString(keys.View()) + u"|" + WString(others.View()) + u"|" + WString(modules.View());
}

// A sample release copied to a folder of the given name.
WString ReleaseAt(const TempDir& dir, WStringView release, WStringView name) {
    const WString path = dir / name;
    EXPECT_EQ(ShellFileOperation(ShellOperation::Copy, SampleRelease(release), path, kShellSilentFlags), 0);
    return path;
}

TEST(Openable, EverySuccessfulCallLeavesASystemThatOpens) {
    TempDir dir;
    const WString system = dir / u"Cell";
    auto object = NewSystemObject();
    ASSERT_EQ(object->CreateSystem(B(system).get(), B(kMainKey).get(), B(SampleRelease(u"zendara-6.0")).get()), S_OK);
    ASSERT_EQ(object->AddAdditionalOption(B(kArcKey).get(), B(SampleRelease(u"arcwelding-1.2")).get()), S_OK);
    // Characters the narrow program list cannot hold, or whose upper case it cannot.
    const WString lodz = ReleaseAt(dir, u"pickmaster-2.0", u"\u0141\u00f3d\u017a");
    const WString micro = ReleaseAt(dir, u"zendara-6.0", u"5\u00b5m");
    const WString mainNamedKey = Rekey(kPickKey, [](KeyDescription& d) { d.programName = u"Zendara"; });
    const WString main = SampleRelease(u"zendara-6.0");
    const WString arc = SampleRelease(u"arcwelding-1.2");
#if defined(_WIN32)
    const HRESULT microPath = S_OK;  // the system's upper case keeps the micro sign, which the code page holds
#else
    const HRESULT microPath = kNoFit;  // glibc upper-cases it to a Greek capital outside Windows-1252
#endif

    struct Row {
        const char* what;
        std::function<HRESULT()> call;
        HRESULT status;
        const char* trace;  // the start of the refusal's last trace
    };
    const Row rows[] = {
        {"an additional option key as main key",
         [&] { return NewSystemObject()->CreateSystem(B(dir / u"New").get(), B(kArcKey).get(), B(main).get()); },
         kBadKey, "CSystem::CreateSystem, Key "},
        {"an additional option key as drive module", [&] { return object->AddDriveModule(B(kArcKey).get(), 1); },
         kBadKey, "CSystem::AddDriveModule, Key "},
        {"a release key as additional option",
         [&] { return object->AddAdditionalOption(B(kDriveKey).get(), B(SampleRelease(u"pickmaster-2.0")).get()); },
         kBadKey, "CSystem::AddAdditionalOption, Key "},
        {"another program's release",
         [&] { return object->AddAdditionalOption(B(kPickKey).get(), B(arc).get()); }, kNoFit,
         "CSystem::AddAdditionalOption, Program folder "},
        {"a key named like the main release, with the main release",
         [&] { return object->AddAdditionalOption(B(mainNamedKey).get(), B(main).get()); }, kNoFit,
         "CSystem::AddAdditionalOption, Program folder "},
        {"an external release as main release",
         [&] { return object->SetProgramPath(Zendara, B(u"").get(), B(arc).get()); }, kNoFit,
         "CSystem::SetProgramPath, Program folder "},
        {"another program's key in place of a loaded one",
         [&] { return object->ReplaceKeystring(B(kArcKey).get(), B(kPickKey).get()); }, kNoFit,
         "CSystem::ReplaceKeystring, Program folder "},
        {"a folder the code page cannot name",
         [&] { return object->AddAdditionalOption(B(kPickKey).get(), B(lodz).get()); }, kNoFit,
         "CSystem::AddAdditionalOption, Program folder "},
        {"a folder whose upper case the code page may not hold",
         [&] { return object->SetProgramPath(Zendara, B(u"").get(), B(micro).get()); }, microPath,
         "CSystem::SetProgramPath, Program folder "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto before = Snapshot(system);
        const WString keys = Keys(object);
        TraceCapture traces;
        EXPECT_EQ(row.call(), row.status);
        if (row.status == S_OK) {
            EXPECT_TRUE(before != Snapshot(system));
        } else {
            ASSERT_FALSE(traces.records().empty());
            EXPECT_EQ(traces.records().back().message.rfind(row.trace, 0), 0u) << traces.records().back().message;
            EXPECT_TRUE(before == Snapshot(system)) << "the system changed";
            EXPECT_EQ(keys, Keys(object));
        }
        EXPECT_FALSE(Exists(dir / u"New"));
        EXPECT_EQ(NewSystemObject()->InitSystem(B(system).get()), S_OK);
    }
}

// Defaults are recorded as choices once the system is written again: the
// description must not change with that.
TEST(Openable, SystemXmlFollowsTheSelectionNotTheHistory) {
    const WString release = SampleRelease(u"zendara-6.0");
    for (const WString& key : {kMainKey, Rekey(kMainKey, [](KeyDescription& d) { d.selectionText.clear(); })}) {
        TempDir dir;
        const WString system = dir / u"Cell";
        auto object = NewSystemObject();
        ASSERT_EQ(object->CreateSystem(B(system).get(), B(key).get(), B(release).get()), S_OK);
        const std::string created = ReadAll(system + u"\\system.xml");
        EXPECT_NE(created.find("<Category descr=\"System\">"), std::string::npos) << N(key);
        ASSERT_EQ(object->SetProgramPath(Zendara, B(u"").get(), B(release).get()), S_OK);
        EXPECT_EQ(ReadAll(system + u"\\system.xml"), created) << N(key);
    }
}

// A build that fails midway must not shift how the same object's next build
// reads the selection digits.
TEST(Openable, AFailedBuildLeavesTheNextOneAlone) {
    TempDir dir;
    const WString broken = ReleaseAt(dir, u"zendara-6.0", u"broken");
    const WString relkey = broken + u"\\syskey\\relkey.007";
    std::string text = ReadAll(relkey);
    const std::string monitor = "\"Bus monitor\" void";
    ASSERT_NE(text.find(monitor), std::string::npos);
    text.insert(text.find(monitor) + monitor.size(), " &PbusDiag");  // a sub group that opens itself
    ASSERT_TRUE(WriteAll(relkey, text));

    const WString release = SampleRelease(u"zendara-6.0");
    TempDir a;
    TempDir b;
    auto fresh = NewSystemObject();
    ASSERT_EQ(fresh->CreateSystem(B(a / u"Cell").get(), B(kMainKey).get(), B(release).get()), S_OK);
    auto object = NewSystemObject();
    EXPECT_EQ(object->CreateSystem(B(dir / u"Bad").get(), B(kMainKey).get(), B(broken).get()), E_UNEXPECTED);
    ASSERT_EQ(object->CreateSystem(B(b / u"Cell").get(), B(kMainKey).get(), B(release).get()), S_OK);
    EXPECT_EQ(ReadAll(b / u"Cell\\system.xml"), ReadAll(a / u"Cell\\system.xml"));
}

}  // namespace
}  // namespace kel::test
