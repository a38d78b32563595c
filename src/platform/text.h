// Wide (UTF-16) text helpers shared by every subsystem.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>

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

// The narrow text of the system's files: the ANSI code page on Windows,
// Windows-1252 elsewhere. Characters that have no byte become '?'.
std::string ToAnsi(WStringView text);
WString FromAnsi(std::string_view text);
// Copies text's leading ASCII into out (room for text.size()); its length.
std::size_t WidenAscii(std::string_view text, char16_t* out);

// Exact equality by memcmp: the standard library compares char16_t one at a
// time, which shows in the hot look-ups.
inline bool SameText(WStringView a, WStringView b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

// Maps keyed by text that are searched with views, without a copy per search.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(WStringView text) const noexcept { return std::hash<WStringView>{}(text); }
};
template <class T>
using TextMap = std::unordered_map<WString, T, TextHash, std::equal_to<>>;

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
