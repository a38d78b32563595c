// Option groups as an option definition file describes them.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "options/packed_texts.h"
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

    WString GetLineSelectionDescription() const { return m_texts.Get(kDescription); }
    WString GetDatFile() const { return m_texts.Get(kDatFile); }
    WString GetRefSubLabel() const { return m_texts.Get(kRefSubLabel); }
    WString GetRefSubGUID() const { return m_texts.Get(kRefSubGuid); }
    WString GetRemark() const { return m_texts.Get(kRemark); }
    // The same, valid until the option changes.
    WStringView LineSelectionDescriptionView() const { return m_texts.View(kDescription); }
    WStringView DatFileView() const { return m_texts.View(kDatFile); }
    WStringView RefSubLabelView() const { return m_texts.View(kRefSubLabel); }
    WStringView RefSubGUIDView() const { return m_texts.View(kRefSubGuid); }
    WStringView RemarkView() const { return m_texts.View(kRemark); }

    void SetLineSelectionDescription(WStringView text) { m_texts.Set(kDescription, text); }
    void SetDatFile(WStringView text) { m_texts.Set(kDatFile, text); }
    void SetRefSubLabel(WStringView text) { m_texts.Set(kRefSubLabel, text); }
    void SetRefSubGUID(WStringView text) { m_texts.Set(kRefSubGuid, text); }
    void SetRemark(WStringView text) { m_texts.Set(kRemark, text); }
    void SetTexts(WStringView description, WStringView datFile, WStringView refSubLabel, WStringView refSubGuid,
                  WStringView remark,
                  TextSource source = TextSource::Raw) {
        m_texts.SetAll({description, datFile, refSubLabel, refSubGuid, remark}, source);
    }

    bool operator==(const CRelkeyOption&) const = default;

private:
    enum : std::size_t { kDescription, kDatFile, kRefSubLabel, kRefSubGuid, kRemark, kFields };
    PackedTexts<kFields> m_texts;
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
    int AddOption(CRelkeyOption&& option);
    void ReserveOptions(std::size_t count) { m_options.reserve(count); }
    // Read-only view for callers that only walk the options.
    const std::vector<CRelkeyOption>& Options() const { return m_options; }
    // The options, moved out; the group is left without any.
    std::vector<CRelkeyOption> TakeOptions() {
        std::vector<CRelkeyOption> taken;
        taken.swap(m_options);
        return taken;
    }
    void SetOptions(std::vector<CRelkeyOption> options) { m_options = std::move(options); }

    WString GetTitle() const { return m_texts.Get(kTitle); }
    WString GetLabel() const { return m_texts.Get(kLabel); }
    WString GetCode() const { return m_texts.Get(kCode); }
    WString GetSubTitle() const { return m_texts.Get(kSubTitle); }
    WString GetSubGUID() const { return m_texts.Get(kSubGuid); }
    WString GetCategory() const { return m_texts.Get(kCategory); }
    // The same, valid until the group changes.
    WStringView TitleView() const { return m_texts.View(kTitle); }
    WStringView LabelView() const { return m_texts.View(kLabel); }
    WStringView CodeView() const { return m_texts.View(kCode); }
    WStringView SubTitleView() const { return m_texts.View(kSubTitle); }
    WStringView SubGUIDView() const { return m_texts.View(kSubGuid); }
    WStringView CategoryView() const { return m_texts.View(kCategory); }

    void SetTitle(WStringView text) { m_texts.Set(kTitle, text); }
    void SetLabel(WStringView text) { m_texts.Set(kLabel, text); }
    void SetCode(WStringView text) { m_texts.Set(kCode, text); }
    void SetSubTitle(WStringView text) { m_texts.Set(kSubTitle, text); }
    void SetSubGUID(WStringView text) { m_texts.Set(kSubGuid, text); }
    void SetCategory(WStringView text) { m_texts.Set(kCategory, text); }
    void SetTexts(WStringView title, WStringView label, WStringView code, WStringView subTitle, WStringView subGuid,
                  WStringView category,
                  TextSource source = TextSource::Raw) {
        m_texts.SetAll({title, label, code, subTitle, subGuid, category}, source);
    }

    bool operator==(const CRelkeyGroup&) const = default;

private:
    enum : std::size_t { kTitle, kLabel, kCode, kSubTitle, kSubGuid, kCategory, kFields };
    PackedTexts<kFields> m_texts;
    std::vector<CRelkeyOption> m_options;
};

}  // namespace kel
