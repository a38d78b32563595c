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

}  // namespace kelsys
