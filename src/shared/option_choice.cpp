#include "shared/option_choice.h"

namespace kel {

namespace {

enum class Mark : char { Other, Chosen, Default, Unselected };

// What an item's Selected says: 1 chosen, 2 (hidden) or 4 a default.
Mark MarkOf(const xml::Element& item, WString& spare) {
    const xml::Element selected = item.FirstChild(u"Selected");
    if (!selected) return Mark::Unselected;
    const WStringView text = selected.TextView(spare);
    return text == u"1" ? Mark::Chosen : text == u"2" || text == u"4" ? Mark::Default : Mark::Other;
}

// Defaults stand unless an explicit choice in a single-choice group leaves them out.
bool DefaultsCount(const xml::Element& group, bool explicitChoice) {
    return !explicitChoice || IsMultiChoiceCode(group.FirstChild(u"Code").Text());
}

}  // namespace

bool IsMultiChoiceCode(WStringView code) {
    return code == u"0,1" || code == u"0,1,f" || code == u"0,n" || code == u"0,n,f";
}

bool IsChosenItem(const xml::Element& item) {
    WString spare;
    const Mark mark = MarkOf(item, spare);
    if (mark != Mark::Default) return mark == Mark::Chosen;
    const xml::Element group = item.Parent();
    bool explicitChoice = false;
    for (const xml::Element& other : group.Children(u"GroupItem")) {
        explicitChoice = explicitChoice || MarkOf(other, spare) == Mark::Chosen;
    }
    return DefaultsCount(group, explicitChoice);
}

std::vector<xml::Element> ChosenItems(const xml::Element& group, std::size_t& beforeUnselected) {
    beforeUnselected = WString::npos;
    const std::vector<xml::Element> items = group.Children(u"GroupItem").List();
    std::vector<Mark> marks;
    marks.reserve(items.size());
    bool explicitChoice = false;
    WString spare;
    for (const xml::Element& item : items) {
        marks.push_back(MarkOf(item, spare));
        explicitChoice = explicitChoice || marks.back() == Mark::Chosen;
    }
    const bool defaultsCount = DefaultsCount(group, explicitChoice);
    std::vector<xml::Element> chosen;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (marks[i] == Mark::Unselected && beforeUnselected == WString::npos) beforeUnselected = chosen.size();
        if (marks[i] == Mark::Chosen || (marks[i] == Mark::Default && defaultsCount)) chosen.push_back(items[i]);
    }
    return chosen;
}

}  // namespace kel
