#include <gtest/gtest.h>


#include "platform/os.h"
#include "platform/xml.h"
#include "shared/keystring.h"
#include "shared/outside_factory.h"
#include "support/test_support.h"
#include "system/system.h"

namespace kel {
namespace {

using test::N;

using test::kArcKey;
using test::kDriveKey;
using test::kMainKey;
using test::kPickKey;

WString Release(WStringView name) { return test::SampleRelease(name); }

CKeyInfo Key(WStringView keystring, WStringView release, uint32_t type, uint16_t module = 0) {
    return test::Key(keystring, Release(release), type, module);
}

// One line per entry: its element, Instance, program, then "title=digits" for
// every main group and "sub:title=digits" for every sub group.
std::vector<std::string> Summary(WStringView xmlText) {
    xml::Document doc = xml::Document::Create();
    EXPECT_TRUE(doc.Parse(xmlText));
    EXPECT_EQ(doc.Root().Name(), u"OptionSelection");
    std::vector<std::string> lines;
    for (const char16_t* kind : {u"ZD", u"EXT"}) {
        for (const xml::Element& entry : doc.Root().Children(kind)) {
            std::string line = N(kind) + " " + N(entry.Attribute(u"Instance").value_or(u"-")) + " " +
                               N(entry.FirstChild(u"ProgramNr").Text());
            for (const char16_t* container : {u"MainGroups", u"SubGroups"}) {
                for (const xml::Element& group : entry.FirstChild(container).Children(u"Group")) {
                    line += container == WStringView(u"SubGroups") ? " sub:" : " ";
                    line += N(group.FirstChild(u"Title").Text()) + "=";
                    for (const xml::Element& item : group.Children(u"GroupItem")) {
                        line += N(item.FirstChild(u"Selected").Text());
                    }
                }
            }
            lines.push_back(line);
        }
    }
    return lines;
}

class OptionBuild : public ::testing::Test {
protected:
    OptionBuild() { os::MakeDirectory(dir_ / u"INTERNAL"); system_.SetSystemPath(dir_.path()); }
    ~OptionBuild() override { ClearOutsideCreationFailures(); }

    HRESULT Build(std::initializer_list<CKeyInfo> keys) {
        system_.KeyList().Clear();
        for (const CKeyInfo& key : keys) system_.KeyList().Append(key);
        return system_.ConfigSystem(xml_);
    }
    void Record(std::string_view keyId) { ASSERT_TRUE(test::WriteAll(dir_ / u"INTERNAL\\key.id", keyId)); }

    test::TempDir dir_;
    CSystem system_;
    UniqueBstr xml_;
};

TEST_F(OptionBuild, EveryProgramKindGetsItsEntry) {
    // Drive modules and additional programs interleaved, as keys are added.
    ASSERT_EQ(Build({Key(kMainKey, u"zendara-6.0", Zendara), Key(kArcKey, u"arcwelding-1.2", ExternalWithOptions),
                     Key(kDriveKey, u"zendara-6.0", Zendara, 1), Key(kPickKey, u"pickmaster-2.0", ExternalWithoutOptions),
                     Key(kDriveKey, u"zendara-6.0", Zendara, 2)}),
              S_OK);
    const std::string drive = " Controller language=100 Manipulator=100 Fieldbus interfaces=000 Motion functions=000"
                              " Safety controller=00 Drive unit %=10 sub:ZR-20 mounting=40"
                              " sub:Profibus slave configuration=40 sub:Profibus diagnostics=00 sub:Conveyor setup=00";
    const std::vector<std::string> expected = {
        "ZD - Zendara Controller language=100 Manipulator=010 Fieldbus interfaces=011 Motion functions=101"
        " Safety controller=00 Drive unit 0=10 sub:ZR-20 mounting=01 sub:Profibus slave configuration=01"
        " sub:Profibus diagnostics=10 sub:Conveyor setup=01",
        "EXT ArcWelding ArcWelding Welding process=01 Seam functions=110 Power sources=10 sub:TIG wire feed=01",
        "EXT DriveModule1 DriveModule1" + std::string(drive).replace(drive.find('%'), 1, "1"),
        "EXT - PickMaster",
        "EXT DriveModule2 DriveModule2" + std::string(drive).replace(drive.find('%'), 1, "2"),
    };
    EXPECT_EQ(Summary(xml_.View()), expected);
}

TEST_F(OptionBuild, SelectionsComeFromTheKeyTheRecordOrTheDefaults) {
    const WString unselected = test::Rekey(kArcKey, [](KeyDescription& key) { key.selectionText.clear(); });
    ASSERT_EQ(Build({Key(kMainKey, u"zendara-6.0", Zendara), Key(unselected, u"arcwelding-1.2", ExternalWithOptions)}),
              S_OK);
    EXPECT_EQ(Summary(xml_.View()).at(1),
              "EXT ArcWelding ArcWelding Welding process=10 Seam functions=000 Power sources=00 sub:TIG wire feed=00");

    // key.id's option line wins over the keystring.
    Record("#CKeyId zdkey " + N(kMainKey) + "\n#CKeyId option Zendara01\n");
    ASSERT_EQ(Build({Key(kMainKey, u"zendara-6.0", Zendara)}), S_OK);
    EXPECT_EQ(Summary(xml_.View()).at(0).substr(0, 36), "ZD - Zendara Controller language=010");
    EXPECT_FALSE(system_.HasProgramNotices());

    // A recorded additional selection is announced only when it chose something key.id lacks.
    for (const bool weaveRecorded : {true, false}) {
        Record("#CKeyId extkey " + N(kArcKey) + "\n#CKeyId option ArcWelding10100\n#CKeyId extseldesc MIG-MAG welding\n" +
               (weaveRecorded ? "#CKeyId extseldesc Weave patterns\n" : ""));
        ASSERT_EQ(Build({Key(kMainKey, u"zendara-6.0", Zendara), Key(kArcKey, u"arcwelding-1.2", ExternalWithOptions)}),
                  S_OK);
        WString notice;
        EXPECT_EQ(system_.PopProgramNotice(notice), !weaveRecorded);
        EXPECT_EQ(notice, weaveRecorded ? u"" : u"ArcWelding");
    }
}

TEST_F(OptionBuild, FailuresGiveTheirStatusAndTrace) {
    ASSERT_EQ(Build({Key(kMainKey, u"zendara-6.0", Zendara)}), S_OK);
    const std::vector<std::string> fresh = Summary(xml_.View());
    test::TraceCapture traces;
    EXPECT_EQ(Build({}), KELINSTALL_E_READ_KEYS);
    EXPECT_EQ(Build({Key(u"KEL1:R:1:7:Zendara:::00000000", u"zendara-6.0", Zendara)}), KELINSTALL_E_BAD_KEY);
    EXPECT_TRUE(traces.Has("CSystem::ConfigSystem, Failure extract keystring KEL1:R:1:7:Zendara:::00000000\n"));
    EXPECT_EQ(Build({Key(kMainKey, u"zendara-6.0", Zendara), Key(u"bad", u"zendara-6.0", Zendara, 1)}),
              KELINSTALL_E_BAD_KEY);
    EXPECT_EQ(Build({Key(kMainKey, u"missing", Zendara)}), E_UNEXPECTED);
    EXPECT_TRUE(traces.Has("CSystem::ConfigSystem, Unable to load file " + N(Release(u"missing")) +
                           "\\syskey\\relkey.007 to pRelkeyParser\n"));

    // A sub group that opens itself fails instead of recursing without end.
    const WString release = dir_ / u"loop";
    ASSERT_TRUE(os::MakeDirectory(release) && os::MakeDirectory(release + u"\\syskey"));
    ASSERT_TRUE(test::WriteAll(release + u"\\syskey\\relkey.007",
                               "title Loop\nowner NOFAC\ntype single\ngrp_a \"A\"\ngrp_a 1,1 \"Open\" void &Self\n\nend\n\n"
                               "&Self\ngrp_s \"S\"\ngrp_s 1,1 \"Again\" void &Self\n\n"));
    CKeyInfo loop = Key(kMainKey, u"", Zendara);
    loop.SetProgramPath(release);
    EXPECT_EQ(Build({loop}), E_UNEXPECTED);
    EXPECT_TRUE(traces.Has("CSystem::AddGroupToSystemOptions, Sub group Self opens itself\n"));
    // A build that failed midway must not shift how the next one reads the selection digits.
    ASSERT_EQ(Build({Key(kMainKey, u"zendara-6.0", Zendara)}), S_OK);
    EXPECT_EQ(Summary(xml_.View()), fresh);

    SetOutsideCreationFailure(CLSID_KelInstallSystemOptions, E_OUTOFMEMORY);
    EXPECT_EQ(Build({Key(kMainKey, u"zendara-6.0", Zendara)}), E_UNEXPECTED);
    EXPECT_TRUE(traces.Has("CSystem::ConfigSystem, Failure initialize KelInstallSystemOptions, returned: 8007000e\n"));
    SetOutsideCreationFailure(CLSID_KelInstallSystemOptions, S_OK);
    EXPECT_EQ(Build({Key(kMainKey, u"zendara-6.0", Zendara)}), E_UNEXPECTED);
    EXPECT_TRUE(traces.Has("CSystem::ConfigSystem, KelInstallSystemOptions not initialized"));
}

}  // namespace
}  // namespace kel
