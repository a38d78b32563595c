// What counts as chosen in an option selection document, for every reader of it.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/text.h"
#include "platform/xml.h"

namespace kel {

// Groups whose code lets several options be chosen; every other code is single-choice.
bool IsMultiChoiceCode(WStringView code);

// A GroupItem chosen (Selected 1), chosen and hidden (2), or its group's
// default (4); in a single-choice group an explicit choice leaves the default
// and the hidden choice out, so that key.id and system.xml agree.
bool IsChosenItem(const xml::Element& item);

// The GroupItems of group that IsChosenItem takes, in order, in one pass over
// them, put in chosen (emptied first); beforeUnselected: how many of them come
// before the first GroupItem without a Selected element, or npos when every
// one has it.
void ChosenItems(const xml::Element& group, std::size_t& beforeUnselected, std::vector<xml::Element>& chosen);

}  // namespace kel
