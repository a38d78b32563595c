#include <algorithm>
#include <span>
#include <utility>

#include "config/configuration_files.h"
#include "options/relkey_parser.h"
#include "options/selection_group.h"
#include "shared/option_choice.h"
#include "platform/os.h"
#include "shared/key_info.h"

namespace kel {

namespace {

// The search compares as the user's locale does; which options end up
// chosen is still decided by exact comparison when the string is built.
const CRelkeyOption* FindOption(const CRelkeyGroup& group, WStringView description) {
    for (const CRelkeyOption& option : group.Options()) {
        if (os::LocaleEquals(option.LineSelectionDescriptionView(), description)) return &option;
    }
    return nullptr;
}

bool HasColon(const std::deque<WStringView>& selections) {
    return !selections.empty() && selections.front().find(u':') != WStringView::npos;
}

}  // namespace

std::size_t CConfigurationFiles::WorkNodeOf(CRelkeyParser& parser, WStringView label, std::size_t place) {
    // A text file's groups are told apart by the first place with their
    // label, which needs no look-up by text for a group the parser handed
    // out; labels no group has, and an XML file's, by the text.
    const std::size_t first =
        place != CRelkeyParser::npos ? parser.FirstWithLabel(place) : parser.FirstWithLabel(label);
    if (first != CRelkeyParser::npos) {
        if (first >= m_nodeAtPlace.size()) m_nodeAtPlace.resize(std::max(2 * m_nodeAtPlace.size(), first + 1), 0);
        std::uint32_t& node = m_nodeAtPlace[first];
        if (node == 0) {
            // Found again by its place, which needs no copy of the label.
            m_workList.push_back({WString(), first});
            node = static_cast<std::uint32_t>(m_workList.size());
        }
        return node - 1;
    }
    if (const std::size_t found = m_workIndex.Find(label); found != TextIndex::npos) return found;
    m_workList.push_back({WString(label), CRelkeyParser::npos});
    return m_workIndex.Add(m_workList.back().label, m_workList.size() - 1);
}

std::pair<WStringView, WStringView> CConfigurationFiles::TakeHiddenMark(WStringView selection) {
    // A leading ";" marks a selection that is written hidden; every ";" goes
    // from the text it is matched by.
    if (selection.empty() || selection[0] != u';') return {selection, selection};
    WString plain(selection);
    std::erase(plain, u';');
    const WString& matched = m_workTexts.emplace_back(std::move(plain));
    return {matched, m_workTexts.emplace_back(u";" + matched)};
}

void CConfigurationFiles::ClearWorkList() {
    m_workList.clear();
    m_workSelections.clear();
    m_workTexts.clear();
    m_workIndex.Clear();
    m_nodeAtPlace.clear();
}

int CConfigurationFiles::MakeOptionString(WStringView relkeyPath, const CKeyInfo& key,
                                          std::deque<WStringView>& selections, WString& optionString) {
    ClearWorkList();
    CRelkeyCache own;
    int loaded = 0;  // a file that does not load has no first group
    CRelkeyParser& parser = (m_relkeys ? *m_relkeys : own).Parser(relkeyPath, key.GetDriveModuleNr(), loaded);
    // Two spares: the group read next must not overwrite the current one.
    CRelkeyGroup spare[2];
    std::size_t which = 0;
    std::size_t place = CRelkeyParser::npos;
    const CRelkeyGroup* current = parser.FirstGroup(spare[which], &place);
    if (!current) {
        TraceError(u"CConfigurationFiles::MakeOptionString, Unable to get first group from RelkeyParser\n");
        return -1;
    }

    // Selections come in the order of the main groups: the search only moves forward.
    while (!selections.empty()) {
        const auto [text, kept] = TakeHiddenMark(selections.front());
        selections.pop_front();
        const CRelkeyOption* match = nullptr;
        std::size_t node = 0;
        for (;;) {
            const WStringView label = current->LabelView();
            if (label.empty()) {
                TraceError(u"CConfigurationFiles::MakeOptionString, Unable to read label from relkey parser, cannot continue\n");
                ClearWorkList();
                return -1;
            }
            node = WorkNodeOf(parser, label, place);
            match = FindOption(*current, text);
            if (match) break;
            const CRelkeyGroup* next = parser.NextGroup(spare[which ^ 1], &place);
            if (!next) break;
            current = next;
            which ^= 1;
        }
        if (!match) continue;
        m_workSelections.push_back({node, kept});
        const WStringView subLabel = match->RefSubLabelView();
        if (subLabel.empty()) continue;
        CRelkeyGroup subScratch;
        std::size_t subPlace = CRelkeyParser::npos;
        const CRelkeyGroup* subGroup = parser.FindGroup(u"SubTitle", subLabel, subScratch, &subPlace);
        WorkNodeOf(parser, subGroup ? subGroup->LabelView() : WStringView(), subPlace);
        while (HasColon(selections)) {
            if (AddSubGroups(parser, selections) != 0) {
                TraceError(u"CConfigurationFiles::MakeOptionString, Unable to add subgroups to worklist\n");
                ClearWorkList();
                return -1;
            }
        }
    }

    // Each node's selections together, in the order they were taken.
    std::stable_sort(m_workSelections.begin(), m_workSelections.end(),
                     [](const WorkSelection& a, const WorkSelection& b) { return a.node < b.node; });
    auto nodeSelections = m_workSelections.begin();
    WString built;
    CRelkeyGroup scratch;
    for (std::size_t index = 0; index < m_workList.size(); ++index) {
        const WorkNode& node = m_workList[index];
        const auto selectionsBegin = nodeSelections;
        while (nodeSelections != m_workSelections.end() && nodeSelections->node == index) ++nodeSelections;
        const std::span<const WorkSelection> selected(selectionsBegin, nodeSelections);
        const CRelkeyGroup* group = node.place != CRelkeyParser::npos ? &parser.GroupAt(node.place)
                                                                      : parser.FindGroup(u"Label", node.label, scratch);
        if (!group) {
            TraceError(u"CConfigurationFiles::MakeOptionString, Unable to get group from RelkeyParser\n");
            ClearWorkList();
            return -1;
        }
        const bool multi = IsMultiChoiceCode(group->CodeView());
        for (const CRelkeyOption& option : group->Options()) {
            const WStringView description = option.LineSelectionDescriptionView();
            char16_t state = u'0';
            WString plain;
            for (const WorkSelection& selection : selected) {
                const bool hidden = selection.text.find(u';') != WStringView::npos;
                if (hidden) {
                    plain = selection.text;
                    std::erase(plain, u';');
                }
                if (SameText(hidden ? WStringView(plain) : selection.text, description)) {
                    state = hidden ? u'2' : u'1';
                    break;
                }
            }
            built.push_back(state);
            // A single-choice group ends at its choice.
            if (state != u'0' && !multi) break;
        }
    }
    ClearWorkList();
    optionString = std::move(built);
    return 0;
}

int CConfigurationFiles::AddSubGroups(CRelkeyParser& parser, std::deque<WStringView>& selections) {
    if (!HasColon(selections)) {
        if (!selections.empty()) selections.pop_front();
        return 0;
    }
    // Once a selection opens a further sub group, every following "SubTitle:"
    // text belongs to this run; a loop instead of recursion keeps long runs off the stack.
    if (AddSubGroupSelection(parser, selections)) {
        while (HasColon(selections)) AddSubGroupSelection(parser, selections);
    }
    return 0;
}

bool CConfigurationFiles::AddSubGroupSelection(CRelkeyParser& parser, std::deque<WStringView>& selections) {
    const WStringView text = selections.front();
    selections.pop_front();
    const std::size_t colon = text.find(u':');
    const WStringView subTitle = text.substr(0, colon);
    const auto [description, kept] = TakeHiddenMark(text.substr(colon + 1));

    CRelkeyGroup scratch;
    std::size_t place = CRelkeyParser::npos;
    const CRelkeyGroup* group = parser.FindGroup(u"SubTitle", subTitle, scratch, &place);
    const CRelkeyOption* option = group ? FindOption(*group, description) : nullptr;
    m_workSelections.push_back({WorkNodeOf(parser, group ? group->LabelView() : WStringView(), place), kept});
    if (!option || option->RefSubLabelView().empty()) return false;
    CRelkeyGroup subScratch;
    const CRelkeyGroup* subGroup = parser.FindGroup(u"SubTitle", option->RefSubLabelView(), subScratch, &place);
    WorkNodeOf(parser, subGroup ? subGroup->LabelView() : WStringView(), place);
    return true;
}

}  // namespace kel
