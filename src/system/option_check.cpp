// Whether a caller's option selection fits the system. The writers trust the
// document they are given, so a selection they would write wrongly, or not at
// all, is refused before anything is written.
#include <algorithm>
#include <array>
#include <map>
#include <vector>

#include "options/selection_group.h"
#include "shared/option_choice.h"
#include "system/system.h"

namespace kel {

namespace {

WString TextOf(const xml::Element& element, WStringView child) { return element.FirstChild(child).Text(); }

// The hidden mark is the component's own addition, not part of the option.
WStringView WithoutHiddenMark(WStringView text) {
    if (!text.empty() && text.front() == u';') text.remove_prefix(1);
    return text;
}
WString ItemName(const xml::Element& item) {
    return WString(WithoutHiddenMark(TextOf(item, u"LineSelectionDescription")));
}

bool IsChosen(WStringView selected) { return selected == u"1" || selected == u"2" || selected == u"4"; }

// The names a group's check reads, looked up once per document: a large
// selection has tens of thousands of groups.
struct CheckedNames {
    explicit CheckedNames(const xml::Element& document)
        : head{document.Lookup(u"Title"), document.Lookup(u"SubTitle"), document.Lookup(u"Code")},
          item(document.Lookup(u"GroupItem")),
          itemTexts{document.Lookup(u"LineSelectionDescription"), document.Lookup(u"Selected")},
          subGuid(document.Lookup(u"RefSubGUID")) {}
    std::array<xml::NameId, 3> head;
    xml::NameId item;
    std::array<xml::NameId, 2> itemTexts;  // the description, then the selection state
    xml::NameId subGuid;
};

WStringView TextOf(const xml::Element& element, const xml::NameId& child, WString& spare) {
    return element.ChildText(child, spare).value_or(WStringView());
}

// The entry the writers read for a program: its first ZD, its last EXT.
xml::Element EntryOf(const xml::Element& root, WStringView kind, WStringView program) {
    xml::Element found;
    for (const xml::Element& entry : root.Children(kind)) {
        if (TextOf(entry, u"ProgramNr") != program) continue;
        found = entry;
        if (kind == u"ZD") break;
    }
    return found;
}

// One program's entry against the built one. Groups are matched by their
// place, sub groups through the items that open them: the GUIDs are made
// anew by every build, so a document read before the last change has others.
class ProgramCheck {
public:
    ProgramCheck(WStringView program, const xml::Element& given, const xml::Element& built)
        : program_(program), givenNames_(given), builtNames_(built) {
        for (const xml::Element& group : given.FirstChild(u"SubGroups").Children(u"Group")) {
            givenIndex_.try_emplace(TextOf(group, u"SubGUID"), givenSubs_.size());  // the first of a GUID counts
            givenSubs_.push_back({group, false});
        }
        for (const xml::Element& group : built.FirstChild(u"SubGroups").Children(u"Group")) {
            builtSubs_.try_emplace(TextOf(group, u"SubGUID"), group);
        }
        given_ = given.FirstChild(u"MainGroups").Children(u"Group");
        built_ = built.FirstChild(u"MainGroups").Children(u"Group");
    }

    // The first misfit, or empty.
    WString Run() {
        // In step, without lists: a large system has tens of thousands of groups.
        for (auto given = given_.begin(), built = built_.begin(); given != given_.end() || built != built_.end();
             ++given, ++built) {
            if (built == built_.end()) return Unknown(*given);
            if (given == given_.end()) return Missing(*built);
            const WString misfit = Group(*given, *built, true);
            if (!misfit.empty()) return misfit;
        }
        for (const SubGroup& sub : givenSubs_) {
            if (!sub.reached) return Unknown(sub.group);
        }
        return {};
    }

private:
    struct SubGroup {
        xml::Element group;
        bool reached;
    };

    WString Unknown(const xml::Element& group) const {
        return Format(u"Group %s of %s is unknown", TextOf(group, u"Title"), program_);
    }
    WString Missing(const xml::Element& group) const {
        return Format(u"Group %s of %s is missing", TextOf(group, u"Title"), program_);
    }

    // open: every option on the way to this group is chosen.
    WString Group(const xml::Element& given, const xml::Element& built, bool open) {
        std::array<WString, 3> givenSpares;
        std::array<WString, 3> builtSpares;
        const std::array<WStringView, 3> builtHead = built.ChildTexts(builtNames_.head, builtSpares);
        if (given.ChildTexts(givenNames_.head, givenSpares) != builtHead) return Unknown(given);
        const WStringView title = builtHead[0];
        WString spare1;
        WString spare2;
        // Items are matched by place, in step, without lists.
        const xml::ChildElements givenItems = given.Children(givenNames_.item);
        const xml::ChildElements builtItems = built.Children(builtNames_.item);
        WString choices;
        int chosen = 0;
        bool anyChosen = false;
        auto givenItem = givenItems.begin();
        for (auto builtItem = builtItems.begin(); givenItem != givenItems.end() || builtItem != builtItems.end();
             ++givenItem, ++builtItem) {
            if (givenItem == givenItems.end()) {
                return Format(u"Group %s of %s misses item %s", title, program_, ItemName(*builtItem));
            }
            std::array<WString, 2> itemSpares;
            const auto [name, selected] = givenItem->ChildTexts(givenNames_.itemTexts, itemSpares);
            const WStringView item = WithoutHiddenMark(name);
            if (builtItem == builtItems.end() ||
                item != WithoutHiddenMark(TextOf(*builtItem, builtNames_.itemTexts[0], spare2))) {
                return Format(u"Group %s of %s has no item %s", title, program_, item);
            }
            if (selected != u"0" && !IsChosen(selected)) {
                return Format(u"Group %s of %s, item %s: no such selection state %s", title, program_, item, selected);
            }
            anyChosen = anyChosen || IsChosen(selected);
            if (selected != u"1") continue;
            if (!open) return Format(u"Group %s of %s is not open for a choice: %s", title, program_, item);
            if (chosen++) choices += u", ";
            choices += item;
        }
        // Defaults (2 and 4) give way to a choice, so only explicit ones count,
        // and a default that gave way opens nothing.
        const bool single = !IsMultiChoiceCode(builtHead[2]);
        if (chosen > 1 && single) return Format(u"Group %s of %s allows one choice: %s", title, program_, choices);
        // The next build would choose the default again, which the description would then differ from.
        if (!anyChosen && single && open) return Format(u"Group %s of %s needs one choice", title, program_);
        const bool defaultsGiveWay = single && chosen > 0;
        givenItem = givenItems.begin();
        for (auto builtItem = builtItems.begin(); builtItem != builtItems.end(); ++givenItem, ++builtItem) {
            // Built sub groups always have a GUID: an item without one opens none.
            const WStringView builtGuid = TextOf(*builtItem, builtNames_.subGuid, spare1);
            if (builtGuid.empty()) continue;
            const auto builtSub = builtSubs_.find(builtGuid);
            if (builtSub == builtSubs_.end()) continue;
            const auto givenSub = givenIndex_.find(TextOf(*givenItem, givenNames_.subGuid, spare2));
            if (givenSub == givenIndex_.end()) return Missing(builtSub->second);
            SubGroup& sub = givenSubs_[givenSub->second];
            sub.reached = true;
            WString spare3;
            const WStringView selected = TextOf(*givenItem, givenNames_.itemTexts[1], spare3);
            const bool opens = selected == u"1" || (IsChosen(selected) && !defaultsGiveWay);
            const WString misfit = Group(sub.group, builtSub->second, open && opens);
            if (!misfit.empty()) return misfit;
        }
        return {};
    }

    WString program_;
    CheckedNames givenNames_;
    CheckedNames builtNames_;
    xml::ChildElements given_;
    xml::ChildElements built_;
    std::vector<SubGroup> givenSubs_;
    std::map<WString, std::size_t, std::less<>> givenIndex_;
    std::map<WString, xml::Element, std::less<>> builtSubs_;
};

WString FirstMisfit(const xml::Element& given, const xml::Element& built) {
    if (!given || given.Name() != u"OptionSelection") return u"The document is no option selection";
    for (const char16_t* kind : {u"ZD", u"EXT"}) {
        for (const xml::Element& entry : built.Children(kind)) {
            const WString program = TextOf(entry, u"ProgramNr");
            const xml::Element mine = EntryOf(given, kind, program);
            // A program without options may be left out.
            const bool needed = kind == WStringView(u"ZD") || entry.FirstChild(u"MainGroups").FirstChild(u"Group");
            if (!mine && needed) return Format(u"Options of %s are missing", program);
            const WString misfit = mine ? ProgramCheck(program, mine, entry).Run() : WString();
            if (!misfit.empty()) return misfit;
        }
        for (const xml::Element& entry : given.Children(kind)) {
            const WString program = TextOf(entry, u"ProgramNr");
            if (!EntryOf(built, kind, program)) return Format(u"Program %s is not loaded", program);
        }
    }
    return {};
}

}  // namespace

HRESULT CSystem::CheckOptionSelection(const xml::Element& selection) {
    const WString misfit = FirstMisfit(selection, BuiltOptions());
    if (misfit.empty()) return S_OK;
    TraceFormatted(u"CSystem::AddKeystring, %s\n", misfit);
    return E_INVALIDARG;
}

}  // namespace kel
