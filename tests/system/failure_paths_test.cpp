// Every file-system failure of creating, resetting and changing a system,
// reached by failing one primitive call: the status, the operation's trace,
// and what is left on disk.
#include <gtest/gtest.h>

#include <functional>

#include "description/system_xml.h"
#include "platform/fault_injection.h"
#include "platform/os.h"
#include "support/test_support.h"
#include "shared/file_operation.h"
#include "system/system.h"

namespace kel {
namespace {

using os::Primitive;

using test::ExpectFault;
using test::Fault;

class FailurePaths : public ::testing::Test {
protected:
    void TearDown() override { os::ClearFault(); }
    HRESULT Create(CSystem& system) { return system.CreateSystem(path_, test::kMainKey, release_); }

    test::TempDir pool_;
    WString path_ = pool_ / u"Sys";
    WString release_ = test::SampleRelease(u"zendara-6.0");
};

TEST_F(FailurePaths, CreateLeavesNothingInThePool) {
    const char* const subDirectory = "CSystem::CreateSystemSubDirectories, Could not create directory ";
    const char* const save = "CSystem::CreateSystem, Unable to save configuration files\n";
    for (const Fault& fault : {
             Fault{Primitive::TempName, 1, KELINSTALL_E_WORK_AREA, "CSystem::CreateSystem, Unable to reserve a staging directory"},
             Fault{Primitive::MakeDirectory, 1, KELINSTALL_E_CREATE_DIRECTORY, "CSystem::CreateRobotSystemDirectory: Could not create system directory in "},
             Fault{Primitive::MakeDirectory, 2, KELINSTALL_E_CREATE_DIRECTORY, subDirectory},
             Fault{Primitive::MakeDirectory, 7, KELINSTALL_E_CREATE_DIRECTORY, subDirectory},
             Fault{Primitive::OpenForWrite, 1, KELINSTALL_E_GUID_FILE, "CSystem::CreateSystem, Failure creating system-GUID file "},
             Fault{Primitive::OpenForWrite, 2, KELINSTALL_E_GUID_FILE, "CSystem::CreateSystem, Failure creating template-GUID file "},
             Fault{Primitive::OpenForWrite, 3, KELINSTALL_E_WRITE_CONFIG, save},
             Fault{Primitive::OpenForWrite, 4, KELINSTALL_E_WRITE_CONFIG, save},
             Fault{Primitive::OpenForWrite, 5, KELINSTALL_E_WRITE_CONFIG, save},
             Fault{Primitive::OpenForWrite, 6, KELINSTALL_E_WRITE_CONFIG, "CSystem::CreateSystem, Error creating system.xml in "},
             Fault{Primitive::Rename, 1, KELINSTALL_E_WRITE_CONFIG, "CSystem::CreateSystem, Unable to move system "},
             Fault{Primitive::Rename, 2, KELINSTALL_E_WRITE_CONFIG, "CSystem::CreateSystem, Unable to move system "},
         }) {
        CSystem system;
        ExpectFault(fault, [&] { return Create(system); }, [&] { EXPECT_EQ(test::Snapshot(pool_.path()).size(), 0u); });
    }
}

TEST_F(FailurePaths, ResetRestoresTheSystem) {
    CSystem system;
    ASSERT_EQ(Create(system), S_OK);
    ASSERT_TRUE(test::WriteAll(path_ + u"\\HOME\\a.mod", "x") && test::WriteAll(path_ + u"\\SYSPAR\\b.cfg", "y"));
    ASSERT_EQ(system.AddDriveModule(test::kDriveKey, 1), S_OK);
    const auto before = test::Snapshot(path_);
    for (const Fault& fault : {
             Fault{Primitive::TempName, 1, KELINSTALL_E_WORK_AREA, nullptr},
             Fault{Primitive::CopyOneFile, 1, KELINSTALL_E_WORK_AREA, nullptr},
             Fault{Primitive::TempName, 2, KELINSTALL_E_WORK_AREA, nullptr},
             Fault{Primitive::OpenForWrite, 1, KELINSTALL_E_WRITE_CONFIG, "CSystem::ResetSystem, Unable to save configuration files\n"},
             Fault{Primitive::OpenForWrite, 4, KELINSTALL_E_WRITE_CONFIG, "CSystem::ResetSystem, Error creating system.xml in "},
             Fault{Primitive::Rename, 1, KELINSTALL_E_WORK_AREA, "CTempFileHandler::MoveFile, Unable to move file "},
             Fault{Primitive::RemoveFile, 3, KELINSTALL_E_RESET, "CConfigurationFiles::RemoveConfiguration: Could not remove file "},
             Fault{Primitive::RemoveFile, 6, KELINSTALL_E_RESET, nullptr},
             Fault{Primitive::RemoveFile, 7, KELINSTALL_E_RESET, nullptr},
             Fault{Primitive::Rename, 7, KELINSTALL_E_RESET, nullptr},
         }) {
        ASSERT_EQ(system.InitSystem(path_), S_OK);
        ExpectFault(fault, [&] { return system.ResetSystem(); }, [&] { EXPECT_EQ(test::Snapshot(path_), before); });
    }
}

TEST_F(FailurePaths, ChangesLeaveTheSystemUntouchedUntilTheCommit) {
    CSystem system;
    ASSERT_EQ(Create(system), S_OK);
    const auto before = test::Snapshot(path_);
    const auto untouched = [&] { EXPECT_EQ(test::Snapshot(path_), before); };
    const WString arc = test::SampleRelease(u"arcwelding-1.2");
    const auto addOption = [&] {
        const HRESULT hr = system.AddAdditionalOption(test::kArcKey, arc);
        if (system.KeyList().Size() > 1) system.KeyList().RemoveAt(1);  // stays in memory after a failed commit
        return hr;
    };
    for (const Fault& fault : {
             Fault{Primitive::MakeDirectory, 2, KELINSTALL_E_WORK_AREA, nullptr},
             Fault{Primitive::Rename, 1, KELINSTALL_E_WORK_AREA, "CTempFileHandler::MoveFile, Unable to move file "},
             Fault{Primitive::Rename, 5, KELINSTALL_E_WORK_AREA, "CTempFileHandler::MoveFile, Unable to move file "},
             Fault{Primitive::OpenForWrite, 1, KELINSTALL_E_WRITE_CONFIG, "CSystem::AddAdditionalOption, Unable to save configuration files\n"},
             Fault{Primitive::OpenForWrite, 4, KELINSTALL_E_WRITE_CONFIG, "CSystem::AddAdditionalOption, Error creating system.xml in "},
         }) {
        ExpectFault(fault, addOption, untouched);
    }
    for (const Fault& fault : {
             Fault{Primitive::TempName, 1, KELINSTALL_E_WORK_AREA, nullptr},
             Fault{Primitive::OpenForWrite, 1, KELINSTALL_E_WRITE_CONFIG, "CConfigurationFiles::SaveConfiguration, Failure writing to keystr.txt\n"},
             Fault{Primitive::OpenForWrite, 4, KELINSTALL_E_WRITE_CONFIG, "CSystem::SetProgramPath, Error creating system.xml in "},
         }) {
        ExpectFault(fault, [&] { return system.SetProgramPath(Zendara, u"", false, release_); }, untouched);
    }

    WString options;
    ASSERT_EQ(system.GetSystemOptions(options), S_OK);
    for (const Fault& fault : {
             Fault{Primitive::TempName, 1, KELINSTALL_E_WORK_AREA, nullptr},
             Fault{Primitive::Rename, 2, KELINSTALL_E_WORK_AREA, "CSystem::AddKeystring, Unable to move updated system "},
             Fault{Primitive::OpenForWrite, 1, KELINSTALL_E_WRITE_CONFIG, "CSystem::AddKeystring, Unable to remove non updated system"},
         }) {
        ExpectFault(fault, [&] { return system.AddKeystring(options); }, untouched);
    }

    // A change decided but not finished is finished by the next open.
    const std::set<WString> work = test::WorkDirectories();
    os::FailNthCall(Primitive::Rename, 6);
    EXPECT_EQ(system.AddDriveModule(test::kDriveKey, 1), KELINSTALL_E_WORK_AREA);
    os::ClearFault();
    EXPECT_EQ(test::WorkDirectories(), work);
    CSystem reopened;
    ASSERT_EQ(reopened.InitSystem(path_), S_OK);
    WString keys;
    uint32_t count = 0;
    EXPECT_EQ(reopened.GetDriveModuleKeys(keys, count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_FALSE(test::Exists(path_ + u"\\INTERNAL\\commit.journal"));
}

TEST_F(FailurePaths, TagAndSystemXmlAreReplacedInOneStep) {
    CSystem system;
    ASSERT_EQ(Create(system), S_OK);
    ASSERT_EQ(system.InitSystem(path_), S_OK);
    ASSERT_TRUE(system.SetSystemTag(u"old tag"));
    // What a media update would write differs from what is there.
    std::string described = test::ReadAll(path_ + u"\\system.xml");
    const std::size_t name = described.find("name=\"Zendara\"");
    ASSERT_NE(name, std::string::npos);
    ASSERT_TRUE(test::WriteAll(path_ + u"\\system.xml", described.replace(name, 14, "name=\"Old\"")));
    const auto before = test::Snapshot(path_);
    const auto untouched = [&] { EXPECT_EQ(test::Snapshot(path_), before); };
    const auto setTag = [&] { return system.SetSystemTag(u"new tag") ? S_OK : E_FAIL; };
    const auto updateMedia = [&] { return CSystemXml().ChangeMediaInSystemXml(path_); };
    for (const Primitive primitive : {Primitive::TempName, Primitive::OpenForWrite, Primitive::Write, Primitive::Rename}) {
        const bool opening = primitive == Primitive::TempName || primitive == Primitive::OpenForWrite;
        ExpectFault({primitive, 1, E_FAIL, opening ? "CSystem::SetSystemTag, Cannot create tagfile\n"
                                                   : "CSystem::SetSystemTag, Error writing to tagfile\n"},
                    setTag, untouched);
        ExpectFault({primitive, 1, E_FAIL, "CBackupSupport::ChangeMediaInSystemXml, could not save XML"}, updateMedia,
                    untouched);
    }
    ASSERT_EQ(updateMedia(), S_OK);
    EXPECT_NE(test::ReadAll(path_ + u"\\system.xml").find("name=\"Zendara\""), std::string::npos);

    // A character the code page lacks is written as '?', and said so.
    struct Tag {
        WString text;
        const char* bytes;
        bool lossy;
    };
    for (const Tag& tag : {Tag{u"Zelle \u00e4?", "Zelle \xe4?", false}, Tag{u"Zelle \u4e00", "Zelle ?", true}}) {
        test::TraceCapture traces;
        ASSERT_TRUE(system.SetSystemTag(tag.text));
        EXPECT_EQ(test::ReadAll(path_ + u"\\info.txt"), tag.bytes);
        EXPECT_EQ(traces.Has("CSystem::SetSystemTag, Characters the code page cannot hold were written as '?'\n"), tag.lossy);
    }
    EXPECT_EQ(test::Snapshot(path_).size(), before.size());
}

}  // namespace
}  // namespace kel
