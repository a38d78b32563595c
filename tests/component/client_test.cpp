// The built library as a client sees it: loaded at run time and reached only
// through its exported entry points and the class factory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KelInstallSystem.h"
#include "platform/os.h"
#include "platform/raii.h"

namespace kel::test {
namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using SimpleEntryFn = HRESULT (*)();
using TraceSinkFn = void (*)(const char16_t*, void*);
using SetTraceSinkFn = void (*)(TraceSinkFn, void*);

class Library {
public:
    Library() {
#if defined(_WIN32)
        loaded_ = library_.Open("KelInstallSystem.dll");  // beside the test program
#else
        loaded_ = library_.Open(KEL_LIBRARY_PATH);
#endif
        getClassObject = Resolve<GetClassObjectFn>("DllGetClassObject");
        canUnloadNow = Resolve<SimpleEntryFn>("DllCanUnloadNow");
        registerServer = Resolve<SimpleEntryFn>("DllRegisterServer");
        unregisterServer = Resolve<SimpleEntryFn>("DllUnregisterServer");
    }

    bool ready() const { return loaded_ && getClassObject && canUnloadNow && registerServer && unregisterServer; }

    template <class Fn>
    Fn Resolve(const char* name) const {
        return reinterpret_cast<Fn>(library_.Symbol(name));
    }

    ComPtr<IClassFactory> Factory() const {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(getClassObject(CLSID_KelInstallSystem, IID_IClassFactory, factory.PutVoid()), S_OK);
        return factory;
    }

    GetClassObjectFn getClassObject = nullptr;
    SimpleEntryFn canUnloadNow = nullptr;
    SimpleEntryFn registerServer = nullptr;
    SimpleEntryFn unregisterServer = nullptr;

private:
    os::DynamicLibrary library_;
    bool loaded_ = false;
};

TEST(ComponentClient, ModuleStaysLoadedWhileObjectsFactoriesOrLocksLive) {
    Library library;
    ASSERT_TRUE(library.ready());
    EXPECT_EQ(library.canUnloadNow(), S_OK);

    auto factory = library.Factory();
    ASSERT_TRUE(factory);
    EXPECT_EQ(library.canUnloadNow(), S_FALSE);  // a held factory pins the code it points into
    ComPtr<IKelInstallSystem> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKelInstallSystem, object.PutVoid()), S_OK);
    ASSERT_EQ(factory->LockServer(1), S_OK);
    factory.Reset();
    EXPECT_EQ(library.canUnloadNow(), S_FALSE);
    object.Reset();
    EXPECT_EQ(library.canUnloadNow(), S_FALSE);  // the lock alone

    factory = library.Factory();
    ASSERT_EQ(factory->LockServer(0), S_OK);
    factory.Reset();
    EXPECT_EQ(library.canUnloadNow(), S_OK);

    void* none = &none;
    EXPECT_EQ(library.getClassObject(IID_IKelInstallSystem2, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
#if !defined(_WIN32)
    // No class registry here: both only check the built-in registry script.
    EXPECT_EQ(library.registerServer(), S_OK);
    EXPECT_EQ(library.unregisterServer(), S_OK);
#endif
}

TEST(ComponentClient, ExportsItsPlainFunctionsAndHidesTheRest) {
    Library library;
    ASSERT_TRUE(library.ready());
    for (const char* name : {"os_toupper", "os_tolower", "os_stricmp", "os_strnicmp", "os_validate_identifier", "os_strtok_r"}) {
        EXPECT_NE(library.Resolve<void*>(name), nullptr) << name;
    }
    EXPECT_EQ(library.Resolve<void*>("MakeTables"), nullptr);
#if !defined(_WIN32)
    using AllocLen = char16_t* (*)(const char16_t*, unsigned);
    using Len = unsigned (*)(char16_t*);
    using Free = void (*)(char16_t*);
    auto alloc = library.Resolve<AllocLen>("SysAllocStringLen");
    auto length = library.Resolve<Len>("SysStringLen");
    auto release = library.Resolve<Free>("SysFreeString");
    ASSERT_TRUE(alloc && length && release && library.Resolve<void*>("SysAllocString"));
    char16_t* text = alloc(u"a\0b", 3);  // counted: embedded NULs survive
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(length(text), 3u);
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<char*>(text) - 4, 4);
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(text[3], u'\0');
    release(text);
    EXPECT_EQ(length(nullptr), 0u);
    EXPECT_EQ(library.Resolve<void*>("_ZN3kel5TraceESt17basic_string_viewIDsSt11char_traitsIDsEES3_"), nullptr);

    // The exported sink delivers the library's own trace. (Under Wine the
    // trace goes to the debugger channel instead.)
    std::vector<std::u16string> pieces;
    const auto setSink = library.Resolve<SetTraceSinkFn>("KelInstallSetTraceSink");
    ASSERT_NE(setSink, nullptr);
    setSink([](const char16_t* piece, void* self) { static_cast<std::vector<std::u16string>*>(self)->push_back(piece); },
            &pieces);
    {
        auto factory = library.Factory();
        ASSERT_TRUE(factory);
        ComPtr<IKelInstallSystem> object;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKelInstallSystem, object.PutVoid()), S_OK);
        EXPECT_EQ(object->ResetSystem(), E_ABORT);
    }
    setSink(nullptr, nullptr);
    const std::vector<std::u16string> expected = {u"ReleaseErrorTrace: \nFile: ", u"KelInstallSystemImpl", u"\nError: ",
                                                  u"CKelInstallSystem::ResetSystem: No system is initialized\n", u"\n"};
    EXPECT_EQ(pieces, expected);
#endif
}

}  // namespace
}  // namespace kel::test
