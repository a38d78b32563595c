// The shipped component as kelsys uses it: the library beside the program,
// reached only through its class factory and public interface.
#pragma once

#include <string>
#include <vector>

#include "KelInstallSystem.h"
#include "interrupt.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "platform/text.h"

namespace kelsys {

using kel::WString;
using kel::WStringView;

// Exit codes.
inline constexpr int kOk = 0;
inline constexpr int kRefused = 1;
inline constexpr int kUsage = 2;

class Component {
public:
    // The object for one call, made through component->Method(...): a Ctrl-C
    // or termination request that comes before the statement's end ends the
    // tool then (interrupt.h).
    class Call {
    public:
        // Forgets the cause of an earlier call.
        explicit Call(IKelInstallSystem* object);
        IKelInstallSystem* operator->() const { return object_; }

    private:
        CallScope scope_;
        IKelInstallSystem* object_;
    };

    // Loads the library and makes one object; false (with a message printed) when it cannot.
    bool Load(bool trace);
    Call operator->() const { return Call(object_.get()); }

    // Prints a failure with the cause the component traced, as "... (0xC004051B
    // system exists)", and gives the exit code.
    static int Report(const char* what, HRESULT status);

private:
    kel::os::DynamicLibrary library_;
    kel::ComPtr<IKelInstallSystem> object_;
};

// A trace receiver: keeps the last record's message as the cause a failure
// is reported with, and prints every record to stderr when print is not null.
void CollectTrace(const char16_t* piece, void* print);

// A path as the user typed it, in the component's form (made absolute first).
WString ComponentPath(const std::string& path);
kel::UniqueBstr B(WStringView text);
std::string Utf8(WStringView text);
// The items of a comma-separated list (an empty text has none).
std::vector<WString> SplitList(WStringView list);
std::string JsonString(WStringView text);

}  // namespace kelsys
