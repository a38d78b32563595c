#include "platform/posix/xml_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <optional>
#include <string_view>

#include "platform/xml_backend.h"

namespace kel::xml::posix {

namespace {

bool StartsWith(std::string_view bytes, std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

// The encoding pseudo-attribute; empty without one, nullopt when the
// declaration cannot be read.
std::optional<std::string> DeclaredEncoding(std::string_view bytes) {
    if (!StartsWith(bytes, "<?xml") || bytes.size() < 6 ||
        (bytes[5] != ' ' && bytes[5] != '\t' && bytes[5] != '\r' && bytes[5] != '\n')) {
        return std::string();
    }
    const std::size_t end = bytes.find("?>");
    if (end == std::string_view::npos) return std::nullopt;
    const auto attributes = detail::ParsePseudoAttributes(FromAscii(bytes.substr(5, end - 5)));
    if (!attributes) return std::nullopt;
    for (const auto& [name, value] : *attributes) {
        if (name != u"encoding") continue;
        std::string ascii;
        for (char16_t c : value) {
            if (c >= 0x80) return std::nullopt;
            ascii.push_back(static_cast<char>(c));
        }
        return ascii;
    }
    return std::string();
}

bool IsSingleByte(std::string_view name, std::string_view family, int first, int last) {
    if (name.size() <= family.size() || !EqualsNoCase(name.substr(0, family.size()), family)) return false;
    int number = 0;
    for (char c : name.substr(family.size())) {
        if (c < '0' || c > '9' || number > 10000) return false;
        number = number * 10 + (c - '0');
    }
    return name[family.size()] != '0' && number >= first && number <= last;
}

struct Decoder {
    std::string iconvName;
    bool windowsCodePage = false;
};

// Nullopt for the encodings not decoded.
std::optional<Decoder> DecoderFor(const std::string& declared) {
    if (declared.empty() || EqualsNoCase(declared, "UTF-8")) return Decoder{"UTF-8"};
    if (IsSingleByte(declared, "windows-", 1250, 1258)) return Decoder{declared, true};
    if (IsSingleByte(declared, "ISO-8859-", 1, 16) && !EqualsNoCase(declared, "ISO-8859-12")) return Decoder{declared};
    return std::nullopt;
}

void AppendUtf8(std::string& out, unsigned code) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
}

bool Convert(const Decoder& decoder, std::string& bytes, std::size_t skip) {
    const iconv_t cd = iconv_open("UTF-8", decoder.iconvName.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string out;
    char* in = bytes.data() + skip;
    std::size_t inLeft = bytes.size() - skip;
    char buffer[16384];
    bool ok = true;
    while (ok) {
        char* next = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(cd, &in, &inLeft, &next, &outLeft);
        const int error = errno;
        out.append(buffer, static_cast<std::size_t>(next - buffer));
        if (result != static_cast<std::size_t>(-1)) break;  // all converted
        if (error == E2BIG) continue;
        // Windows reads a code page's unassigned bytes 0x80-0x9F as the
        // control characters of the same number.
        const auto byte = static_cast<unsigned char>(*in);
        if (error == EILSEQ && decoder.windowsCodePage && byte >= 0x80 && byte < 0xA0) {
            AppendUtf8(out, byte);
            ++in;
            --inLeft;
            continue;
        }
        ok = false;
    }
    if (ok) {  // a stateful decoder may still hold a character
        char* next = buffer;
        std::size_t outLeft = sizeof buffer;
        ok = iconv(cd, nullptr, nullptr, &next, &outLeft) != static_cast<std::size_t>(-1);
        out.append(buffer, static_cast<std::size_t>(next - buffer));
    }
    iconv_close(cd);
    if (ok) bytes = std::move(out);
    return ok;
}

}  // namespace

bool DecodeToUtf8(std::string& bytes) {
    if (StartsWith(bytes, "\xEF\xBB\xBF")) return Convert({"UTF-8"}, bytes, 3);
    if (StartsWith(bytes, "\xFF\xFE")) return Convert({"UTF-16LE"}, bytes, 2);
    if (StartsWith(bytes, "\xFE\xFF")) return Convert({"UTF-16BE"}, bytes, 2);
    const std::optional<std::string> declared = DeclaredEncoding(bytes);
    if (!declared) return false;
    const std::optional<Decoder> decoder = DecoderFor(*declared);
    return decoder && Convert(*decoder, bytes, 0);
}

}  // namespace kel::xml::posix
