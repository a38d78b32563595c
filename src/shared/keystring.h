// Keystrings: the facts the system takes from a key, and the encoder that
// test rigs and lab tools use to make keys.
//
//   KEL1:<kind>:<serial>:<signature>:<program>:<selection>:<serialtext>:<check>
//
// kind R (real controller), V (virtual controller) or A (additional option);
// check is the CRC-32 of every byte before the last ':' in upper-case hex.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace kel {

enum class KeyKind { ReleaseKey, AdditionalOptionKey };

struct KeyDescription {
    std::uint32_t serialNumber = 0;
    std::int32_t signatureNumber = 0;
    WString programName;
    WString selectionText;  // decimal digits, may be empty
    WString serialText;     // never empty after DescribeKey
    KeyKind kind = KeyKind::ReleaseKey;
    bool virtualController = false;

    bool operator==(const KeyDescription&) const = default;
};

inline constexpr std::size_t kMaxKeystringLength = 255;

// Fills out and returns true only for a well-formed keystring with a matching
// check; out is left untouched otherwise. Writes no trace: callers report the
// failure in their own words.
bool DescribeKey(WStringView keystring, KeyDescription& out);

// The inverse of DescribeKey. A serial text that is empty or equal to the
// serial number's printed form is written as an empty field, so a described
// key encodes back to the same text. False (keystring untouched) when a field
// is out of range or the kind and virtualController flag do not fit together
// (an additional option key is never for a virtual controller).
bool MakeKeystring(const KeyDescription& key, WString& keystring);

}  // namespace kel
