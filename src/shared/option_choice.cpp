#include "shared/option_choice.h"

#include <optional>

namespace kel {

namespace {

enum class Mark : char { Other, Chosen, Default, Unselected };

// What an item's Selected says: 1 chosen, 2 (hidden) or 4 a default.
Mark MarkOf(const xml::Element& item, const xml::NameId& selected, WString& spare) {
    const std::optional<WStringView> text = item.ChildText(selected, spare);
    if (!text) return Mark::Unselected;
    return *text == u"1" ? Mark::Chosen : *text == u"2" || *text == u"4" ? Mark::Default : Mark::Other;
}

// Defaults stand unless an explicit choice in a single-choice group leaves them out.
bool DefaultsCount(const xml::Element& group, bool explicitChoice, WString& spare) {
    return !explicitChoice || IsMultiChoiceCode(group.ChildText(u"Code", spare).value_or(WStringView()));
}

}  // namespace

bool IsMultiChoiceCode(WStringView code) {
    return code == u"0,1" || code == u"0,1,f" || code == u"0,n" || code == u"0,n,f";
}

bool IsChosenItem(const xml::Element& item) {
    WString spare;
    const xml::NameId selected = item.Lookup(u"Selected");
    const Mark mark = MarkOf(item, selected, spare);
    if (mark != Mark::Default) return mark == Mark::Chosen;
    const xml::Element group = item.Parent();
    bool explicitChoice = false;
    for (const xml::Element& other : group.Children(u"GroupItem")) {
        explicitChoice = explicitChoice || MarkOf(other, selected, spare) == Mark::Chosen;
    }
    return DefaultsCount(group, explicitChoice, spare);
}

void ChosenItems(const xml::Element& group, std::size_t& beforeUnselected, std::vector<xml::Element>& chosen) {
    // One walk takes every chosen item and default, which is the answer
    // unless an explicit choice leaves the defaults out: then they are
    // dropped from what it took. Groups are walked by the ten thousand.
    chosen.clear();
    bool anyDefault = false;
    std::size_t explicitChoices = 0;
    std::size_t explicitBeforeUnselected = WString::npos;
    beforeUnselected = WString::npos;
    WString spare;
    const xml::NameId selected = group.Lookup(u"Selected");
    for (const xml::Element& item : group.Children(u"GroupItem")) {
        const Mark mark = MarkOf(item, selected, spare);
        if (mark == Mark::Unselected && beforeUnselected == WString::npos) {
            beforeUnselected = chosen.size();
            explicitBeforeUnselected = explicitChoices;
        }
        if (mark != Mark::Chosen && mark != Mark::Default) continue;
        explicitChoices += mark == Mark::Chosen;
        anyDefault = anyDefault || mark == Mark::Default;
        chosen.push_back(item);
    }
    if (!anyDefault || DefaultsCount(group, explicitChoices > 0, spare)) return;
    std::erase_if(chosen, [&](const xml::Element& item) { return MarkOf(item, selected, spare) != Mark::Chosen; });
    beforeUnselected = explicitBeforeUnselected;
}

}  // namespace kel
