// Option groups as an option definition file describes them.
#pragma once

#include <vector>

#include "platform/text.h"

namespace kel {

class CRelkeyOption {
public:
    CRelkeyOption() = default;
    // Declared so that the virtual destructor does not turn every move into a copy.
    CRelkeyOption(const CRelkeyOption&) = default;
    CRelkeyOption(CRelkeyOption&&) noexcept = default;
    CRelkeyOption& operator=(const CRelkeyOption&) = default;
    CRelkeyOption& operator=(CRelkeyOption&&) noexcept = default;
    virtual ~CRelkeyOption() = default;

    WString GetLineSelectionDescription() const { return m_lineSelectionDescription; }
    WString GetDatFile() const { return m_datFile; }
    WString GetRefSubLabel() const { return m_refSubLabel; }
    WString GetRefSubGUID() const { return m_refSubGUID; }
    WString GetRemark() const { return m_remark; }

    void SetLineSelectionDescription(WStringView text) { m_lineSelectionDescription = text; }
    void SetDatFile(WStringView text) { m_datFile = text; }
    void SetRefSubLabel(WStringView text) { m_refSubLabel = text; }
    void SetRefSubGUID(WStringView text) { m_refSubGUID = text; }
    void SetRemark(WStringView text) { m_remark = text; }

    bool operator==(const CRelkeyOption&) const = default;

private:
    WString m_lineSelectionDescription;
    WString m_datFile;
    WString m_refSubLabel;
    WString m_refSubGUID;
    WString m_remark;
};

class CRelkeyGroup {
public:
    CRelkeyGroup() = default;
    CRelkeyGroup(const CRelkeyGroup&) = default;
    CRelkeyGroup(CRelkeyGroup&&) noexcept = default;
    CRelkeyGroup& operator=(const CRelkeyGroup&) = default;
    CRelkeyGroup& operator=(CRelkeyGroup&&) noexcept = default;
    virtual ~CRelkeyGroup() = default;

    void Clear() { *this = CRelkeyGroup(); }
    int GetOptionCount() const { return static_cast<int>(m_options.size()); }
    // 0, or -1 (option untouched) when index is out of range.
    int GetOption(int index, CRelkeyOption& option) const;
    int AddOption(const CRelkeyOption& option);
    void ReserveOptions(std::size_t count) { m_options.reserve(count); }
    // Read-only view for callers that only walk the options.
    const std::vector<CRelkeyOption>& Options() const { return m_options; }

    WString GetTitle() const { return m_title; }
    WString GetLabel() const { return m_label; }
    WString GetCode() const { return m_code; }
    WString GetSubTitle() const { return m_subTitle; }
    WString GetSubGUID() const { return m_subGUID; }
    WString GetCategory() const { return m_category; }

    void SetTitle(WStringView text) { m_title = text; }
    void SetLabel(WStringView text) { m_label = text; }
    void SetCode(WStringView text) { m_code = text; }
    void SetSubTitle(WStringView text) { m_subTitle = text; }
    void SetSubGUID(WStringView text) { m_subGUID = text; }
    void SetCategory(WStringView text) { m_category = text; }

    bool operator==(const CRelkeyGroup&) const = default;

private:
    WString m_title;
    WString m_label;
    WString m_code;
    WString m_subTitle;
    WString m_subGUID;
    WString m_category;
    std::vector<CRelkeyOption> m_options;
};

}  // namespace kel
