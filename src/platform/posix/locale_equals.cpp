// Text equality without a locale's collation: glibc's tells apart even a
// precomposed letter and its decomposed form, which Windows takes as equal in
// every locale. That part, canonical equivalence, is done here.
#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/os.h"

namespace kel::os {

namespace {

struct Decomposition {
    char16_t code;
    char16_t first;
    char16_t second;
};

struct CombiningClass {
    char16_t first;
    char16_t last;
    std::uint8_t value;
};

#include "platform/posix/canonical_tables.inc"

void AppendDecomposed(char32_t c, std::u32string& out) {
    const auto* end = std::end(kDecompositions);
    const auto* found = std::lower_bound(std::begin(kDecompositions), end, c,
                                         [](const Decomposition& d, char32_t code) { return d.code < code; });
    if (found == end || found->code != c) {
        out.push_back(c);
        return;
    }
    // Decompositions nest a few levels at most.
    AppendDecomposed(found->first, out);
    if (found->second) AppendDecomposed(found->second, out);
}

std::uint8_t CombiningClassOf(char32_t c) {
    const auto* end = std::end(kCombiningClasses);
    const auto* found = std::upper_bound(std::begin(kCombiningClasses), end, c,
                                         [](char32_t code, const CombiningClass& r) { return code < r.first; });
    if (found == std::begin(kCombiningClasses)) return 0;
    --found;
    return c <= found->last ? found->value : 0;
}

// The canonical decomposition: fully decomposed, marks in canonical order.
std::u32string Decomposed(WStringView text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            out.push_back(0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[++i] - 0xDC00));
        } else {
            AppendDecomposed(c, out);
        }
    }
    for (std::size_t start = 0; start < out.size();) {
        if (CombiningClassOf(out[start]) == 0) {
            ++start;
            continue;
        }
        std::size_t end = start;
        while (end < out.size() && CombiningClassOf(out[end]) != 0) ++end;
        std::stable_sort(out.begin() + static_cast<std::ptrdiff_t>(start), out.begin() + static_cast<std::ptrdiff_t>(end),
                         [](char32_t x, char32_t y) { return CombiningClassOf(x) < CombiningClassOf(y); });
        start = end;
    }
    return out;
}

}  // namespace

bool LocaleEquals(WStringView a, WStringView b) {
    const auto [left, right] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (left == a.end() && right == b.end()) return true;
    // A text that ends where the other goes on has fewer code points however
    // it decomposes; below U+00C0 nothing decomposes or combines, so texts
    // that part at two such characters differ.
    if (left == a.end() || right == b.end() || (*left < 0xC0 && *right < 0xC0)) return false;
    return Decomposed(a) == Decomposed(b);
}

}  // namespace kel::os
