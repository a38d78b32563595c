#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "support/test_support.h"
#include "shared/guid.h"

namespace kel {
namespace {

TEST(Guid, TextForms) {
    const GUID g = {0x0A0B0C0D, 0x0001, 0xBEEF, {0x00, 0x01, 0xAB, 0x10, 0x20, 0x30, 0x40, 0xFF}};
    EXPECT_EQ(CGUID::ToText(g, 0), u"a0b0c0d 1 beef 0 1 ab 10 20 30 40 ff");
    EXPECT_EQ(CGUID::ToText(g, 1), u"{0A0B0C0D-0001-BEEF-0001-AB10203040FF}");

    CGUID guid;
    WString first, second;
    ASSERT_TRUE(guid.GenerateGUID(1, first));
    ASSERT_TRUE(guid.GenerateGUID(1, second));
    EXPECT_NE(first, second);

#if !defined(_WIN32)
    // Random bytes are drawn ahead: a forked child must not repeat its parent's next GUID.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        WString text;
        const std::string bytes = guid.GenerateGUID(1, text) ? test::N(text) : std::string();
        _exit(write(pipeEnds[1], bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) ? 0 : 1);
    }
    close(pipeEnds[1]);
    char fromChild[64] = {};
    const ssize_t got = read(pipeEnds[0], fromChild, sizeof fromChild);
    close(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(got, 38);
    ASSERT_TRUE(guid.GenerateGUID(1, second));
    EXPECT_NE(std::string(fromChild, 38), test::N(second));
#endif
}

TEST(Guid, FilesHoldOneGuidWithoutLineEnd) {
    test::TempDir dir;
    CGUID guid;
    ASSERT_TRUE(guid.CreateGUIDFile(dir / u"system.guid", 1));
    EXPECT_EQ(test::ReadAll(dir / u"system.guid").size(), 38u);  // no line end

    test::TraceCapture traces;
    EXPECT_FALSE(guid.CreateGUIDFile(dir / u"bad.guid", 2));
    EXPECT_TRUE(test::Exists(dir / u"bad.guid"));
    EXPECT_EQ(test::ReadAll(dir / u"bad.guid"), "");
    const std::vector<std::u16string> expected = {u"GUID", u"CGUID::GenerateGUID: Unsupported GUID format specified\n"};
    EXPECT_EQ(traces.pieces(), expected);

    traces.Clear();
    const WString missing = dir / u"no\\such\\dir.guid";
    EXPECT_FALSE(guid.CreateGUIDFile(missing, 1));
    EXPECT_EQ(guid.LastError(), u"CGUID::CreateGUIDFile: Could not create GUID file " + missing + u"!\n");
    ASSERT_EQ(traces.pieces().size(), 2u);
    EXPECT_EQ(traces.pieces()[1], guid.LastError());
}

}  // namespace
}  // namespace kel
