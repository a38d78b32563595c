// Printed form of a controller serial number.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace kel {

// Serial numbers above the valid range that stand for a kind of controller
// rather than a single one.
inline constexpr std::uint32_t kSerialUnknown = 16777215;   // 0xFFFFFF
inline constexpr std::uint32_t kSerialInternal = 16777000;  // 0xFFFF28
inline constexpr std::uint32_t kSerialVirtual = 16777001;   // 0xFFFF29
inline constexpr std::uint32_t kSerialMax = 9999999;

// "12-34567" for 1234567 (seven digits, zero-padded), the marker's text for
// the three markers, and an empty text for every other value.
WString SerialNrToText(std::uint32_t serial);

}  // namespace kel
