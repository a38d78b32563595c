// SetSystemOptions takes only a document that fits the system's option tree.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/os.h"
#include "platform/shell_file_op.h"
#include "support/test_support.h"

namespace kel::test {
namespace {

// The state of the first item with this text becomes state.
void Choose(WString& doc, WStringView item, char16_t state) {
    const std::size_t at = doc.find(u"</Selected><LineSelectionDescription>" + WString(item) + u"<");
    ASSERT_NE(at, WString::npos) << N(item);
    doc[at - 1] = state;
}
void Replace(WString& doc, WStringView from, WStringView to) {
    const std::size_t at = doc.find(from);
    ASSERT_NE(at, WString::npos) << N(from);
    doc.replace(at, from.size(), to);
}
WString ArcEntry(const WString& doc) {
    const std::size_t begin = doc.find(u"<EXT Instance=\"ArcWelding\">");
    return begin == WString::npos ? WString() : doc.substr(begin, doc.find(u"</EXT>", begin) + 6 - begin);
}

TEST(OptionCheck, MisfitsAreRefusedAndTheSystemsOwnDocumentsFit) {
    TempDir pool;
    const WString path = pool / u"Cell";
    const ComPtr<IKelInstallSystem> system = NewSystemObject();
    ASSERT_EQ(system->CreateSystem(B(path).get(), B(kMainKey).get(), B(SampleRelease(u"zendara-6.0")).get()), S_OK);
    ASSERT_EQ(system->AddAdditionalOption(B(kArcKey).get(), B(SampleRelease(u"arcwelding-1.2")).get()), S_OK);
    ASSERT_EQ(system->AddAdditionalOption(B(kPickKey).get(), B(SampleRelease(u"pickmaster-2.0")).get()), S_OK);
    ASSERT_EQ(system->AddDriveModule(B(kDriveKey).get(), 1), S_OK);
    UniqueBstr text;
    ASSERT_EQ(system->GetSystemOptions(text.Put()), S_OK);
    const WString good(text.View());
    const auto before = Snapshot(path);

    const std::vector<std::pair<std::function<void(WString&)>, std::string>> misfits = {
        {[](WString& d) { d = u"<OptionSelection/>"; }, "Options of Zendara are missing"},
        {[](WString& d) { d = u"<OptionSelection><ZD>"; }, "The document is no option selection"},
        {[](WString& d) { Replace(d, u"<ZD>", u"<Z0>"); Replace(d, u"</ZD>", u"</Z0>"); }, "Options of Zendara are missing"},
        {[](WString& d) { Replace(d, ArcEntry(d), u""); }, "Options of ArcWelding are missing"},
        {[](WString& d) { Replace(d, u">PickMaster<", u">SpotWelding<"); }, "Program SpotWelding is not loaded"},
        {[](WString& d) { Choose(d, u"Spanish", u'1'); }, "Group Controller language of Zendara allows one choice: English, Spanish"},
        // Of two entries of one program the last counts.
        {[](WString& d) { WString arc = ArcEntry(d); Choose(arc, u"MIG-MAG welding", u'1');
                          Replace(d, u"</OptionSelection>", arc + u"</OptionSelection>"); },
         "Group Welding process of ArcWelding allows one choice: MIG-MAG welding, TIG welding"},
        {[](WString& d) { Choose(d, u"ZR-20 1.65 m reach", u'0'); Choose(d, u"ZR-6 0.6 m reach", u'1'); },
         "Group ZR-20 mounting of Zendara is not open for a choice: Wall mounted"},
        // A default opens, but only if its own opener is chosen.
        {[](WString& d) { Choose(d, u"Profibus slave", u'0'); Choose(d, u"Addresses 64 to 126", u'4'); },
         "Group Profibus diagnostics of Zendara is not open for a choice: Extended diagnosis"},
        {[](WString& d) { Choose(d, u"Drive 0 standard", u'0'); }, "Group Drive unit 0 of Zendara needs one choice"},
        {[](WString& d) { Replace(d, u">Spanish<", u">Klingon<"); }, "Group Controller language of Zendara has no item Klingon"},
        {[](WString& d) { Replace(d, u">Safety controller<", u">Lasers<"); }, "Group Lasers of Zendara is unknown"},
    };
    for (const auto& [edit, trace] : misfits) {
        SCOPED_TRACE(trace);
        WString doc = good;
        edit(doc);
        TraceCapture traces;
        EXPECT_EQ(system->SetSystemOptions(B(doc).get()), E_INVALIDARG);
        EXPECT_TRUE(traces.Has("CSystem::AddKeystring, " + trace + "\n"));
        EXPECT_EQ(Snapshot(path), before);
    }
    ASSERT_EQ(system->GetSystemOptions(text.Put()), S_OK);
    EXPECT_EQ(text.View(), good);

    // A fresh object builds its own tree, with other sub group GUIDs.
    const ComPtr<IKelInstallSystem> other = NewSystemObject();
    ASSERT_EQ(other->InitSystem(B(path).get()), S_OK);
    EXPECT_EQ(other->SetSystemOptions(B(good).get()), S_OK);
    // A default is a choice; an explicit choice beside it wins.
    WString doc = good;
    Choose(doc, u"Drive 0 standard", u'4');
    EXPECT_EQ(other->SetSystemOptions(B(doc).get()), S_OK);
    Choose(doc, u"Drive 0 high power", u'1');
    EXPECT_EQ(other->SetSystemOptions(B(doc).get()), S_OK);
    // After a stored selection the object checks against the same tree.
    WString bad = doc;
    Choose(bad, u"Spanish", u'1');
    EXPECT_EQ(other->SetSystemOptions(B(bad).get()), E_INVALIDARG);
    ASSERT_EQ(other->GetSystemOptions(text.Put()), S_OK);
    EXPECT_NE(WString(text.View()).find(u"<Selected>1</Selected><LineSelectionDescription>Drive 0 high power<"),
              WString::npos);
}

// An object that holds no tree builds it beside the parse of the document
// (here on a second thread, as for a large one); a build that fails refuses
// the call before anything is written.
TEST(OptionCheck, AFreshObjectBuildsTheTreeBesideTheParse) {
    struct Restore {
        std::size_t from = os::BesideFromNodes();
        ~Restore() { os::SetBesideFromNodes(from); }
    } restore;
    os::SetBesideFromNodes(0);
    TempDir pool;
    const WString path = pool / u"Cell";
    const WString release = pool / u"release";
    ASSERT_EQ(ShellFileOperation(ShellOperation::Copy, SampleRelease(u"zendara-6.0"), release, kShellSilentFlags), 0);
    UniqueBstr text;
    {
        const ComPtr<IKelInstallSystem> system = NewSystemObject();
        ASSERT_EQ(system->CreateSystem(B(path).get(), B(kMainKey).get(), B(release).get()), S_OK);
        ASSERT_EQ(system->GetSystemOptions(text.Put()), S_OK);
    }
    WString bad(text.View());
    Choose(bad, u"Spanish", u'1');
    const auto fresh = [&] {
        const ComPtr<IKelInstallSystem> object = NewSystemObject();
        EXPECT_EQ(object->InitSystem(B(path).get()), S_OK);
        return object;
    };
    EXPECT_EQ(fresh()->SetSystemOptions(text.get()), S_OK);
    const auto before = Snapshot(path);
    TraceCapture misfit;
    EXPECT_EQ(fresh()->SetSystemOptions(B(bad).get()), E_INVALIDARG);
    EXPECT_TRUE(misfit.Has("CSystem::AddKeystring, Group Controller language of Zendara allows one choice: English, Spanish\n"));

    for (const char16_t* file : {u"relkey.007", u"relkey.xml"}) os::RemoveFile(release + u"\\syskey\\" + file);
    const ComPtr<IKelInstallSystem> object = fresh();
    TraceCapture traces;
    EXPECT_EQ(object->SetSystemOptions(text.get()), E_FAIL);
    EXPECT_TRUE(traces.Has("CSystem::AddKeystring, Unable to build the system's options to check the selection against\n"));
    EXPECT_EQ(Snapshot(path), before);
}

}  // namespace
}  // namespace kel::test
