#include <gtest/gtest.h>

#include <cstring>

#include "platform/os.h"

namespace kel {
namespace {

std::string LibraryPath() {
#ifdef _WIN32
    return "KelInstallSystem.dll";  // beside the test program
#else
    return KEL_LIBRARY_PATH;
#endif
}

TEST(Exports, TheLibraryExportsItsPlainFunctions) {
    os::DynamicLibrary library;
    ASSERT_TRUE(library.Open(LibraryPath()));
    for (const char* name : {"os_toupper", "os_tolower", "os_stricmp", "os_strnicmp", "os_validate_identifier", "os_strtok_r"}) {
        EXPECT_NE(library.Symbol(name), nullptr) << name;
    }
    auto upper = reinterpret_cast<int (*)(int)>(library.Symbol("os_toupper"));
    ASSERT_NE(upper, nullptr);
    EXPECT_EQ(upper(0xE4), 0xC4);
    EXPECT_EQ(library.Symbol("MakeTables"), nullptr);
#ifndef _WIN32
    using AllocLen = char16_t* (*)(const char16_t*, unsigned);
    using Len = unsigned (*)(char16_t*);
    using Free = void (*)(char16_t*);
    auto alloc = reinterpret_cast<AllocLen>(library.Symbol("SysAllocStringLen"));
    auto length = reinterpret_cast<Len>(library.Symbol("SysStringLen"));
    auto release = reinterpret_cast<Free>(library.Symbol("SysFreeString"));
    ASSERT_TRUE(alloc && length && release && library.Symbol("SysAllocString"));
    char16_t* text = alloc(u"a\0b", 3);  // counted: embedded NULs survive
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(length(text), 3u);
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<char*>(text) - 4, 4);
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(text[3], u'\0');
    release(text);
    EXPECT_EQ(length(nullptr), 0u);

    using SetSink = void (*)(void (*)(const char16_t*, void*), void*);
    EXPECT_NE(reinterpret_cast<SetSink>(library.Symbol("KelInstallSetTraceSink")), nullptr);
    // Internal C++ symbols stay hidden.
    EXPECT_EQ(library.Symbol("_ZN3kel5TraceESt17basic_string_viewIDsSt11char_traitsIDsEES3_"), nullptr);
#endif
}

}  // namespace
}  // namespace kel
