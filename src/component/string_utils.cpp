#include "component/string_utils.h"

#include <array>
#include <cstring>

namespace {

struct Tables {
    std::array<unsigned char, 256> upper{};
    std::array<unsigned char, 256> lower{};
    std::array<bool, 256> identifierStart{};
    std::array<bool, 256> identifierContinue{};
};

constexpr Tables MakeTables() {
    Tables t;
    for (int c = 0; c < 256; ++c) {
        t.upper[c] = static_cast<unsigned char>(c);
        t.lower[c] = static_cast<unsigned char>(c);
    }
    for (int c = 'a'; c <= 'z'; ++c) t.upper[c] = static_cast<unsigned char>(c - 0x20);
    for (int c = 'A'; c <= 'Z'; ++c) t.lower[c] = static_cast<unsigned char>(c + 0x20);
    for (int c = 0xE0; c <= 0xFE; ++c) {
        if (c != 0xF7) t.upper[c] = static_cast<unsigned char>(c - 0x20);
    }
    for (int c = 0xC0; c <= 0xDE; ++c) {
        if (c != 0xD7) t.lower[c] = static_cast<unsigned char>(c + 0x20);
    }
    for (int c = 0; c < 256; ++c) {
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
        t.identifierStart[c] = letter;
        t.identifierContinue[c] = letter || (c >= '0' && c <= '9') || c == '_';
    }
    return t;
}

constexpr Tables kTables = MakeTables();

unsigned char Lower(const char* p) { return kTables.lower[static_cast<unsigned char>(*p)]; }

}  // namespace

extern "C" {

int os_toupper(int c) { return kTables.upper[static_cast<unsigned char>(c)]; }

int os_tolower(int c) { return kTables.lower[static_cast<unsigned char>(c)]; }

int os_stricmp(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const unsigned char ca = Lower(a);
        const unsigned char cb = Lower(b);
        if (ca != cb || ca == 0) return ca - cb;
    }
}

int os_strnicmp(const char* a, const char* b, int n) {
    for (; n > 0; --n, ++a, ++b) {
        const unsigned char ca = Lower(a);
        const unsigned char cb = Lower(b);
        if (ca != cb || ca == 0) return ca - cb;
    }
    return 0;
}

int os_validate_identifier(const char* s) {
    if (!s || !*s) return -1;
    const std::size_t length = std::strlen(s);
    if (length > 32 || !kTables.identifierStart[static_cast<unsigned char>(s[0])]) return -1;
    for (std::size_t i = 1; i < length; ++i) {
        if (!kTables.identifierContinue[static_cast<unsigned char>(s[i])]) return -1;
    }
    return 0;
}

char* os_strtok_r(char* str, const char* delimiters, char** save) {
    char* p = str ? str : *save;
    if (!p) return nullptr;
    p += std::strspn(p, delimiters);
    if (!*p) {
        *save = nullptr;
        return nullptr;
    }
    char* end = p + std::strcspn(p, delimiters);
    if (*end) {
        *end = '\0';
        *save = end + 1;
    } else {
        *save = nullptr;
    }
    return p;
}
}
