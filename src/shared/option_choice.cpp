#include "shared/option_choice.h"

namespace kel {

bool IsMultiChoiceCode(WStringView code) {
    return code == u"0,1" || code == u"0,1,f" || code == u"0,n" || code == u"0,n,f";
}

bool IsChosenItem(const xml::Element& item) {
    const WString selected = item.FirstChild(u"Selected").Text();
    if (selected == u"1") return true;
    if (selected != u"2" && selected != u"4") return false;
    const xml::Element group = item.Parent();
    if (IsMultiChoiceCode(group.FirstChild(u"Code").Text())) return true;
    for (const xml::Element& other : group.Children(u"GroupItem")) {
        if (other.FirstChild(u"Selected").Text() == u"1") return false;
    }
    return true;
}

std::vector<xml::Element> ChosenItems(const xml::Element& group, std::size_t& beforeUnselected) {
    beforeUnselected = WString::npos;
    enum : char { kOther, kChosen, kDefault, kUnselected };
    const std::vector<xml::Element> items = group.Children(u"GroupItem");
    std::vector<char> kinds(items.size(), kOther);
    bool explicitChoice = false;
    WString spare;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const xml::Element selected = items[i].FirstChild(u"Selected");
        const WStringView text = selected ? selected.TextView(spare) : WStringView();
        kinds[i] = !selected ? kUnselected : text == u"1" ? kChosen : text == u"2" || text == u"4" ? kDefault : kOther;
        explicitChoice = explicitChoice || kinds[i] == kChosen;
    }
    const bool defaultsCount = !explicitChoice || IsMultiChoiceCode(group.FirstChild(u"Code").Text());
    std::vector<xml::Element> chosen;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (kinds[i] == kUnselected && beforeUnselected == WString::npos) beforeUnselected = chosen.size();
        if (kinds[i] == kChosen || (kinds[i] == kDefault && defaultsCount)) chosen.push_back(items[i]);
    }
    return chosen;
}

}  // namespace kel
