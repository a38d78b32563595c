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

}  // namespace kel
