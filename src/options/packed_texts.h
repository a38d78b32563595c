// Several short texts of one object kept in one string.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/text.h"

namespace kel {

// Whether texts may hold characters XML cannot (Raw) or come from packed texts
// or their cleaning already (Clean).
enum class TextSource { Raw, Clean };

// Texts kept end to end in one string: a large option file holds tens of
// thousands of options, most of whose texts are short or empty.
template <std::size_t N>
class PackedTexts {
public:
    WString Get(std::size_t field) const { return WString(View(field)); }
    WStringView View(std::size_t field) const {
        return WStringView(m_text).substr(Begin(field), m_ends[field] - Begin(field));
    }
    // Texts that XML cannot hold are cleaned here, once, so that the option
    // document, the option strings and system.xml all see the same text.
    void Set(std::size_t field, WStringView raw) {
        WString clean;
        WStringView text = raw;
        if (!HasOnlyXmlCharacters(raw)) {
            clean = WithoutNonXmlCharacters(raw);
            text = clean;
        }
        const std::size_t begin = Begin(field);
        const std::size_t oldLength = m_ends[field] - begin;
        m_text.replace(begin, oldLength, text);
        for (std::size_t i = field; i < N; ++i) m_ends[i] = static_cast<uint32_t>(m_ends[i] - oldLength + text.size());
    }
    // Every field at once (in field order), in one allocation: setting them
    // one by one grows the string several times.
    void SetAll(const std::array<WStringView, N>& raw, TextSource source = TextSource::Raw) {
        if (source == TextSource::Raw) {
            for (const WStringView text : raw) {
                if (!HasOnlyXmlCharacters(text)) return SetAllCleaned(raw);
            }
        }
        std::size_t total = 0;
        for (const WStringView text : raw) total += text.size();
        m_text.clear();
        m_text.reserve(total);
        for (std::size_t i = 0; i < N; ++i) {
            m_text.append(raw[i]);
            m_ends[i] = static_cast<uint32_t>(m_text.size());
        }
    }
    bool operator==(const PackedTexts&) const = default;

private:
    // Rare: a text that XML cannot hold.
    void SetAllCleaned(const std::array<WStringView, N>& raw) {
        std::array<WString, N> clean;
        std::array<WStringView, N> texts;
        for (std::size_t i = 0; i < N; ++i) {
            clean[i] = WithoutNonXmlCharacters(raw[i]);
            texts[i] = clean[i];
        }
        SetAll(texts, TextSource::Clean);
    }
    std::size_t Begin(std::size_t field) const { return field == 0 ? 0 : m_ends[field - 1]; }
    WString m_text;
    std::array<uint32_t, N> m_ends{};
};

}  // namespace kel
