// kelsys options: a system's option selection as a tree people read, and
// choices made by group and option title.
#pragma once

#include <string>
#include <vector>

#include "component.h"

namespace kelsys {

struct OptionArguments {
    enum class Action { Show, Select, Unselect };
    Action action = Action::Show;
    bool json = false, xml = false, dryRun = false;
    std::string set;                 // a file holding a new document, "-" for standard input
    std::string program;             // empty: the main program
    std::vector<std::string> names;  // group, option, group, option…
};

int Options(Component& system, const OptionArguments& args);

struct ChosenOption {
    WString program, group, option;
    auto operator<=>(const ChosenOption&) const = default;
};
// What an option selection document chooses, as the option tree shows it,
// and the names of its programs.
std::vector<ChosenOption> ChosenOptions(WStringView document, std::vector<WString>& programs);

}  // namespace kelsys
