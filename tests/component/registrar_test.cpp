#include <gtest/gtest.h>

#include "component/registrar.h"
#include "component/memory_registry.h"
#include "support/test_support.h"

namespace kel::test {
namespace {

constexpr char kClassKey[] = "0\\CLSID\\{F0FDF787-B3C3-4B3F-9A1B-88C048173DC0}";
// A path with a blank and a quote: substitution must not disturb the quoting.
constexpr char16_t kModulePath[] = u"C:\\Program Files\\it's\\KelInstallSystem.dll";

RegistryScript ParseShippedScript() {
    const std::string text = ReadAll(SourceDir() + u"\\src\\component\\KelInstallSystem.rgs");
    EXPECT_FALSE(text.empty());
    RegistryScript script;
    EXPECT_EQ(CRegistrar::Parse(FromUtf8(text), {{u"MODULE", kModulePath}}, script), S_OK);
    return script;
}

TEST(Registrar, ShippedScriptRegistersOnceUnregistersToTheStartAndStopsAtAFailingKey) {
    const RegistryScript script = ParseShippedScript();
    // Another server's class, and a leftover of an older registration of ours.
    MemoryRegistry registry;
    registry.CreateKey(RegistryRoot::ClassesRoot, u"CLSID\\{00000000-1111-2222-3333-444444444444}");
    registry.SetValue(RegistryRoot::ClassesRoot, u"CLSID\\{00000000-1111-2222-3333-444444444444}", u"", u"Other");
    const std::string start = registry.Dump();
    registry.CreateKey(RegistryRoot::ClassesRoot, u"CLSID\\{F0FDF787-B3C3-4B3F-9A1B-88C048173DC0}\\Stale");

    ASSERT_EQ(CRegistrar::Apply(script, registry, RegistrarAction::Register), S_OK);
    const std::string first = registry.Dump();
    EXPECT_EQ(first.find("Stale"), std::string::npos);
    EXPECT_NE(first.find("0\\CLSID\\{00000000-1111-2222-3333-444444444444} []=Other\n"), std::string::npos);
    EXPECT_NE(first.find(std::string(kClassKey) + "\\InprocServer32 []=" + N(kModulePath) + "\n"), std::string::npos);
    EXPECT_NE(first.find(std::string(kClassKey) + "\\InprocServer32 [ThreadingModel]=both\n"), std::string::npos);
    EXPECT_NE(first.find("0\\KelInstallSystem.KelInstallSystem\\CLSID []={F0FDF787-B3C3-4B3F-9A1B-88C048173DC0}\n"),
              std::string::npos);
    ASSERT_EQ(CRegistrar::Apply(script, registry, RegistrarAction::Register), S_OK);
    EXPECT_EQ(registry.Dump(), first);

    ASSERT_EQ(CRegistrar::Apply(script, registry, RegistrarAction::Unregister), S_OK);
    EXPECT_EQ(registry.Dump(), start);
    // Nothing registered: nothing to do, and no key appears.
    MemoryRegistry empty;
    EXPECT_EQ(CRegistrar::Apply(script, empty, RegistrarAction::Unregister), S_OK);
    EXPECT_EQ(empty.Dump(), "");
    // A key that cannot be made stops the registration: nothing after it is written.
    MemoryRegistry failing;
    failing.failCreate = u"KelInstallSystem.KelInstallSystem";
    TraceCapture traces;
    EXPECT_EQ(CRegistrar::Apply(script, failing, RegistrarAction::Register), failing.failStatus);
    EXPECT_EQ(failing.Dump().find("CLSID\\{F0FDF787"), std::string::npos);
    EXPECT_TRUE(traces.Has("CRegistrar::Apply: cannot create KelInstallSystem.KelInstallSystem (0x80070005)\n"));
}

TEST(Registrar, KeywordsAndVariables) {
    MemoryRegistry registry;
    registry.CreateKey(RegistryRoot::CurrentUser, u"Shared\\Foreign");
    RegistryScript script;
    ASSERT_EQ(CRegistrar::Parse(u"HKEY_CURRENT_USER {\n"
                                u"  NoRemove Keep { val Mine = s '%Who%' }\n"
                                u"  Shared = s 'x' { Ours }\n"
                                u"}\n",
                                {{u"WHO", u"me"}}, script),
              S_OK);
    ASSERT_EQ(CRegistrar::Apply(script, registry, RegistrarAction::Register), S_OK);
    EXPECT_EQ(registry.Dump(),
              "1\\Keep\n"
              "1\\Keep [Mine]=me\n"
              "1\\Shared\n"
              "1\\Shared []=x\n"
              "1\\Shared\\Foreign\n"
              "1\\Shared\\Ours\n");

    // Keep stays without its value; Shared stays for the foreign subkey.
    ASSERT_EQ(CRegistrar::Apply(script, registry, RegistrarAction::Unregister), S_OK);
    EXPECT_EQ(registry.Dump(),
              "1\\Keep\n"
              "1\\Shared\n"
              "1\\Shared []=x\n"
              "1\\Shared\\Foreign\n");
}

TEST(Registrar, MalformedScriptsAreRefusedWithTheirLine) {
    const char16_t* const malformed[] = {
        u"HKXX { A }",                                  // unknown root
        u"HKCR { A {",                                  // unclosed
        u"HKCR { A } }",                                // stray brace
        u"HKCR\n{\n A = s 'open\n}",                     // unterminated text
        u"HKCR { A = d '1' }",                          // not a string value
        u"HKCR { A = s '%NOPE%' }",                     // unknown variable
        u"HKCR { NoRemove ForceRemove A }",             // two modes
    };
    for (const char16_t* text : malformed) {
        TraceCapture traces;
        RegistryScript script;
        EXPECT_EQ(CRegistrar::Parse(text, {{u"MODULE", u"m"}}, script), kRegistryScriptInvalid) << N(text);
        EXPECT_TRUE(script.roots.empty()) << N(text);
        const auto records = traces.records();
        ASSERT_EQ(records.size(), 1u) << N(text);
        EXPECT_EQ(records[0].module, "KelInstallSystemImpl");
        EXPECT_EQ(records[0].message.rfind("CRegistrar::Parse: ", 0), 0u) << records[0].message;
    }
    TraceCapture traces;
    RegistryScript script;
    CRegistrar::Parse(u"HKCR\n{\n  A = s 'x'\n  B = s '%NOPE%'\n}", {}, script);
    ASSERT_EQ(traces.records().size(), 1u);
    EXPECT_EQ(traces.records()[0].message, "CRegistrar::Parse: unknown variable %NOPE% in line 4\n");

    EXPECT_EQ(CRegistrar::Parse(u"  \n", {}, script), S_OK);
    EXPECT_TRUE(script.roots.empty());
}

}  // namespace
}  // namespace kel::test
