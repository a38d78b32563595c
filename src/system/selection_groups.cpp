// The system object's conversions between relkey groups and selection groups.
#include <algorithm>
#include <utility>
#include <vector>

#include "options/relkey_group.h"
#include "options/relkey_parser.h"
#include "options/selection_group.h"
#include "shared/option_choice.h"
#include "shared/guid.h"
#include "system/system.h"

namespace kel {

int CSystem::ConfigGroup(WStringView& selection, int consume, const CRelkeyGroup& relkeyGroup,
                         CSelectionGroup& selectionGroup) {
    WString digits;
    if (consume == 1) {
        std::size_t count = static_cast<std::size_t>(relkeyGroup.GetOptionCount());
        std::size_t taken = std::min(count, selection.size());
        if (!IsMultiChoiceCode(relkeyGroup.CodeView())) {
            // A single-choice group's digits end at its choice.
            taken = 0;
            while (count > 0 && taken < selection.size()) {
                --count;
                const char16_t digit = selection[taken++];
                if (digit == u'1' || digit == u'2') break;
            }
        }
        digits = selection.substr(0, taken);
        selection.remove_prefix(taken);
    }
    if (RelkeyGroupToSelectionGroup(std::move(digits), relkeyGroup, selectionGroup) != 1) {
        TraceMessage(u"CSystem::ConfigGroup, Unable to configure relkeygroup\n");
        return -1;
    }
    return 0;
}

int CSystem::RelkeyGroupToSelectionGroup(WString digits, const CRelkeyGroup& relkeyGroup, CSelectionGroup& group) {
    const std::vector<CRelkeyOption>& options = relkeyGroup.Options();
    group.Reset(relkeyGroup);
    if (digits.size() < options.size()) digits.resize(options.size(), u'0');
    // A single-choice group without a choice defaults to its first option.
    if (!digits.empty() && digits.find_first_of(u"12") == WString::npos && !IsMultiChoiceCode(relkeyGroup.CodeView())) {
        digits[0] = u'4';
    }
    CGUID guid;
    for (std::size_t i = 0; i < options.size(); ++i) {
        const char16_t digit = digits[i];
        // Each conversion makes a new sub group instance.
        WString instance;
        if (!options[i].RefSubLabelView().empty() && !guid.GenerateGUID(CGUID::kRegistryFormat, instance)) {
            TraceMessage(u"CSystem::RelkeyGroupToSelectionGroup, Failure getting selected options from RelkeyGroup\n");
            return -1;
        }
        group.AddOption(digit >= u'0' && digit <= u'9' ? digit - u'0' : 0, std::move(instance));
    }
    return 1;
}

int CSystem::MakeDefaultSelection(const CRelkeyGroup& relkeyGroup, CRelkeyParser& parser, WString& selection) {
    std::vector<WString> openSubGroups;
    return MakeDefaultSelection(relkeyGroup, parser, selection, openSubGroups);
}

int CSystem::MakeDefaultSelection(const CRelkeyGroup& relkeyGroup, CRelkeyParser& parser, WString& selection,
                                  std::vector<WString>& openSubGroups) {
    const WString code = relkeyGroup.GetCode();
    if (code == u"1,1" || code == u"1,1,f") {
        selection += u'1';
        CRelkeyOption first;
        if (relkeyGroup.GetOption(0, first) != 0) {
            TraceFormatted(u"CSystem::MakeDefaultSelection: Unable to retrieve option in group %s\n", relkeyGroup.GetTitle());
            return 0;
        }
        const WString subLabel = first.GetRefSubLabel();
        if (!subLabel.empty()) {
            CRelkeyGroup subGroup;
            if (parser.GetGroupBySubTitle(subLabel, subGroup) != 0) {
                TraceFormatted(u"CSystem::MakeDefaultSelection: Unable to retrieve group with sublabel %s\n", subLabel);
                return 0;
            }
            // A sub group that opens itself again would never end.
            const bool cycle = std::find(openSubGroups.begin(), openSubGroups.end(), subLabel) != openSubGroups.end();
            openSubGroups.push_back(subLabel);
            if (cycle || MakeDefaultSelection(subGroup, parser, selection, openSubGroups) != 1) {
                TraceFormatted(u"CSystem::MakeDefaultSelection: Cannot make default selections on subgroup %s",
                               subGroup.GetTitle());
                return 0;
            }
            openSubGroups.pop_back();
        }
    } else if (IsMultiChoiceCode(code)) {
        selection.append(static_cast<std::size_t>(relkeyGroup.GetOptionCount()), u'0');
    }
    return 1;
}

}  // namespace kel
