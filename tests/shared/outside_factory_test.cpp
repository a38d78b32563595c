#include <gtest/gtest.h>

#include "shared/outside_factory.h"
#include "platform/raii.h"
#include "shared/guid.h"

namespace kel {
namespace {

struct Identity {
    const GUID& clsid;
    const GUID& iid;
    const char16_t* clsidText;
    const char16_t* iidText;
};

const Identity kComponents[] = {
    {CLSID_KelInstallMedia, IID_IKelInstallMedia, u"{225A894A-4BA2-4CB5-ACC7-1477904FB13D}",
     u"{BA5E53B4-972F-4505-9753-428E80270872}"},
    {CLSID_KelInstallSystemOptions, IID_IKelInstallSystemOptions, u"{3C96A6E3-9C06-4A02-8275-7B0F0B478AC7}",
     u"{21A8D9D1-37C8-4ED3-87B8-4E50F5F57523}"},
    {CLSID_KelInstallInternal, IID_IKelInstallInternal, u"{F31B9995-9B3A-4DA6-98CC-FC1BD39AC641}",
     u"{98B93D25-4C73-46F7-8019-1CD09C220E9A}"},
};

TEST(OutsideFactory, CreatesEachComponentByItsIdentity) {
    for (const Identity& c : kComponents) {
        EXPECT_EQ(CGUID::ToText(c.clsid, 1), c.clsidText);
        EXPECT_EQ(CGUID::ToText(c.iid, 1), c.iidText);

        ComPtr<IUnknown> object;
        ASSERT_EQ(CreateOutsideComponent(c.clsid, c.iid, object.PutVoid()), S_OK);
        ASSERT_TRUE(object);
        ComPtr<IUnknown> again;
        EXPECT_EQ(object->QueryInterface(IID_IUnknown, again.PutVoid()), S_OK);
        EXPECT_EQ(object->AddRef(), 3u);
        EXPECT_EQ(object->Release(), 2u);

        // Asking one class for another's interface is refused, and leaks nothing.
        const GUID& otherIid = (&c == &kComponents[0]) ? kComponents[1].iid : kComponents[0].iid;
        void* raw = reinterpret_cast<void*>(1);
        EXPECT_EQ(CreateOutsideComponent(c.clsid, otherIid, &raw), E_NOINTERFACE);
        EXPECT_EQ(raw, nullptr);
    }
    void* raw = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateOutsideComponent(IID_IKelInstallMedia, IID_IUnknown, &raw), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(CreateOutsideComponent(CLSID_KelInstallMedia, IID_IUnknown, nullptr), E_POINTER);
}

TEST(OutsideFactory, InjectedFailuresHitOnlyTheirClassUntilCleared) {
    SetOutsideCreationFailure(CLSID_KelInstallSystemOptions, E_OUTOFMEMORY);
    SetOutsideCreationFailure(CLSID_KelInstallInternal, E_FAIL);
    SetOutsideCreationFailure(CLSID_KelInstallInternal, S_OK);  // replaces: success without an instance

    ComPtr<IUnknown> object;
    EXPECT_EQ(CreateOutsideComponent(CLSID_KelInstallSystemOptions, IID_IUnknown, object.PutVoid()), E_OUTOFMEMORY);
    EXPECT_FALSE(object);
    EXPECT_EQ(CreateOutsideComponent(CLSID_KelInstallInternal, IID_IUnknown, object.PutVoid()), S_OK);
    EXPECT_FALSE(object);
    EXPECT_EQ(CreateOutsideComponent(CLSID_KelInstallMedia, IID_IUnknown, object.PutVoid()), S_OK);
    EXPECT_TRUE(object);

    ClearOutsideCreationFailures();
    EXPECT_EQ(CreateOutsideComponent(CLSID_KelInstallSystemOptions, IID_IUnknown, object.PutVoid()), S_OK);
    EXPECT_TRUE(object);
    EXPECT_EQ(CreateOutsideComponent(CLSID_KelInstallInternal, IID_IUnknown, object.PutVoid()), S_OK);
    EXPECT_TRUE(object);
}

}  // namespace
}  // namespace kel
