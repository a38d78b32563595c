// Every call that returns success leaves a system that opens; a key or a
// release that would not is refused before anything is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "platform/shell_file_op.h"
#include "platform/xml.h"
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

WString ReleaseAt(const TempDir& dir, WStringView release, WStringView name) {
    const WString path = dir / name;
    EXPECT_EQ(ShellFileOperation(ShellOperation::Copy, SampleRelease(release), path, kShellSilentFlags), 0);
    return path;
}

TEST(Openable, EverySuccessfulCallLeavesASystemThatOpens) {
    TempDir dir;
    const WString system = dir / u"Cell";
    auto object = NewSystemObject();
    {
        TraceCapture quiet;
        ASSERT_EQ(object->CreateSystem(B(system).get(), B(kMainKey).get(), B(SampleRelease(u"zendara-6.0")).get()), S_OK);
        ASSERT_EQ(object->AddAdditionalOption(B(kArcKey).get(), B(SampleRelease(u"arcwelding-1.2")).get()), S_OK);
        EXPECT_TRUE(quiet.records().empty()) << quiet.records().front().message;  // a success traces no failure
    }
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
        {"a key that a blank cuts short", [&] { return object->AddDriveModule(B(kDriveKey + u" 2").get(), 2); },
         kBadKey, "CSystem::AddDriveModule, The keys would not read back"},
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

// The option document with one item of a group chosen in the
// named program's entry (the others of its group no longer).
WString Choose(WStringView options, WStringView program, WStringView item) {
    xml::Document document = xml::Document::Create();
    EXPECT_TRUE(document.Parse(options));
    bool found = false;
    for (const xml::Element& number : document.Descendants(u"ProgramNr")) {
        if (number.Text() != program) continue;
        for (const xml::Element& group : number.Parent().Descendants(u"Group")) {
            const std::vector<xml::Element> items = group.Children(u"GroupItem").List();
            const auto chosen = std::find_if(items.begin(), items.end(), [&](const xml::Element& candidate) {
                return candidate.FirstChild(u"LineSelectionDescription").Text() == item;
            });
            if (chosen == items.end()) continue;
            for (const xml::Element& other : items) other.FirstChild(u"Selected").SetText(u"0");
            chosen->FirstChild(u"Selected").SetText(u"1");
            found = true;
        }
    }
    EXPECT_TRUE(found) << N(program) << ": " << N(item);
    return document.Serialize().value_or(u"");
}

// A release of many groups, two options each: the first one the default.
WString LongRelease(const TempDir& dir, int groups) {
    const WString release = ReleaseAt(dir, u"zendara-6.0", u"long");
    std::string text = "title Long\nowner NOFAC\ntype multiple\n";
    for (int i = 1; i <= groups; ++i) {
        const std::string n = std::to_string(i);
        text += "grp_" + n + " \"Group " + n + "\"\ngrp_" + n + " 1,1 \"A" + n + "\" void\ngrp_" + n + " 1,1 \"B" + n + "\" void\n";
    }
    EXPECT_TRUE(WriteAll(release + u"\\syskey\\relkey.007", text + "\n"));
    return release;
}

// Once a system is written again its selections come from key.id: an
// unrelated change must leave system.xml as it was, whatever the names and
// however long the selections.
TEST(Openable, AnUnrelatedChangeLeavesSystemXmlAsItWas) {
    const WString noSelection = Rekey(kMainKey, [](KeyDescription& d) { d.selectionText.clear(); });
    struct Row {
        const char* what;
        std::function<void(const TempDir&, const ComPtr<IKelInstallSystem>&, WString& release)> setUp;
        std::vector<std::string> shows;  // in this order in system.xml
    };
    const auto select = [](const ComPtr<IKelInstallSystem>& object, WStringView program, WStringView item) {
        UniqueBstr options;
        ASSERT_EQ(object->GetSystemOptions(options.Put()), S_OK);
        ASSERT_EQ(object->SetSystemOptions(B(Choose(options.View(), program, item)).get()), S_OK);
    };
    const Row rows[] = {
        {"defaults only",
         [&](const TempDir& dir, const ComPtr<IKelInstallSystem>& object, WString& release) {
             ASSERT_EQ(object->CreateSystem(B(dir / u"Cell").get(), B(noSelection).get(), B(release).get()), S_OK);
         },
         {"<Option descr=\"English\"/>"}},
        {"drive modules 1 and 10",
         [&](const TempDir& dir, const ComPtr<IKelInstallSystem>& object, WString& release) {
             // Module 10's drive option names no data file ("%" becomes one character).
             const WString highPower = Rekey(kDriveKey, [](KeyDescription& d) { d.selectionText = u"110000000001"; });
             ASSERT_EQ(object->CreateSystem(B(dir / u"Cell").get(), B(kMainKey).get(), B(release).get()), S_OK);
             ASSERT_EQ(object->AddDriveModule(B(kDriveKey).get(), 1), S_OK);
             ASSERT_EQ(object->AddDriveModule(B(highPower).get(), 10), S_OK);
             // Recorded as "DriveModule101…", which starts like DriveModule10's line.
             select(object, u"DriveModule1", u"German");
             select(object, u"DriveModule1", u"ZR-120 2.5 m reach");
         },
         {"<Name>DriveModule10</Name>", "ZR-6 0.6 m reach"}},
        {"programs Arc and ArcWelding",
         [&](const TempDir& dir, const ComPtr<IKelInstallSystem>& object, WString& release) {
             const WString arc = ReleaseAt(dir, u"arcwelding-1.2", u"arc");
             ASSERT_TRUE(WriteAll(arc + u"\\media.id", "NAME=Arc\ntype=2\n"));
             const WString arcKey = Rekey(kArcKey, [](KeyDescription& d) { d.programName = u"Arc"; });
             ASSERT_EQ(object->CreateSystem(B(dir / u"Cell").get(), B(kMainKey).get(), B(release).get()), S_OK);
             ASSERT_EQ(object->AddAdditionalOption(B(kArcKey).get(), B(SampleRelease(u"arcwelding-1.2")).get()), S_OK);
             ASSERT_EQ(object->AddAdditionalOption(B(arcKey).get(), B(arc).get()), S_OK);
             select(object, u"ArcWelding", u"Multi layer");
         },
         {"<Name>ArcWelding</Name>", "Multi layer", "<Name>Arc</Name>", "TIG welding"}},
        {"a choice at group 250 of 300",
         [&](const TempDir& dir, const ComPtr<IKelInstallSystem>& object, WString& release) {
             release = LongRelease(dir, 300);
             ASSERT_EQ(object->CreateSystem(B(dir / u"Cell").get(), B(noSelection).get(), B(release).get()), S_OK);
             select(object, u"Zendara", u"B250");
         },
         {"<Option descr=\"B250\"/>"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        WString release = SampleRelease(u"zendara-6.0");
        auto object = NewSystemObject();
        row.setUp(dir, object, release);
        if (::testing::Test::HasFatalFailure()) continue;
        const std::string before = ReadAll(dir / u"Cell\\system.xml");
        std::size_t at = 0;
        for (const std::string& shown : row.shows) {
            at = before.find(shown, at);
            EXPECT_NE(at, std::string::npos) << shown;
        }
        ASSERT_EQ(object->SetProgramPath(Zendara, B(u"").get(), B(release).get()), S_OK);
        EXPECT_EQ(ReadAll(dir / u"Cell\\system.xml"), before);
    }
}

}  // namespace
}  // namespace kel::test
