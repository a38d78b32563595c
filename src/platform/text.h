// Wide (UTF-16) text helpers shared by every subsystem.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kel {

using WString = std::u16string;
using WStringView = std::u16string_view;

// Formatted messages are capped like the fixed buffers of the traces.
inline constexpr std::size_t kMessageCapacity = 1024;

// One argument of Format: "%s" takes text, "%d" and "%x" take numbers.
class FormatArg {
public:
    FormatArg(WStringView text) : text_(text), isText_(true) {}
    FormatArg(const WString& text) : text_(text), isText_(true) {}
    FormatArg(const char16_t* text) : text_(text ? WStringView(text) : WStringView()), isText_(true) {}
    FormatArg(int value) : number_(value) {}
    FormatArg(long value) : number_(value) {}
    FormatArg(long long value) : number_(value) {}
    FormatArg(unsigned value) : number_(value) {}
    FormatArg(unsigned long value) : number_(static_cast<long long>(value)) {}
    FormatArg(unsigned long long value) : number_(static_cast<long long>(value)) {}

    bool IsText() const { return isText_; }
    WStringView Text() const { return text_; }
    long long Number() const { return number_; }

private:
    WStringView text_;
    long long number_ = 0;
    bool isText_ = false;
};

// printf-style "%s", "%d", "%x" (and "%%"); the result holds at most
// kMessageCapacity - 1 characters. A missing or mismatched argument prints nothing.
WString FormatList(WStringView format, std::initializer_list<FormatArg> args);

template <class... Args>
WString Format(WStringView format, const Args&... args) {
    return FormatList(format, {FormatArg(args)...});
}

std::string ToUtf8(WStringView text);
// The characters before the first NUL; a caller's text of megabytes is
// measured several characters at a time.
std::size_t Length(const char16_t* text);
WString FromUtf8(std::string_view text);
// The same into out, which has room for text.size() units (no text needs
// more); the units written.
std::size_t FromUtf8(std::string_view text, char16_t* out);

// The narrow text of the system's files: the ANSI code page on Windows,
// Windows-1252 elsewhere. Characters that have no byte become '?'.
std::string ToAnsi(WStringView text);
WString FromAnsi(std::string_view text);
// Copies text's leading ASCII into out (room for text.size()); its length.
std::size_t WidenAscii(std::string_view text, char16_t* out);

// Exact equality: the standard library compares char16_t one at a time,
// which shows in the hot look-ups. Names and labels of up to 16 characters,
// most of those compared, take a few word loads instead of a call.
inline bool SameText(WStringView a, WStringView b) {
    if (a.size() != b.size()) return false;
    const std::size_t bytes = a.size() * sizeof(char16_t);
    const auto* x = reinterpret_cast<const unsigned char*>(a.data());
    const auto* y = reinterpret_cast<const unsigned char*>(b.data());
    const auto word = [](const unsigned char* at) {
        std::uint64_t value;
        std::memcpy(&value, at, sizeof value);
        return value;
    };
    if (bytes > 32) return std::memcmp(x, y, bytes) == 0;
    if (bytes >= 8) {
        // Overlapping loads from both ends cover every length.
        std::uint64_t differ = (word(x) ^ word(y)) | (word(x + bytes - 8) ^ word(y + bytes - 8));
        if (bytes > 16) differ |= (word(x + 8) ^ word(y + 8)) | (word(x + bytes - 16) ^ word(y + bytes - 16));
        return differ == 0;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// Maps keyed by text that are searched with views, without a copy per search.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(WStringView text) const noexcept { return std::hash<WStringView>{}(text); }
};
struct SameTextAs {
    using is_transparent = void;
    bool operator()(WStringView a, WStringView b) const noexcept { return SameText(a, b); }
};
template <class T>
using TextMap = std::unordered_map<WString, T, TextHash, SameTextAs>;

// Texts to places in a caller's list, the first place given for a text
// kept. Slots searched from the text's hash, beside one list of entries: a
// look-up costs a cache miss or two where a node map costs several, and
// nothing is freed per entry. The texts are views: the caller keeps them
// in place.
class TextIndex {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    std::size_t Find(WStringView text) const;
    // The place text has: place when it is new.
    std::size_t Add(WStringView text, std::size_t place);
    // Room for count texts without growing.
    void Reserve(std::size_t count);
    void Clear();
    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        const char16_t* data;
        std::size_t length;
        std::size_t place;
    };
    // A slot is the text's hash and its entry's number plus one (0: empty):
    // eight bytes, so that a large index stays in the cache.
    static std::uint32_t Hash(WStringView text);
    std::size_t SlotOf(WStringView text, std::uint32_t hash) const;
    void Rehash(std::size_t slots);
    std::vector<std::uint64_t> slots_;  // a power of two, at most half full
    std::vector<Entry> entries_;
};

// Locale-aware upper-casing and case-insensitive comparison (<0, 0, >0).
WString ToUpper(WStringView text);
int CompareNoCase(WStringView a, WStringView b);
bool EqualsNoCase(WStringView a, WStringView b);

WString FromAscii(std::string_view text);
// text without the characters XML 1.0 forbids even as references (controls
// but tab, line feed and carriage return; U+FFFE, U+FFFF; lone surrogates).
WString WithoutNonXmlCharacters(WStringView text);
// True when WithoutNonXmlCharacters would keep text as it is (false for any surrogate).
bool HasOnlyXmlCharacters(WStringView text);
// The length of text's start of U+0020 to U+D7FF: characters XML takes as
// they are, none of them NUL or half a surrogate pair.
std::size_t PlainXmlPrefix(WStringView text);

}  // namespace kel
