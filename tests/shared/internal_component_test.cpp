#include <gtest/gtest.h>

#include "shared/outside_factory.h"
#include "platform/raii.h"
#include "support/test_support.h"

namespace kel {
namespace {

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
