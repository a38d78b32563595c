#include <atomic>
#include <cstdio>

#include "platform/fault_injection.h"
#include "platform/os.h"

namespace kel::os {

uint16_t NextTempNameNumber() {
    // Random start, so that processes start apart; one counter for all threads.
    static std::atomic<uint32_t> next{[] {
        GUID guid{};
        NewGuid(guid);
        return guid.Data1;
    }()};
    return static_cast<uint16_t>(next.fetch_add(1, std::memory_order_relaxed));
}

WString TempNameCandidate(WStringView directory, WStringView prefix, uint16_t number) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(number));
    WString candidate(directory);
    if (!candidate.empty() && candidate.back() != u'\\') candidate.push_back(u'\\');
    candidate += prefix;
    candidate += FromAscii(hex);
    candidate += u".tmp";
    return candidate;
}

bool CreateUniqueTempFolder(WStringView directory, WStringView prefix, WString& path) {
    if (Faulted(Primitive::TempName)) return false;
    for (unsigned i = 0; i < 0x10000; ++i) {
        WString candidate = TempNameCandidate(directory, prefix, NextTempNameNumber());
        // A name of this process's own making: one that differs only in
        // letter case is somebody else's, and need not be looked for.
        if (MakeDirectory(candidate, NewName::Cleared)) {
            path = std::move(candidate);
            return true;
        }
        if (!Exists(candidate)) return false;
    }
    return false;
}

}  // namespace kel::os
