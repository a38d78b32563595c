// A long run of operations on one system gives back every handle and work directory.
#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/test_support.h"

namespace kel::test {
namespace {

UniqueBstr B(WStringView text) { return UniqueBstr::From(text); }

// Open, change, list, reset: what a client does all day. Returns the failed steps.
std::string Round(const WString& path, const WString& arc) {
    std::string failed;
    const auto step = [&](const char* what, HRESULT hr) {
        if (hr != S_OK) failed += std::string(what) + " ";
    };
    const ComPtr<IKelInstallSystem> object = NewSystemObject();
    if (!object) return "no object";
    step("open", object->InitSystem(B(path).get()));
    step("add drive", object->AddDriveModule(B(kDriveKey).get(), 1));
    step("add arc", object->AddAdditionalOption(B(kArcKey).get(), B(arc).get()));
    UniqueBstr text;
    ULONG count = 0;
    step("options", object->GetSystemOptions(text.Put()));
    step("set options", object->SetSystemOptions(text.get()));
    step("keys", object->GetUsedKeystring(External, text.Put(), &count));
    step("home", object->GetHomeFileList(text.Put(), &count));
    step("info", object->GetSystemInfo(text.Put()));
    step("remove arc", object->RemoveAdditionalOption(B(u"ArcWelding").get()));
    step("reset", object->ResetSystem());
    return failed;
}

TEST(ResourceHygiene, ALongRunGivesBackHandlesAndWorkDirectories) {
    TempDir pool;
    const WString path = pool / u"Cell";
    const WString arc = SampleRelease(u"arcwelding-1.2");
    {
        const ComPtr<IKelInstallSystem> object = NewSystemObject();
        ASSERT_TRUE(object);
        ASSERT_EQ(object->CreateSystem(B(path).get(), B(kMainKey).get(), B(SampleRelease(u"zendara-6.0")).get()), S_OK);
    }
    // One round first: what is made once per process is not a leak.
    ASSERT_EQ(Round(path, arc), "");
    const std::set<WString> work = WorkDirectories();
    const long handles = os::OpenHandleCount();
    {
        const File file(os::OpenFile(path + u"\\system.xml", "rb"));
        ASSERT_TRUE(file);
        ASSERT_EQ(os::OpenHandleCount(), handles + 1);  // the count sees an open file
    }
    for (int i = 0; i < 20; ++i) ASSERT_EQ(Round(path, arc), "") << "round " << i;
    EXPECT_EQ(os::OpenHandleCount(), handles);
    EXPECT_EQ(WorkDirectories(), work);
    EXPECT_EQ(Verify(path), "clean\n");
}

}  // namespace
}  // namespace kel::test
