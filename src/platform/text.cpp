#include "platform/text.h"

#include <algorithm>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/os.h"

namespace kel {

namespace {

void AppendNumber(WString& out, long long value, bool hex) {
    char buffer[32];
    if (hex) {
        std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(value));
    } else {
        std::snprintf(buffer, sizeof buffer, "%lld", value);
    }
    for (const char* p = buffer; *p; ++p) out.push_back(static_cast<char16_t>(*p));
}

}  // namespace

WString FormatList(WStringView format, std::initializer_list<FormatArg> args) {
    WString out;
    out.reserve(format.size() + 64);
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char16_t c = format[i];
        if (c != u'%' || i + 1 == format.size()) {
            out.push_back(c);
            continue;
        }
        const char16_t conversion = format[++i];
        if (conversion == u'%') {
            out.push_back(u'%');
            continue;
        }
        if (conversion != u's' && conversion != u'd' && conversion != u'x') {
            out.push_back(c);
            out.push_back(conversion);
            continue;
        }
        if (next == args.end()) continue;
        const FormatArg& arg = *next++;
        if (conversion == u's') {
            if (arg.IsText()) out.append(arg.Text());
        } else if (!arg.IsText()) {
            AppendNumber(out, arg.Number(), conversion == u'x');
        }
    }
    if (out.size() >= kMessageCapacity) out.resize(kMessageCapacity - 1);
    return out;
}

// Element names and most texts are plain ASCII: their first run of it is
// copied without the per-character checks. Blocks of 16 are tested at once,
// which the compiler turns into vector code.
template <class Char>
std::size_t AsciiPrefix(const Char* text, std::size_t size) {
    using Unsigned = std::make_unsigned_t<Char>;
    std::size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        Unsigned any = 0;
        for (std::size_t k = 0; k < 16; ++k) any |= static_cast<Unsigned>(text[i + k]);
        if (any >= 0x80) break;
    }
    while (i < size && static_cast<Unsigned>(text[i]) < 0x80) ++i;
    return i;
}

// Aligned loads never reach into a page that the text does not: the bytes
// read before its start and after its end lie in blocks it shares, which the
// address and thread sanitizers would report.
#if defined(__SSE2__) && defined(__GNUC__)
__attribute__((no_sanitize("address", "thread")))
#endif
std::size_t Length(const char16_t* text) {
#if defined(__SSE2__) && defined(__GNUC__)
    const auto address = reinterpret_cast<std::uintptr_t>(text);
    if (address % 2 == 0) {
        const __m128i zero = _mm_setzero_si128();
        const auto* block = reinterpret_cast<const __m128i*>(address & ~std::uintptr_t{15});
        // Bytes before the text do not count.
        unsigned found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(block), zero))) &
                         (0xFFFFu << (address & 15));
        while (!found) found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(++block), zero)));
        const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(block) + static_cast<unsigned>(__builtin_ctz(found));
        return (end - address) / 2;
    }
#endif
    return std::char_traits<char16_t>::length(text);
}

std::size_t WidenAscii(std::string_view text, char16_t* out) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= text.size(); i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        if (_mm_movemask_epi8(bytes) != 0) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(bytes, zero));
    }
#endif
    for (; i < text.size() && static_cast<unsigned char>(text[i]) < 0x80; ++i) out[i] = static_cast<char16_t>(text[i]);
    return i;
}

std::string ToUtf8(WStringView text) {
    std::string out(text.size(), '\0');
    char* narrow = out.data();
    std::size_t ascii = 0;
#if defined(__SSE2__)
    // Documents of megabytes pass here: checked and narrowed in one pass.
    const __m128i beyondAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; ascii + 16 <= text.size(); ascii += 16) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + ascii));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + ascii + 8));
        const __m128i beyond = _mm_and_si128(_mm_or_si128(low, high), beyondAscii);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(beyond, _mm_setzero_si128())) != 0xFFFF) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(narrow + ascii), _mm_packus_epi16(low, high));
    }
#endif
    for (; ascii < text.size() && text[ascii] < 0x80; ++ascii) narrow[ascii] = static_cast<char>(text[ascii]);
    if (ascii == text.size()) return out;
    out.resize(ascii);
    out.reserve(text.size() + (text.size() - ascii) * 2);
    for (std::size_t i = ascii; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

WString FromUtf8(std::string_view text) {
    WString out(text.size(), u'\0');
    out.resize(FromUtf8(text, out.data()));
    return out;
}

std::size_t FromUtf8(std::string_view text, char16_t* out) {
    std::size_t i = WidenAscii(text, out);
    std::size_t o = i;
    while (i < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        char32_t c = 0xFFFD;
        std::size_t length = 1;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            length = 2;
            c = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            length = 3;
            c = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            length = 4;
            c = b & 0x07;
        } else {
            length = 0;
        }
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const unsigned char t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80) valid = false;
            c = (c << 6) | (t & 0x3F);
        }
        if (!valid) {
            c = 0xFFFD;
            length = 1;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out[o++] = static_cast<char16_t>(0xD800 + (c >> 10));
            out[o++] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out[o++] = static_cast<char16_t>(c);
        }
        i += length;
    }
    return o;
}

// Every ANSI code page is ASCII below 0x80, and most texts are ASCII: they
// need no call into the platform, one per relkey line otherwise.
std::string ToAnsi(WStringView text) {
    if (AsciiPrefix(text.data(), text.size()) < text.size()) return os::AnsiFromWide(text);
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(text[i]);
    return out;
}

WString FromAnsi(std::string_view text) {
    WString out(text.size(), u'\0');
    return WidenAscii(text, out.data()) == text.size() ? out : os::WideFromAnsi(text);
}
WString ToUpper(WStringView text) { return os::UpperCase(text); }
int CompareNoCase(WStringView a, WStringView b) { return os::UpperCase(a).compare(os::UpperCase(b)); }
bool EqualsNoCase(WStringView a, WStringView b) { return a.size() == b.size() && CompareNoCase(a, b) == 0; }

WString FromAscii(std::string_view text) { return WString(text.begin(), text.end()); }

namespace {
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
}  // namespace

std::size_t PlainXmlPrefix(WStringView text) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Relkey files of megabytes pass here text by text.
    const __m128i first = _mm_set1_epi16(0x20);
    const __m128i span = _mm_set1_epi16(static_cast<short>(0xD7FF - 0x20));
    for (; i + 8 <= text.size(); i += 8) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        // c - 0x20 (wrapping) above the span saturates to nonzero.
        const __m128i beyond = _mm_subs_epu16(_mm_sub_epi16(chars, first), span);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(beyond, _mm_setzero_si128())) != 0xFFFF) break;
    }
#endif
    while (i < text.size() && text[i] >= 0x20 && text[i] <= 0xD7FF) ++i;
    return i;
}

bool HasOnlyXmlCharacters(WStringView text) {
    // XML allows a surrogate pair, but the rare text with one takes the slow way.
    for (std::size_t i = PlainXmlPrefix(text); i < text.size(); i += 1 + PlainXmlPrefix(text.substr(i + 1))) {
        const char16_t c = text[i];
        if ((c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE || c == 0xFFFF ||
            IsHighSurrogate(c) || IsLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

WString WithoutNonXmlCharacters(WStringView text) {
    const auto high = IsHighSurrogate;
    const auto low = IsLowSurrogate;
    // Mostly nothing goes: then the text is taken as it is.
    if (HasOnlyXmlCharacters(text)) return WString(text);
    WString out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (high(c) && i + 1 < text.size() && low(text[i + 1])) {
            out.append(text.substr(i++, 2));
            continue;
        }
        const bool control = c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r';
        if (!control && c != 0xFFFE && c != 0xFFFF && !high(c) && !low(c)) out.push_back(c);
    }
    return out;
}

std::uint32_t TextIndex::Hash(WStringView text) {
    // Eight bytes a step: labels are short, and few collide.
    std::uint64_t hash = text.size() * 0x9E3779B97F4A7C15ull;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t left = text.size() * sizeof(char16_t);
    for (; left >= 8; bytes += 8, left -= 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes, 8);
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 32;
    }
    if (left) {
        // At most three characters: a copy of unknown length would be a call.
        std::uint64_t word = 0;
        for (const char16_t* c = text.data() + text.size() - left / 2; c != text.data() + text.size(); ++c) {
            word = (word << 16) | *c;
        }
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
    }
    hash ^= hash >> 29;
    return static_cast<std::uint32_t>(hash * 0xC4CEB9FE1A85EC53ull >> 32);
}

std::size_t TextIndex::SlotOf(WStringView text, std::uint32_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const std::uint64_t slot = slots_[i];
        if (slot == 0) return i;
        if (slot >> 32 != hash) continue;
        const Entry& entry = entries_[(slot & 0xFFFFFFFFu) - 1];
        if (SameText(WStringView(entry.data, entry.length), text)) return i;
    }
}

std::size_t TextIndex::Find(WStringView text) const {
    if (slots_.empty()) return npos;
    const std::uint64_t slot = slots_[SlotOf(text, Hash(text))];
    return slot == 0 ? npos : entries_[(slot & 0xFFFFFFFFu) - 1].place;
}

std::size_t TextIndex::Add(WStringView text, std::size_t place) {
    if (2 * (entries_.size() + 1) > slots_.size()) Rehash(std::max<std::size_t>(16, 2 * slots_.size()));
    const std::uint32_t hash = Hash(text);
    std::uint64_t& slot = slots_[SlotOf(text, hash)];
    if (slot != 0) return entries_[(slot & 0xFFFFFFFFu) - 1].place;
    entries_.push_back({text.data(), text.size(), place});
    slot = std::uint64_t{hash} << 32 | entries_.size();
    return place;
}

void TextIndex::Reserve(std::size_t count) {
    std::size_t slots = 16;
    while (slots < 2 * count) slots *= 2;
    if (slots > slots_.size()) Rehash(slots);
    entries_.reserve(count);
}

void TextIndex::Clear() {
    slots_.clear();
    entries_.clear();
}

void TextIndex::Rehash(std::size_t slots) {
    std::vector<std::uint64_t> old(slots, 0);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const std::uint64_t slot : old) {
        if (slot == 0) continue;
        std::size_t i = (slot >> 32) & mask;
        while (slots_[i] != 0) i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

}  // namespace kel
