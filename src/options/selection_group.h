// What a system has chosen from one option group.
#pragma once

#include <cstdint>
#include <vector>

#include "options/packed_texts.h"
#include "platform/text.h"

namespace kel {

class CSelectionOption {
public:
    // 0 not selected, 1 selected, 2 selected and written with ";", 4 default
    // choice of a single-choice group.
    static constexpr int32_t kNotSelected = 0;
    static constexpr int32_t kSelected = 1;
    static constexpr int32_t kSelectedHidden = 2;
    static constexpr int32_t kDefault = 4;

    CSelectionOption() = default;
    // Declared so that the virtual destructor does not turn every move into a copy.
    CSelectionOption(const CSelectionOption&) = default;
    CSelectionOption(CSelectionOption&&) noexcept = default;
    CSelectionOption& operator=(const CSelectionOption&) = default;
    CSelectionOption& operator=(CSelectionOption&&) noexcept = default;
    virtual ~CSelectionOption() = default;

    int32_t GetSelected() const { return m_selected; }
    // Valid until the option changes.
    WStringView GetLineSelectionDescription() const { return m_texts.View(kDescription); }
    WStringView GetDatFile() const { return m_texts.View(kDatFile); }
    WStringView GetRefSubLabel() const { return m_texts.View(kRefSubLabel); }
    WStringView GetRefSubGUID() const { return m_texts.View(kRefSubGuid); }

    void SetSelected(int32_t selected) { m_selected = selected; }
    void SetLineSelectionDescription(WStringView text) { m_texts.Set(kDescription, text); }
    void SetDatFile(WStringView text) { m_texts.Set(kDatFile, text); }
    void SetRefSubLabel(WStringView text) { m_texts.Set(kRefSubLabel, text); }
    void SetRefSubGUID(WStringView text) { m_texts.Set(kRefSubGuid, text); }
    void SetTexts(WStringView description, WStringView datFile, WStringView refSubLabel, WStringView refSubGuid,
                  TextSource source = TextSource::Raw) {
        m_texts.SetAll({description, datFile, refSubLabel, refSubGuid}, source);
    }

private:
    enum : std::size_t { kDescription, kDatFile, kRefSubLabel, kRefSubGuid, kFields };
    int32_t m_selected = kNotSelected;
    PackedTexts<kFields> m_texts;
};

class CSelectionGroup {
public:
    CSelectionGroup() = default;
    CSelectionGroup(const CSelectionGroup&) = default;
    CSelectionGroup(CSelectionGroup&&) noexcept = default;
    CSelectionGroup& operator=(const CSelectionGroup&) = default;
    CSelectionGroup& operator=(CSelectionGroup&&) noexcept = default;
    virtual ~CSelectionGroup() = default;

    void Clear() { *this = CSelectionGroup(); }
    int GetOptionCount() const { return static_cast<int>(m_options.size()); }
    // 0, or -1 when index is out of range.
    int GetOption(int index, CSelectionOption& option) const;
    // The index of the new option.
    int AddOption(CSelectionOption option);
    void ReserveOptions(std::size_t count) { m_options.reserve(count); }
    const std::vector<CSelectionOption>& Options() const { return m_options; }

    // Valid until the group changes.
    WStringView GetTitle() const { return m_texts.View(kTitle); }
    WStringView GetSubTitle() const { return m_texts.View(kSubTitle); }
    WStringView GetSubGUID() const { return m_texts.View(kSubGuid); }
    WStringView GetCategory() const { return m_texts.View(kCategory); }
    WStringView GetLabel() const { return m_texts.View(kLabel); }
    WStringView GetCode() const { return m_texts.View(kCode); }

    void SetTitle(WStringView text) { m_texts.Set(kTitle, text); }
    void SetSubTitle(WStringView text) { m_texts.Set(kSubTitle, text); }
    void SetSubGUID(WStringView text) { m_texts.Set(kSubGuid, text); }
    void SetCategory(WStringView text) { m_texts.Set(kCategory, text); }
    void SetLabel(WStringView text) { m_texts.Set(kLabel, text); }
    void SetCode(WStringView text) { m_texts.Set(kCode, text); }
    void SetTexts(WStringView title, WStringView subTitle, WStringView subGuid, WStringView category,
                  WStringView label, WStringView code,
                  TextSource source = TextSource::Raw) {
        m_texts.SetAll({title, subTitle, subGuid, category, label, code}, source);
    }

private:
    enum : std::size_t { kTitle, kSubTitle, kSubGuid, kCategory, kLabel, kCode, kFields };
    std::vector<CSelectionOption> m_options;
    PackedTexts<kFields> m_texts;
};

}  // namespace kel
