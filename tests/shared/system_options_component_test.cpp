#include <gtest/gtest.h>

#include "shared/outside_factory.h"
#include "platform/raii.h"
#include "support/test_support.h"

namespace kel {
namespace {

ComPtr<IKelInstallSystemOptions> NewOptions() {
    ComPtr<IKelInstallSystemOptions> options;
    EXPECT_EQ(CreateOutsideComponent(CLSID_KelInstallSystemOptions, IID_IKelInstallSystemOptions, options.PutVoid()),
              S_OK);
    return options;
}

HRESULT Load(IKelInstallSystemOptions* options, WStringView text) {
    UniqueBstr bstr = UniqueBstr::From(text);
    return options->LoadXml(bstr.get());
}

struct Info {
    HRESULT hr;
    WString selections;
    WString files;
};

Info OptionsInfoOf(IKelInstallSystemOptions* options, WStringView program) {
    UniqueBstr name = UniqueBstr::From(program);
    UniqueBstr selections, files;
    const HRESULT hr = options->GetOptionsInfo(name.get(), selections.Put(), files.Put());
    return {hr, WString(selections.View()), WString(files.View())};
}

HRESULT Instance(IKelInstallSystemOptions* options, WStringView guid, WStringView program) {
    UniqueBstr g = UniqueBstr::From(guid), p = UniqueBstr::From(program);
    VARIANT_BOOL exists = VARIANT_TRUE;
    const HRESULT hr = options->GetSubGroupInstance(g.get(), p.get(), &exists);
    EXPECT_EQ(exists, hr == S_OK ? VARIANT_TRUE : VARIANT_FALSE);
    return hr;
}

WString Selection() { return test::U(test::ReadAll(test::SourceDir() + u"\\samples\\options\\selection.xml")); }

TEST(SystemOptions, OptionsInfoWalksChosenItemsDepthFirstAndSubGroupsAreFound) {
    ComPtr<IKelInstallSystemOptions> options = NewOptions();
    ASSERT_EQ(Load(options.get(), Selection()), S_OK);

    const Info zendara = OptionsInfoOf(options.get(), u"Zendara");
    EXPECT_EQ(zendara.hr, S_OK);
    // "1 " reads as "1", as the Windows DOM trims element text.
    EXPECT_EQ(zendara.selections,
              u"English*Gripper*GripperTypes:Vacuum*Pumps:Pump A*GripperTypes:;Parallel*;Conveyor*Vision*Spaced");
    EXPECT_EQ(zendara.files, u"english.dat*gripper.dat*vacuum.dat*pumpa.dat**;conveyor.dat**spaced.dat");

    // The last EXT of a program is its entry.
    const Info arc = OptionsInfoOf(options.get(), u"ArcWelding");
    EXPECT_EQ(arc.hr, S_OK);
    EXPECT_EQ(arc.selections, u"Seam");
    EXPECT_EQ(arc.files, u"seam.dat");

    const Info none = OptionsInfoOf(options.get(), u"zendara");
    EXPECT_EQ(none.hr, S_FALSE);
    EXPECT_EQ(none.selections + none.files, u"");

    EXPECT_EQ(Instance(options.get(), u"{G3}", u"Zendara"), S_OK);
    EXPECT_EQ(Instance(options.get(), u"{A1}", u"ArcWelding"), S_OK);
    EXPECT_EQ(Instance(options.get(), u"{A1}", u"Zendara"), KEL_OPTIONS_E_NOT_FOUND);
    EXPECT_EQ(Instance(options.get(), u"{G1}", u"Nobody"), KEL_OPTIONS_E_NOT_FOUND);
}

TEST(SystemOptions, BuildsTheDocumentFromNodesItCreates) {
    ComPtr<IKelInstallSystemOptions> options = NewOptions();
    VARIANT_BOOL content = VARIANT_TRUE;
    ASSERT_EQ(options->HasContent(&content), S_OK);
    EXPECT_EQ(content, VARIANT_FALSE);

    UniqueBstr name = UniqueBstr::From(u"OptionSelection"), empty = UniqueBstr::From(u"");
    xml::Element node;
    ASSERT_EQ(options->CreateNode(KEL_NODE_ELEMENT, name.get(), empty.get(), &node), S_OK);
    xml::Element root;
    ASSERT_EQ(options->PutRoot(node, &root), S_OK);
    ASSERT_EQ(options->HasContent(&content), S_OK);
    EXPECT_EQ(content, VARIANT_TRUE);

    KelOptionAttribute attribute;
    UniqueBstr instance = UniqueBstr::From(u"Instance");
    ASSERT_EQ(options->CreateAttribute(instance.get(), &attribute), S_OK);
    xml::Element ext = root.AppendChild(u"EXT");
    ASSERT_TRUE(ext.SetAttribute(attribute.name, u"DriveModule1"));
    ext.AppendChild(u"ProgramNr", u"DriveModule1");

    UniqueBstr text;
    ASSERT_EQ(options->GetXml(text.Put()), S_OK);
    EXPECT_NE(WString(text.View()).find(u"<EXT Instance=\"DriveModule1\">"), WString::npos);
    EXPECT_EQ(OptionsInfoOf(options.get(), u"DriveModule1").hr, S_OK);

    // Only elements without namespace, with valid names, of this document.
    UniqueBstr bad = UniqueBstr::From(u"Bad Name"), ns = UniqueBstr::From(u"urn:x");
    EXPECT_EQ(options->CreateNode(2, name.get(), empty.get(), &node), E_INVALIDARG);
    EXPECT_EQ(options->CreateNode(KEL_NODE_ELEMENT, name.get(), ns.get(), &node), E_INVALIDARG);
    EXPECT_EQ(options->CreateNode(KEL_NODE_ELEMENT, bad.get(), empty.get(), &node), E_INVALIDARG);
    EXPECT_FALSE(node);
    EXPECT_EQ(options->CreateAttribute(bad.get(), &attribute), E_INVALIDARG);
    ComPtr<IKelInstallSystemOptions> other = NewOptions();
    ASSERT_EQ(other->CreateNode(KEL_NODE_ELEMENT, name.get(), empty.get(), &node), S_OK);
    EXPECT_EQ(options->PutRoot(node, &root), E_INVALIDARG);

    // A text that does not parse fails and leaves no content behind.
    EXPECT_EQ(Load(options.get(), u"<OptionSelection><ZD>"), E_FAIL);
    ASSERT_EQ(options->HasContent(&content), S_OK);
    EXPECT_EQ(content, VARIANT_FALSE);
    EXPECT_EQ(OptionsInfoOf(options.get(), u"DriveModule1").hr, S_FALSE);
}

}  // namespace
}  // namespace kel
