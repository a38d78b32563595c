// What a system has chosen from one option group.
#pragma once

#include <cstdint>
#include <vector>

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

    virtual ~CSelectionOption() = default;

    int32_t GetSelected() const { return m_selected; }
    const WString& GetLineSelectionDescription() const { return m_lineSelectionDescription; }
    const WString& GetDatFile() const { return m_datFile; }
    const WString& GetRefSubLabel() const { return m_refSubLabel; }
    const WString& GetRefSubGUID() const { return m_refSubGUID; }

    void SetSelected(int32_t selected) { m_selected = selected; }
    void SetLineSelectionDescription(WStringView text) { m_lineSelectionDescription = text; }
    void SetDatFile(WStringView text) { m_datFile = text; }
    void SetRefSubLabel(WStringView text) { m_refSubLabel = text; }
    void SetRefSubGUID(WStringView text) { m_refSubGUID = text; }

private:
    int32_t m_selected = kNotSelected;
    WString m_lineSelectionDescription;
    WString m_datFile;
    WString m_refSubLabel;
    WString m_refSubGUID;
};

class CSelectionGroup {
public:
    virtual ~CSelectionGroup() = default;

    void Clear() { *this = CSelectionGroup(); }
    int GetOptionCount() const { return static_cast<int>(m_options.size()); }
    // 0, or -1 when index is out of range.
    int GetOption(int index, CSelectionOption& option) const;
    // The index of the new option.
    int AddOption(CSelectionOption option);
    void ReserveOptions(std::size_t count) { m_options.reserve(count); }
    const std::vector<CSelectionOption>& Options() const { return m_options; }

    const WString& GetTitle() const { return m_title; }
    const WString& GetSubTitle() const { return m_subTitle; }
    const WString& GetSubGUID() const { return m_subGUID; }
    const WString& GetCategory() const { return m_category; }
    const WString& GetLabel() const { return m_label; }
    const WString& GetCode() const { return m_code; }

    void SetTitle(WStringView text) { m_title = text; }
    void SetSubTitle(WStringView text) { m_subTitle = text; }
    void SetSubGUID(WStringView text) { m_subGUID = text; }
    void SetCategory(WStringView text) { m_category = text; }
    void SetLabel(WStringView text) { m_label = text; }
    void SetCode(WStringView text) { m_code = text; }

private:
    std::vector<CSelectionOption> m_options;
    WString m_title;
    WString m_subTitle;
    WString m_subGUID;
    WString m_category;
    WString m_label;
    WString m_code;
};

}  // namespace kel
