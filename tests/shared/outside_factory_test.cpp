#include <gtest/gtest.h>

#include "shared/outside_factory.h"
#include "platform/raii.h"

namespace kel {
namespace {

const std::pair<const GUID&, const GUID&> kComponents[] = {{CLSID_KelInstallMedia, IID_IKelInstallMedia},
                                                           {CLSID_KelInstallSystemOptions, IID_IKelInstallSystemOptions},
                                                           {CLSID_KelInstallInternal, IID_IKelInstallInternal}};

TEST(OutsideFactory, CreatesEachComponentByItsIdentity) {
    for (const auto& c : kComponents) {
        ComPtr<IUnknown> object;
        ASSERT_EQ(CreateOutsideComponent(c.first, c.second, object.PutVoid()), S_OK);
        ASSERT_TRUE(object);

        // Asking one class for another's interface is refused, and leaks nothing.
        const GUID& otherIid = (&c == &kComponents[0]) ? kComponents[1].second : kComponents[0].second;
        void* raw = reinterpret_cast<void*>(1);
        EXPECT_EQ(CreateOutsideComponent(c.first, otherIid, &raw), E_NOINTERFACE);
        EXPECT_EQ(raw, nullptr);
    }
    void* raw = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateOutsideComponent(IID_IKelInstallMedia, IID_IUnknown, &raw), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(CreateOutsideComponent(CLSID_KelInstallMedia, IID_IUnknown, nullptr), E_POINTER);
}

}  // namespace
}  // namespace kel
