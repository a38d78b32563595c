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
#include "shared/temp_file_handler.h"
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
    // Names like those of earlier versions' staging are a user's to keep.
    ASSERT_TRUE(test::WriteAll(path_ + u".kel-new", "mine"));
    {
        CSystem system;
        ASSERT_EQ(Create(system), S_OK);
    }
    EXPECT_EQ(test::ReadAll(path_ + u".kel-new"), "mine");
    RemoveDirectoryTree(path_);
    ASSERT_TRUE(os::RemoveFile(path_ + u".kel-new"));
    const char* const subDirectory = "CSystem::CreateSystemSubDirectories, Could not create directory ";
    const char* const save = "CSystem::CreateSystem, Unable to save configuration files\n";
    const char* const move = "CSystem::CreateSystem, Unable to move system ";
    for (const Fault& fault : {
             Fault{Primitive::MakeDirectory, 1, KELINSTALL_E_WORK_AREA, "CSystem::CreateSystem, Unable to reserve a staging directory"},
             Fault{Primitive::MakeDirectory, 3, KELINSTALL_E_CREATE_DIRECTORY, subDirectory},
             Fault{Primitive::MakeDirectory, 7, KELINSTALL_E_CREATE_DIRECTORY, subDirectory},
             Fault{Primitive::OpenForWrite, 1, KELINSTALL_E_GUID_FILE, "CSystem::CreateSystem, Failure creating system-GUID file "},
             Fault{Primitive::OpenForWrite, 2, KELINSTALL_E_GUID_FILE, "CSystem::CreateSystem, Failure creating template-GUID file "},
             Fault{Primitive::OpenForWrite, 3, KELINSTALL_E_WRITE_CONFIG, save},
             Fault{Primitive::OpenForWrite, 5, KELINSTALL_E_WRITE_CONFIG, save},
             Fault{Primitive::OpenForWrite, 6, KELINSTALL_E_WRITE_CONFIG, "CSystem::CreateSystem, Error creating system.xml in "},
             Fault{Primitive::OpenForWrite, 7, KELINSTALL_E_WRITE_CONFIG, move},
             Fault{Primitive::Rename, 1, KELINSTALL_E_WRITE_CONFIG, move},
             Fault{Primitive::Write, 1, KELINSTALL_E_GUID_FILE, "CSystem::CreateSystem, Failure creating system-GUID file "},
             Fault{Primitive::Write, 3, KELINSTALL_E_WRITE_CONFIG, save},
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
    const char* const staging = "CTempFileHandler::MoveFile, Unable to move file ";
    for (const Fault& fault : {
             Fault{Primitive::TempName, 1, KELINSTALL_E_WORK_AREA, nullptr},
             Fault{Primitive::OpenForWrite, 1, KELINSTALL_E_WRITE_CONFIG, "CSystem::ResetSystem, Unable to save configuration files\n"},
             Fault{Primitive::OpenForWrite, 4, KELINSTALL_E_WRITE_CONFIG, "CSystem::ResetSystem, Error creating system.xml in "},
             Fault{Primitive::OpenForWrite, 5, KELINSTALL_E_WORK_AREA, staging},
             Fault{Primitive::Rename, 1, KELINSTALL_E_WORK_AREA, staging},
             Fault{Primitive::Rename, 5, KELINSTALL_E_WORK_AREA, staging},
             // Decided, then blocked for good at moving HOME aside, at a file of
             // INTERNAL and at putting the new key.id in: everything goes back.
             Fault{Primitive::Rename, 6, KELINSTALL_E_RESET, nullptr, 3},
             Fault{Primitive::Rename, 9, KELINSTALL_E_RESET, nullptr, 3},
             Fault{Primitive::Rename, 15, KELINSTALL_E_RESET, nullptr, 3},
             // Making SYSPAR, and HOME again on each retry: blocked for good.
             Fault{Primitive::MakeDirectory, 4, KELINSTALL_E_RESET, nullptr, 5},
         }) {
        ASSERT_EQ(system.InitSystem(path_), S_OK);
        ExpectFault(fault, [&] { return system.ResetSystem(); }, [&] {
            EXPECT_EQ(test::Snapshot(path_), before);
            // What the object holds is what the disk holds.
            EXPECT_EQ(system.KeyList().Size(), 2u);
        });
    }
    // A file that cannot be deleted in the old HOME: the reset is done, the
    // rest of the old HOME stays where the trace says.
    ASSERT_EQ(system.InitSystem(path_), S_OK);
    test::TraceCapture traces;
    os::FailNthCall(Primitive::RemoveFile, 1);
    EXPECT_EQ(system.ResetSystem(), S_OK);
    os::ClearFault();
    EXPECT_EQ(test::Snapshot(path_ + u"\\HOME").size(), 0u);
    EXPECT_NE(test::Verify(path_).find("leftover"), std::string::npos);
    ASSERT_FALSE(traces.records().empty());
    EXPECT_NE(traces.records().back().message.find("could not be deleted; it stays in the system"), std::string::npos);
}

TEST_F(FailurePaths, ChangesLeaveTheSystemUntouchedUntilTheCommit) {
    CSystem system;
    ASSERT_EQ(Create(system), S_OK);
    const auto before = test::Snapshot(path_);
    const auto untouched = [&] { EXPECT_EQ(test::Snapshot(path_), before); };
    const WString arc = test::SampleRelease(u"arcwelding-1.2");
    UniqueBstr options;
    ASSERT_EQ(system.GetSystemOptions(options), S_OK);
    const std::function<HRESULT()> addOption = [&] {
        const HRESULT hr = system.AddAdditionalOption(test::kArcKey, arc);
        EXPECT_EQ(system.KeyList().Size(), 1u);  // memory follows the disk
        UniqueBstr now;  // so do the options it reports
        EXPECT_EQ(system.GetSystemOptions(now), S_OK);
        EXPECT_EQ(now.View().find(u"ArcWelding"), WString::npos);
        return hr;
    };
    const std::function<HRESULT()> setPath = [&] { return system.SetProgramPath(Zendara, u"", false, release_); };
    const std::function<HRESULT()> setOptions = [&] { return system.AddKeystring(options.View()); };
    const std::function<HRESULT()> setNoOptions = [&] { return system.AddKeystring(u"<Other/>"); };
    const char* const move = "CTempFileHandler::MoveFile, Unable to move file ";
    for (const auto& [fault, change] : std::initializer_list<std::pair<Fault, const std::function<HRESULT()>&>>{
             {{Primitive::MakeDirectory, 2, KELINSTALL_E_WORK_AREA, nullptr}, addOption},
             {{Primitive::Rename, 1, KELINSTALL_E_WORK_AREA, move}, addOption},
             {{Primitive::Rename, 5, KELINSTALL_E_WORK_AREA, move}, addOption},
             {{Primitive::OpenForWrite, 1, KELINSTALL_E_WRITE_CONFIG, "CSystem::AddAdditionalOption, Unable to save configuration files\n"}, addOption},
             {{Primitive::OpenForWrite, 4, KELINSTALL_E_WRITE_CONFIG, "CSystem::AddAdditionalOption, Error creating system.xml in "}, addOption},
             {{Primitive::TempName, 1, KELINSTALL_E_WORK_AREA, nullptr}, setPath},
             {{Primitive::OpenForWrite, 1, KELINSTALL_E_WRITE_CONFIG, "CConfigurationFiles::SaveConfiguration, Failure writing to keystr.txt\n"}, setPath},
             {{Primitive::OpenForWrite, 4, KELINSTALL_E_WRITE_CONFIG, "CSystem::SetProgramPath, Error creating system.xml in "}, setPath},
             {{Primitive::TempName, 1, KELINSTALL_E_WORK_AREA, nullptr}, setOptions},
             // A selection that does not fit is told as such, work area or not.
             {{Primitive::TempName, 1, E_INVALIDARG, "CSystem::AddKeystring, The document is no option selection"}, setNoOptions},
             {{Primitive::Rename, 2, KELINSTALL_E_WORK_AREA, "CSystem::AddKeystring, Unable to move updated system "}, setOptions},
             {{Primitive::OpenForWrite, 1, KELINSTALL_E_WRITE_CONFIG, "CSystem::AddKeystring, Unable to remove non updated system"}, setOptions},
             {{Primitive::OpenForWrite, 4, KELINSTALL_E_WRITE_CONFIG, "CSystem::AddKeystring, Error creating system.xml in "}, setOptions},
         }) {
        ExpectFault(fault, change, untouched);
    }

    // A change decided but blocked: a success that says so, the object holds
    // the change, and the next change or open finishes it first.
    const std::set<WString> work = test::WorkDirectories();
    os::FailNthCall(Primitive::Rename, 6, 3);
    EXPECT_EQ(system.AddDriveModule(test::kDriveKey, 1), KELINSTALL_S_PENDING);
    os::ClearFault();
    EXPECT_EQ(test::WorkDirectories(), work);
    EXPECT_EQ(system.KeyList().Size(), 2u);
    EXPECT_TRUE(test::Exists(path_ + u"\\INTERNAL\\commit.journal"));
    // A second fault before the next change finishes it: the change is refused, nothing is mixed.
    os::FailNthCall(Primitive::Rename, 1, 3);
    EXPECT_EQ(system.AddDriveModule(test::kDriveKey, 2), KELINSTALL_E_WORK_AREA);
    os::ClearFault();
    CSystem reopened;
    ASSERT_EQ(reopened.InitSystem(path_), S_OK);
    EXPECT_EQ(test::Verify(path_), "clean\n");
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

// Another holder of the system: a bounded wait, then the busy status; reads
// share the lock.
TEST_F(FailurePaths, ABusySystemIsReportedNotWaitedForForever) {
    CSystem system;
    ASSERT_EQ(Create(system), S_OK);
    const unsigned wait = os::LockWaitMilliseconds();
    os::SetLockWaitMilliseconds(50);
    os::FileLock reader;
    ASSERT_EQ(reader.Lock(path_ + u"\\" + kLockFile, os::FileLock::Mode::Shared, 0), os::FileLock::Result::Locked);
    WString info;
    EXPECT_EQ(system.GetSystemInfo(info), S_OK);
    test::TraceCapture traces;
    EXPECT_EQ(system.AddDriveModule(test::kDriveKey, 1), KELINSTALL_E_BUSY);
    EXPECT_TRUE(traces.Has("CSystem::AddDriveModule, The system " + test::N(path_) +
                           " is busy: another object or process is using it\n"));
    EXPECT_EQ(system.KeyList().Size(), 1u);
    reader.Unlock();
    os::SetLockWaitMilliseconds(wait);
    EXPECT_EQ(system.AddDriveModule(test::kDriveKey, 1), S_OK);
}

}  // namespace
}  // namespace kel
