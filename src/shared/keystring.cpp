#include "shared/keystring.h"

#include <zlib.h>

#include <array>
#include <string>
#include <utility>

#include "shared/serial_text.h"

namespace kel {

namespace {

constexpr std::size_t kFieldCount = 8;
constexpr std::size_t kMaxProgramLength = 64;
constexpr std::size_t kMaxSelectionLength = 200;
constexpr std::size_t kMaxSerialTextLength = 32;
constexpr std::size_t kMaxSerialDigits = 8;
constexpr std::size_t kMaxSignatureDigits = 10;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsNameChar(char16_t c) {
    return IsDigit(c) || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c == u'.' ||
           c == u'-';
}

bool AllDigits(WStringView text) {
    for (char16_t c : text) {
        if (!IsDigit(c)) return false;
    }
    return true;
}

bool AllNameChars(WStringView text) {
    for (char16_t c : text) {
        if (!IsNameChar(c)) return false;
    }
    return true;
}

// 1..maxDigits decimal digits whose value does not exceed limit.
bool ParseNumber(WStringView text, std::size_t maxDigits, std::uint64_t limit, std::uint64_t& value) {
    if (text.empty() || text.size() > maxDigits || !AllDigits(text)) return false;
    value = 0;
    for (char16_t c : text) value = value * 10 + static_cast<unsigned>(c - u'0');
    return value <= limit;
}

bool IsValidSerial(std::uint64_t serial) {
    return serial <= kSerialMax || serial == kSerialUnknown || serial == kSerialInternal ||
           serial == kSerialVirtual;
}

bool IsValidProgram(WStringView program) {
    return !program.empty() && program.size() <= kMaxProgramLength && AllNameChars(program);
}

bool IsValidSelection(WStringView selection) {
    return selection.size() <= kMaxSelectionLength && AllDigits(selection);
}

bool IsValidSerialText(WStringView text) { return text.size() <= kMaxSerialTextLength && AllNameChars(text); }

// The callers have checked that every character is ASCII.
std::uint32_t Crc32(WStringView ascii) {
    std::string bytes(ascii.begin(), ascii.end());
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    return static_cast<std::uint32_t>(crc);
}

WString CheckText(std::uint32_t crc) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    WString text(8, u'0');
    for (int i = 7; i >= 0; --i) {
        text[i] = kHex[crc & 0xF];
        crc >>= 4;
    }
    return text;
}

WString Decimal(std::uint64_t value) {
    WString text;
    do {
        text.insert(text.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return text;
}

}  // namespace

bool DescribeKey(WStringView keystring, KeyDescription& out) {
    if (keystring.size() > kMaxKeystringLength) return false;

    std::array<WStringView, kFieldCount> fields;
    std::size_t count = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= keystring.size(); ++i) {
        if (i < keystring.size() && keystring[i] != u':') continue;
        if (count == kFieldCount) return false;
        fields[count++] = keystring.substr(start, i - start);
        start = i + 1;
    }
    if (count != kFieldCount) return false;

    const WStringView check = fields[7];
    if (fields[0] != u"KEL1" || fields[1].size() != 1 || check.size() != 8) return false;

    KeyDescription key;
    switch (fields[1][0]) {
        case u'R': break;
        case u'V': key.virtualController = true; break;
        case u'A': key.kind = KeyKind::AdditionalOptionKey; break;
        default: return false;
    }

    std::uint64_t serial = 0;
    std::uint64_t signature = 0;
    if (!ParseNumber(fields[2], kMaxSerialDigits, kSerialUnknown, serial) || !IsValidSerial(serial)) return false;
    if (!ParseNumber(fields[3], kMaxSignatureDigits, INT32_MAX, signature)) return false;
    if (!IsValidProgram(fields[4]) || !IsValidSelection(fields[5]) || !IsValidSerialText(fields[6])) return false;

    // Every field before the check is ASCII by now, so the CRC covers exactly the
    // bytes of the key; upper-case hex is the only accepted spelling of the check.
    const WStringView body = keystring.substr(0, keystring.size() - check.size() - 1);
    if (CheckText(Crc32(body)) != check) return false;

    key.serialNumber = static_cast<std::uint32_t>(serial);
    key.signatureNumber = static_cast<std::int32_t>(signature);
    key.programName = WString(fields[4]);
    key.selectionText = WString(fields[5]);
    key.serialText = fields[6].empty() ? SerialNrToText(key.serialNumber) : WString(fields[6]);
    out = std::move(key);
    return true;
}

bool MakeKeystring(const KeyDescription& key, WString& keystring) {
    if (key.virtualController && key.kind != KeyKind::ReleaseKey) return false;
    if (!IsValidSerial(key.serialNumber) || key.signatureNumber < 0) return false;
    if (!IsValidProgram(key.programName) || !IsValidSelection(key.selectionText) ||
        !IsValidSerialText(key.serialText)) {
        return false;
    }

    const char16_t kind = key.kind == KeyKind::AdditionalOptionKey ? u'A' : key.virtualController ? u'V' : u'R';
    const bool printedSerial = key.serialText == SerialNrToText(key.serialNumber);
    WString body = u"KEL1:";
    body += kind;
    body += u':' + Decimal(key.serialNumber) + u':' + Decimal(static_cast<std::uint64_t>(key.signatureNumber)) +
            u':' + key.programName + u':' + key.selectionText + u':' + (printedSerial ? WString() : key.serialText);
    WString result = body + u':' + CheckText(Crc32(body));
    if (result.size() > kMaxKeystringLength) return false;
    keystring = std::move(result);
    return true;
}

}  // namespace kel
