// What a system has chosen from one option group.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "options/relkey_group.h"
#include "platform/text.h"

namespace kel {

// An option of a relkey group with its choice. The texts are the relkey
// option's own, so the group it came from must outlive it.
class CSelectionOption {
public:
    // 0 not selected, 1 selected, 2 selected and written with ";", 4 default
    // choice of a single-choice group.
    static constexpr int32_t kNotSelected = 0;
    static constexpr int32_t kSelected = 1;
    static constexpr int32_t kSelectedHidden = 2;
    static constexpr int32_t kDefault = 4;

    CSelectionOption(const CRelkeyOption& source, int32_t selected, WString&& instance)
        : m_source(&source), m_selected(selected), m_instance(std::move(instance)) {}

    int32_t GetSelected() const { return m_selected; }
    WStringView GetLineSelectionDescription() const { return m_source->LineSelectionDescriptionView(); }
    WStringView GetDatFile() const { return m_source->DatFileView(); }
    WStringView GetRefSubLabel() const { return m_source->RefSubLabelView(); }
    // The sub group instance this choice opens, empty without a sub group.
    WStringView GetRefSubGUID() const { return m_instance; }

private:
    const CRelkeyOption* m_source;
    int32_t m_selected;
    WString m_instance;
};

// A relkey group with a choice for each option; it copies no text, so the
// relkey group must outlive it.
class CSelectionGroup {
public:
    void Reset(const CRelkeyGroup& source) {
        m_source = &source;
        m_subGuid = {};
        m_options.clear();
        m_options.reserve(source.Options().size());
    }
    // Moved once: a build adds every option of tens of thousands of groups.
    void AddOption(int32_t selected, WString&& instance) {
        m_options.emplace_back(source().Options()[m_options.size()], selected, std::move(instance));
    }
    int GetOptionCount() const { return static_cast<int>(m_options.size()); }
    const std::vector<CSelectionOption>& Options() const { return m_options; }

    WStringView GetTitle() const { return source().TitleView(); }
    WStringView GetSubTitle() const { return source().SubTitleView(); }
    WStringView GetSubGUID() const { return m_subGuid.empty() ? source().SubGUIDView() : m_subGuid; }
    // The instance of a sub group, in place of the relkey group's own; it
    // must outlive this group's next Reset.
    void SetSubGUID(WStringView instance) { m_subGuid = instance; }
    WStringView GetCategory() const { return source().CategoryView(); }
    WStringView GetLabel() const { return source().LabelView(); }
    WStringView GetCode() const { return source().CodeView(); }

private:
    const CRelkeyGroup& source() const { return m_source ? *m_source : kNone; }
    static inline const CRelkeyGroup kNone{};
    const CRelkeyGroup* m_source = nullptr;
    WStringView m_subGuid;
    std::vector<CSelectionOption> m_options;
};

}  // namespace kel
