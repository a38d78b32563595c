// Names as people type them: a whole text in any case, or the start of one.
#pragma once

#include <algorithm>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "component.h"

namespace kelsys {

// How far name is from the nearest piece of text, ignoring case: a typo in a
// word of a long title still finds it.
inline std::size_t Distance(WStringView name, WStringView text) {
    const WString a = kel::ToUpper(name), b = kel::ToUpper(text);
    std::vector<std::size_t> row(b.size() + 1, 0), next(b.size() + 1);
    for (std::size_t i = 1; i <= a.size(); ++i) {
        next[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            next[j] = std::min({row[j] + 1, next[j - 1] + 1, row[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        }
        row.swap(next);
    }
    return *std::min_element(row.begin(), row.end());
}

// What name picks among the texts: the one it equals, ignoring case, or else
// those it starts. Anything but one is refused, with the closest texts offered.
template <class T>
T* Pick(const std::vector<T*>& candidates, const std::string& typed, const std::string& what, const std::string& where,
        const std::function<WString(const T&)>& text) {
    const WString name = kel::FromUtf8(typed), upper = kel::ToUpper(name);
    std::vector<T*> found;
    for (T* candidate : candidates) {
        if (kel::EqualsNoCase(text(*candidate), name)) return candidate;
        if (kel::ToUpper(text(*candidate)).starts_with(upper)) found.push_back(candidate);
    }
    if (found.size() == 1) return found.front();
    const bool ambiguous = !found.empty();
    if (!ambiguous) {
        found = candidates;
        std::stable_sort(found.begin(), found.end(), [&](const T* a, const T* b) { return Distance(name, text(*a)) < Distance(name, text(*b)); });
        found.resize(std::min<std::size_t>(found.size(), 3));
    }
    std::string offered;
    for (const T* candidate : found) offered += (offered.empty() ? "\"" : ", \"") + Utf8(text(*candidate)) + "\"";
    std::cerr << "kelsys: " << (ambiguous ? what + " \"" + typed + "\" is ambiguous in " + where + ": " + offered
                                          : where + " has no " + what + " \"" + typed + "\"" +
                                                (offered.empty() ? "" : "; closest: " + offered))
              << "\n";
    return nullptr;
}

}  // namespace kelsys
