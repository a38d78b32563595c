// The built library as a client sees it: loaded at run time and reached only
// through its exported entry points and the class factory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "component/gated_calls.h"
#include "platform/os.h"
#include "platform/raii.h"

namespace kel::test {
namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using SimpleEntryFn = HRESULT (*)();
using AllocStringFn = BSTR (*)(const OLECHAR*);
using FreeStringFn = void (*)(BSTR);
using TraceSinkFn = void (*)(const char16_t*, void*);
using SetTraceSinkFn = void (*)(TraceSinkFn, void*);

class Library {
public:
    Library() {
#if defined(_WIN32)
        loaded_ = library_.Open("KelInstallSystem.dll");
        allocString_ = &SysAllocString;
        freeString_ = &SysFreeString;
#else
        loaded_ = library_.Open(KEL_LIBRARY_PATH);
        // Strings handed to the library come from its own allocator.
        allocString_ = Resolve<AllocStringFn>("SysAllocString");
        freeString_ = Resolve<FreeStringFn>("SysFreeString");
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

    struct String {
        BSTR text;
        FreeStringFn free;
        ~String() { free(text); }
    };
    String Make(const WString& text) const { return {allocString_(reinterpret_cast<const OLECHAR*>(text.c_str())), freeString_}; }

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
    AllocStringFn allocString_ = nullptr;
    FreeStringFn freeString_ = nullptr;
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

TEST(ComponentClient, FreshObjectAnswersThroughEveryInterface) {
    Library library;
    ASSERT_TRUE(library.ready());
#if !defined(_WIN32)
    // Under Wine the library's trace goes to the debugger channel; the
    // in-process tests check the same records there.
    std::vector<std::u16string> pieces;
    const auto setSink = library.Resolve<SetTraceSinkFn>("KelInstallSetTraceSink");
    ASSERT_NE(setSink, nullptr);
    setSink([](const char16_t* piece, void* self) { static_cast<std::vector<std::u16string>*>(self)->push_back(piece); },
            &pieces);
#endif
    {
        auto factory = library.Factory();
        ASSERT_TRUE(factory);
        ComPtr<IKelInstallSystem> object;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKelInstallSystem, object.PutVoid()), S_OK);

        OutSlots slots;
        for (const auto& gated : GatedCalls(slots)) {
            EXPECT_EQ(gated.call(object.get()), E_ABORT) << gated.method;
#if !defined(_WIN32)
            // The trace names the method: the vtable slot reached the right code.
            const std::vector<std::u16string> expected = {
                u"ReleaseErrorTrace: \nFile: ", u"KelInstallSystemImpl", u"\nError: ",
                u"CKelInstallSystem::" + FromUtf8(gated.method) + u": No system is initialized\n", u"\n"};
            EXPECT_EQ(pieces, expected) << gated.method;
            pieces.clear();
#endif
        }
        EXPECT_TRUE(slots.Untouched());

        ComPtr<IKelInstallSystem2> second;
        ASSERT_EQ(object->QueryInterface(IID_IKelInstallSystem2, second.PutVoid()), S_OK);
        const std::pair<WString, HRESULT> paths[] = {
            {u"C:\\" + WString(300, u'p') + u"\\Sys", static_cast<HRESULT>(0xC0040538L)},
            {u"C:\\pool\\" + WString(81, u'n'), static_cast<HRESULT>(0xC0040539L)},
            {u"C:\\pool\\a\u00D7b", E_INVALIDARG},
        };
        for (const auto& [path, status] : paths) {
            const auto text = library.Make(path);
            HRESULT stored = S_OK;
            EXPECT_EQ(second->InitSystem2(text.text, &stored), S_OK);
            EXPECT_EQ(stored, status);
        }
        // Through the library the caller still sees no open system.
        EXPECT_EQ(object->ResetSystem(), E_ABORT);

        ComPtr<IKelInstallSystem3> third;
        ASSERT_EQ(second->QueryInterface(IID_IKelInstallSystem3, third.PutVoid()), S_OK);
        BSTR notice = nullptr;
        EXPECT_EQ(third->GetNextProgramNotice(&notice), S_FALSE);
        EXPECT_EQ(notice, nullptr);
    }
#if !defined(_WIN32)
    setSink(nullptr, nullptr);
#endif
    EXPECT_EQ(library.canUnloadNow(), S_OK);
}

}  // namespace
}  // namespace kel::test
