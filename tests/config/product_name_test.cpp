#include <gtest/gtest.h>

#include "shared/outside_factory.h"
#include "config/configuration_files.h"
#include "shared/internal_component.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "support/test_support.h"

namespace kel {
namespace {

TEST(ProductName, ASerialOutsideItsRangeIsTracedAndGivesNoText) {
    WString text = u"old";
    test::TraceCapture traces;
    EXPECT_EQ(CConfigurationFiles().SerialNr_LongToStr(16777002, text), -1);
    EXPECT_EQ(text, u"");
    EXPECT_TRUE(traces.Has("CConfigurationFiles::SerialNr_LongToStr, Serial number outside valid interval\n"));
}

class ProductNameRelease : public ::testing::Test {
protected:
    void Write(WStringView name, std::string_view text) { ASSERT_TRUE(test::WriteAll(dir_ / name, text)); }

    test::TempDir dir_;
    CConfigurationFiles files_;
};

TEST_F(ProductNameRelease, VersionTextBesideMediaId) {
    WString folder = dir_.path();
    EXPECT_EQ(files_.FindMediaIdFolder(folder), 0);
    EXPECT_EQ(folder, dir_.path());
    ASSERT_TRUE(os::MakeDirectory(dir_ / u"sys_pack"));
    Write(u"sys_pack\\media.id", "Name=X\nType=1\n");
    EXPECT_EQ(files_.FindMediaIdFolder(folder), 1);
    EXPECT_EQ(folder, dir_ / u"sys_pack");

    // One directly in the release wins. A value that is no number counts as 0,
    // a large one keeps its low 16 bits.
    Write(u"media.id", "Name=X\nType=1\n");
    folder = dir_.path();
    EXPECT_EQ(files_.FindMediaIdFolder(folder), 1);
    EXPECT_EQ(folder, dir_.path());
    Write(u"version.xml",
          "<V><Major>x5</Major><Minor>65551</Minor><Build>1234</Build><Revision> 3z</Revision><T><Title>A &amp; B</Title></T></V>");
    WString text;
    EXPECT_EQ(files_.GetProductName(dir_.path(), u"", text), 1);
    EXPECT_EQ(text, u"A & B 0.15.1234.03");

    Write(u"version.xml", "<V><Title>T</Title><Major>1</Major><Minor>2</Minor><Build>3</Build></V>");
    test::TraceCapture traces;
    EXPECT_EQ(files_.GetProductName(dir_.path(), u"", text), 0);
    EXPECT_EQ(text, u"");
    EXPECT_TRUE(traces.records().empty());
}

TEST_F(ProductNameRelease, TitleWithoutVersionFile) {
    Write(u"relkey.opt", "title Arc Welding 1.2\nowner SEROP\n");
    WString text = u"old";
    EXPECT_EQ(files_.GetProductName(dir_.path(), dir_ / u"relkey.opt", text), 1);
    EXPECT_EQ(text, u"Arc Welding 1.2");
    EXPECT_EQ(files_.GetProductName(dir_.path(), u"", text), 0);
    EXPECT_EQ(text, u"");
}

TEST_F(ProductNameRelease, InternalComponentMissing) {
    Write(u"version.xml", "<V><Title>T</Title><Major>1</Major><Minor>2</Minor><Build>3</Build><Revision>4</Revision></V>");
    SetOutsideCreationFailure(CLSID_KelInstallInternal, E_OUTOFMEMORY);
    test::TraceCapture traces;
    WString text = u"old";
    const int result = files_.GetProductName(dir_.path(), u"", text);
    ClearOutsideCreationFailures();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(text, u"");
    EXPECT_TRUE(traces.Has("CConfigurationFiles::GetProductName, Cannot init KelInstallInternal"));
}

// The outside component that reads version.xml for the product name.
struct Answer {
    HRESULT hr;
    WString text;
};

Answer Query(WStringView path, WStringView xpath) {
    ComPtr<IKelInstallInternal> internal;
    EXPECT_EQ(CreateOutsideComponent(CLSID_KelInstallInternal, IID_IKelInstallInternal, internal.PutVoid()), S_OK);
    UniqueBstr p = UniqueBstr::From(path), x = UniqueBstr::From(xpath), text;
    const HRESULT hr = internal->GetXmlText(p.get(), x.get(), text.Put());
    return {hr, WString(text.View())};
}

TEST(Internal, AnswersWithTheTextOfTheSelectedNode) {
    test::TempDir dir;
    const WString file = dir / u"version.xml";
    ASSERT_TRUE(test::WriteAll(file, "<Release><Version><Major>6</Major><Revision/></Version></Release>"));
    EXPECT_EQ(Query(file, u"//Major").text, u"6");
    const Answer empty = Query(file, u"//Revision");
    EXPECT_EQ(empty.hr, S_OK);
    EXPECT_EQ(empty.text, u"");

    EXPECT_EQ(Query(file, u"//Build").hr, KEL_INTERNAL_E_NO_NODE);
    EXPECT_EQ(Query(dir / u"missing.xml", u"//Major").hr, KEL_INTERNAL_E_NO_FILE);
    EXPECT_EQ(Query(dir.path(), u"//Major").hr, KEL_INTERNAL_E_NO_FILE);
    ASSERT_TRUE(test::WriteAll(dir / u"broken.xml", "<Release><Major>6</Release>"));
    const Answer broken = Query(dir / u"broken.xml", u"//Major");
    EXPECT_EQ(broken.hr, KEL_INTERNAL_E_BAD_XML);
    EXPECT_EQ(broken.text, u"");
}

}  // namespace
}  // namespace kel
