#include <gtest/gtest.h>

#include "shared/outside_factory.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "support/test_support.h"

namespace kel {
namespace {

ComPtr<IKelInstallMedia> NewMedia() {
    ComPtr<IKelInstallMedia> media;
    EXPECT_EQ(CreateOutsideComponent(CLSID_KelInstallMedia, IID_IKelInstallMedia, media.PutVoid()), S_OK);
    return media;
}

HRESULT Open(IKelInstallMedia* media, WStringView path) {
    UniqueBstr bstr = UniqueBstr::From(path);
    return media->OpenMedia(bstr.get());
}

WString Name(IKelInstallMedia* media) {
    UniqueBstr name;
    EXPECT_EQ(media->GetMediaName(name.Put()), S_OK);
    return WString(name.View());
}

// A release directory with media.id (and version.xml) at its top.
WString MakeRelease(const test::TempDir& dir, WStringView name, const std::string& mediaId,
                    const std::string& versionXml = {}) {
    const WString release = dir / name;
    EXPECT_TRUE(os::MakeDirectory(release));
    EXPECT_TRUE(test::WriteAll(release + u"\\media.id", mediaId));
    if (!versionXml.empty()) {
        EXPECT_TRUE(test::WriteAll(release + u"\\version.xml", versionXml));
    }
    return release;
}

TEST(Media, ReadsOddlySpelledMediaIdsAndOddVersions) {
    test::TempDir dir;
    // A byte-order mark as Windows editors write it, CR LF, blanks, an unknown key.
    const WString release = MakeRelease(dir, u"arc", "\xEF\xBB\xBF# Arc\r\n  NAME = ArcWelding\r\n\r\ntype=2\r\nVendor=Kel\r\n",
                                        "<V><Major>1</Major><Minor>2</Minor><Build>x7</Build><Revision>70000</Revision></V>");
    ComPtr<IKelInstallMedia> media = NewMedia();
    ASSERT_EQ(Open(media.get(), release + u"\\"), S_OK);
    EXPECT_EQ(Name(media.get()), u"ArcWelding");
    KelMediaDescription record{};
    ASSERT_EQ(media->GetMediaDescription(&record), S_OK);
    UniqueBstr owned(record.name);
    EXPECT_EQ(owned.View(), u"ArcWelding");
    // A part that is no number is 0; one beyond 16 bits wraps like a WORD.
    EXPECT_EQ((std::vector<int>{record.first, record.second, record.third, record.fourth}),
              (std::vector<int>{1, 2, 70000 & 0xFFFF, 0}));
    LONG type = 0;
    EXPECT_EQ(media->GetMediaType(&type), S_OK);
    EXPECT_EQ(type, 2);

    // Without version.xml every part is 0.
    const WString bare = MakeRelease(dir, u"bare", "Name=PickMaster\nType=4\n");
    ASSERT_EQ(Open(media.get(), bare), S_OK);
    uint16_t major = 9, minor = 9;
    EXPECT_EQ(media->GetVersion(&major, &minor), S_OK);
    EXPECT_EQ(major + minor, 0);
}

TEST(Media, FailedOpensGiveDistinctStatusesAndKeepTheCurrentRelease) {
    test::TempDir dir;
    ComPtr<IKelInstallMedia> media = NewMedia();

    // Nothing is open yet: queries fail and clear their outputs.
    LONG type = 7;
    EXPECT_EQ(media->GetMediaType(&type), KEL_MEDIA_E_NOT_OPEN);
    EXPECT_EQ(type, 0);
    UniqueBstr name;
    EXPECT_EQ(media->GetMediaName(name.Put()), KEL_MEDIA_E_NOT_OPEN);
    EXPECT_EQ(name.get(), nullptr);

    const WString good = MakeRelease(dir, u"good", "Name=Zendara\nType=1\n");
    ASSERT_EQ(Open(media.get(), good), S_OK);

    EXPECT_EQ(Open(media.get(), dir / u"missing"), KEL_MEDIA_E_NO_DIRECTORY);
    EXPECT_EQ(Open(media.get(), good + u"\\media.id"), KEL_MEDIA_E_NO_DIRECTORY);
    EXPECT_EQ(media->OpenMedia(nullptr), KEL_MEDIA_E_NO_DIRECTORY);
    ASSERT_TRUE(os::MakeDirectory(dir / u"empty"));
    EXPECT_EQ(Open(media.get(), dir / u"empty"), KEL_MEDIA_E_NO_MEDIA_ID);

    const std::pair<const char16_t*, const char*> invalid[] = {
        {u"noname", "Type=1\n"},
        {u"notype", "Name=Zendara\n"},
        {u"badtype", "Name=Zendara\nType=3\n"},
        {u"typetext", "Name=Zendara\nType=1x\n"},
        {u"blankname", "Name=Zen dara\nType=1\n"},
        {u"longname", "Name=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\nType=1\n"},
        {u"noequals", "Name=Zendara\nType=1\nZendara 6.0\n"},
    };
    for (const auto& [folder, content] : invalid) {
        EXPECT_EQ(Open(media.get(), MakeRelease(dir, folder, content)), KEL_MEDIA_E_INVALID_MEDIA_ID)
            << test::N(folder);
    }
    // Too large to be one, however valid its lines.
    const std::string huge = "#" + std::string(64 * 1024, 'x') + "\nName=Zendara\nType=1\n";
    EXPECT_EQ(Open(media.get(), MakeRelease(dir, u"huge", huge)), KEL_MEDIA_E_INVALID_MEDIA_ID);
    // An invalid media.id at the top gives way to a valid one in sys_pack.
    const WString fallback = MakeRelease(dir, u"fallback", "Type=1\n");
    ASSERT_TRUE(os::MakeDirectory(fallback + u"\\sys_pack") &&
                test::WriteAll(fallback + u"\\sys_pack\\media.id", "Name=Packed\nType=2\n"));
    ASSERT_EQ(Open(media.get(), fallback), S_OK);
    EXPECT_EQ(Name(media.get()), u"Packed");
    // 64 characters is the longest name.
    EXPECT_EQ(Open(media.get(), MakeRelease(dir, u"name64", "Name=" + std::string(64, 'A') + "\nType=16\n")), S_OK);
    EXPECT_EQ(Name(media.get()), WString(64, u'A'));
    EXPECT_EQ(Open(media.get(), dir / u"empty"), KEL_MEDIA_E_NO_MEDIA_ID);
    EXPECT_EQ(Name(media.get()), WString(64, u'A'));
}

}  // namespace
}  // namespace kel
