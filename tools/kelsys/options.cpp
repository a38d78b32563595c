#include "options.h"

#include <algorithm>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "pick.h"
#include "platform/os.h"
#include "platform/xml.h"
#include "shared/option_choice.h"

namespace kelsys {

namespace {

using kel::xml::Element;
using Json = nlohmann::ordered_json;

WString TextOf(const Element& element, WStringView child) { return element.FirstChild(child).Text(); }

struct Group;

struct Option {
    Element item;
    Group* group = nullptr;
    Group* opens = nullptr;

    WString Selected() const { return TextOf(item, u"Selected"); }
    bool Hidden() const { return Selected() == u"2" || TextOf(item, u"LineSelectionDescription").starts_with(u';'); }
    // The hidden mark is not part of the name people see.
    WString Name() const {
        const WString text = TextOf(item, u"LineSelectionDescription");
        return text.starts_with(u';') ? text.substr(1) : text;
    }
};

struct Group {
    WString title, category, code;
    Option* opener = nullptr;
    std::vector<Option> options;
    bool Single() const { return !kel::IsMultiChoiceCode(code); }
};

bool IsChosen(const Option& option);
bool IsOpen(const Group& group) { return !group.opener || IsChosen(*group.opener); }
// As the component counts it: a default that gave way, or a choice under an
// option that is not chosen, is not.
bool IsChosen(const Option& option) { return kel::IsChosenItem(option.item) && IsOpen(*option.group); }

struct Program {
    WString name;
    std::string kind;  // main, additional, drive
    std::vector<Group*> main;
    std::vector<std::unique_ptr<Group>> groups;  // depth first, as a selection text reads them

    Program(const Element& entry, bool isMain) : name(TextOf(entry, u"ProgramNr")) {
        kind = isMain ? "main" : name.starts_with(u"DriveModule") ? "drive" : "additional";
        for (const Element& group : entry.FirstChild(u"SubGroups").Children(u"Group")) {
            subs_.try_emplace(TextOf(group, u"SubGUID"), group);
        }
        for (const Element& group : entry.FirstChild(u"MainGroups").Children(u"Group")) main.push_back(Add(group, nullptr));
    }

private:
    Group* Add(const Element& element, Option* opener) {
        auto owned = std::make_unique<Group>();
        Group* group = owned.get();
        groups.push_back(std::move(owned));
        group->title = TextOf(element, u"Title");
        if (group->title.empty()) group->title = TextOf(element, u"SubTitle");
        group->category = TextOf(element, u"Category");
        group->code = TextOf(element, u"Code");
        group->opener = opener;
        for (const Element& item : element.Children(u"GroupItem")) group->options.push_back({item, group, nullptr});
        for (Option& option : group->options) {
            // Each sub group under one opener only, so a group that opens itself ends the walk.
            const auto sub = subs_.find(TextOf(option.item, u"RefSubGUID"));
            if (sub != subs_.end() && reached_.insert(sub->first).second) option.opens = Add(sub->second, &option);
        }
        return group;
    }

    std::map<WString, Element> subs_;
    std::set<WString> reached_;
};

// The first ZD and the last EXT of a name count, as for the component.
std::vector<std::unique_ptr<Program>> Programs(const Element& root) {
    std::vector<std::unique_ptr<Program>> programs;
    if (const Element main = root.FirstChild(u"ZD")) programs.push_back(std::make_unique<Program>(main, true));
    for (const Element& entry : root.Children(u"EXT")) {
        auto program = std::make_unique<Program>(entry, false);
        const auto same = std::find_if(programs.begin(), programs.end(),
                                       [&](const auto& p) { return p->kind != "main" && p->name == program->name; });
        if (same != programs.end()) {
            *same = std::move(program);
        } else {
            programs.push_back(std::move(program));
        }
    }
    return programs;
}

void Print(std::ostream& out, const Group& group, std::size_t depth) {
    const std::string indent(depth, ' ');
    out << indent << Utf8(group.title) << " (" << (group.category.empty() ? "" : Utf8(group.category) + "; ")
        << (group.Single() ? "one choice" : "several") << ")\n";
    for (const Option& option : group.options) {
        out << indent << "  " << (IsChosen(option) ? "[x] " : "[ ] ") << Utf8(option.Name())
            << (option.Selected() == u"4" ? " (default)" : "") << (option.Hidden() ? " (hidden)" : "") << "\n";
        if (option.opens) Print(out, *option.opens, depth + 4);
    }
}

Json ToJson(const Group& group) {
    Json options = Json::array();
    for (const Option& option : group.options) {
        Json groups = Json::array();
        if (option.opens) groups.push_back(ToJson(*option.opens));
        options.push_back({{"text", Utf8(option.Name())},
                           {"chosen", IsChosen(option)},
                           {"default", option.Selected() == u"4"},
                           {"hidden", option.Hidden()},
                           {"groups", std::move(groups)}});
    }
    return {{"title", Utf8(group.title)},
            {"category", Utf8(group.category)},
            {"choice", group.Single() ? "one" : "several"},
            {"options", std::move(options)}};
}

int Show(const std::vector<std::unique_ptr<Program>>& programs, bool json) {
    if (json) {
        Json out = Json::array();
        for (const auto& program : programs) {
            Json groups = Json::array();
            for (const Group* group : program->main) groups.push_back(ToJson(*group));
            out.push_back({{"program", Utf8(program->name)}, {"kind", program->kind}, {"groups", std::move(groups)}});
        }
        std::cout << out.dump(2) << "\n";
        return kOk;
    }
    for (const auto& program : programs) {
        std::cout << Utf8(program->name) << " (" << (program->kind == "main" ? "main program" : program->kind == "drive" ? "drive module" : "additional option")
                  << ")\n";
        if (program->main.empty()) std::cout << "  no options\n";
        for (const Group* group : program->main) Print(std::cout, *group, 2);
    }
    return kOk;
}

bool SetSelected(Option& option, WStringView state) {
    if (option.Selected() == state) return false;
    return option.item.FirstChild(u"Selected").SetText(state);
}

// The component refuses explicit choices below an option that is not chosen.
void DropChoicesBelow(const Option& option, bool& changed) {
    if (!option.opens) return;
    for (Option& below : option.opens->options) {
        if (below.Selected() == u"1") changed |= SetSelected(below, u"0");
        DropChoicesBelow(below, changed);
    }
}

void Unchoose(Option& option, bool& changed) {
    changed |= SetSelected(option, u"0");
    DropChoicesBelow(option, changed);
}

// One group and option pair on the document: 0, or the exit code of a refusal.
int Apply(Program& program, const std::string& groupName, const std::string& optionName, bool choose, bool& changed) {
    std::vector<Group*> groups;
    for (const auto& group : program.groups) groups.push_back(group.get());
    Group* group = Pick<Group>(groups, groupName, "group", Utf8(program.name), [](const Group& g) { return g.title; });
    if (!group) return kUsage;
    std::vector<Option*> options;
    for (Option& option : group->options) options.push_back(&option);
    Option* option = Pick<Option>(options, optionName, "option", "group " + Utf8(group->title), [](const Option& o) { return o.Name(); });
    if (!option) return kUsage;
    const std::string named = "\"" + Utf8(option->Name()) + "\" of " + Utf8(group->title);
    if (IsChosen(*option) == choose) return kOk;
    if (choose) {
        if (!IsOpen(*group)) {
            std::cerr << "kelsys: cannot choose " << named << ": choose \"" << Utf8(group->opener->Name()) << "\" of "
                      << Utf8(group->opener->group->title) << " first\n";
            return kRefused;
        }
        if (group->Single()) {
            for (Option& other : group->options) {
                if (&other != option) Unchoose(other, changed);
            }
        }
        changed |= SetSelected(*option, u"1");
        return kOk;
    }
    const auto chosen = std::count_if(group->options.begin(), group->options.end(), [](const Option& o) { return IsChosen(o); });
    if (group->Single() && chosen == 1) {
        std::cerr << "kelsys: cannot unchoose " << named << ": the group takes one choice; choose another option instead\n";
        return kRefused;
    }
    Unchoose(*option, changed);
    return kOk;
}

int Select(Component& system, kel::xml::Document& document, const OptionArguments& args) {
    if (args.names.size() % 2 != 0) {
        std::cerr << "kelsys: give groups and options in pairs: GROUP OPTION [GROUP OPTION...]\n";
        return kUsage;
    }
    const auto programs = Programs(document.Root());
    std::vector<Program*> candidates;
    for (const auto& program : programs) candidates.push_back(program.get());
    Program* program = args.program.empty() ? (candidates.empty() || candidates.front()->kind != "main" ? nullptr : candidates.front())
                                            : Pick<Program>(candidates, args.program, "program", "the system", [](const Program& p) { return p.name; });
    if (!program) return args.program.empty() ? Component::Report("the option document has no main program", E_FAIL) : kUsage;

    std::vector<std::pair<const Option*, bool>> before;
    for (const auto& group : program->groups) {
        for (const Option& option : group->options) before.emplace_back(&option, IsChosen(option));
    }
    bool changed = false;
    const bool choose = args.action == OptionArguments::Action::Select;
    for (std::size_t i = 0; i < args.names.size(); i += 2) {
        if (const int code = Apply(*program, args.names[i], args.names[i + 1], choose, changed)) return code;
    }
    for (const auto& [option, was] : before) {
        if (IsChosen(*option) != was) std::cout << (was ? "- " : "+ ") << Utf8(option->group->title) << ": " << Utf8(option->Name()) << "\n";
    }
    if (!changed) {
        std::cout << "nothing to change\n";
        return kOk;
    }
    if (args.dryRun) {
        std::cout << "dry run: nothing written\n";
        return kOk;
    }
    const std::optional<WString> text = document.Serialize(false);
    if (!text) return Component::Report("cannot write the option document", E_FAIL);
    return Component::Report("cannot store the options", system->SetSystemOptions(B(*text).get()));
}

// Widened straight into the string the call takes: at 10,000 groups a copy
// between would be 14 MB more to fill.
kel::UniqueBstr ReadInput(const std::string& file) {
    std::string bytes;
    if (file == "-") {
        bytes.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        kel::os::ReadWholeFile(ComponentPath(file), bytes);
    }
    if (bytes.size() > 0x3FFFFFF0u) return {};
    kel::UniqueBstr text(SysAllocStringLen(nullptr, static_cast<UINT>(bytes.size())));
    if (!text.get()) return text;
    const std::size_t length = kel::FromUtf8(bytes, reinterpret_cast<char16_t*>(text.get()));
    return length == bytes.size() ? std::move(text) : B(text.View().substr(0, length));
}

}  // namespace

std::vector<ChosenOption> ChosenOptions(WStringView text, std::vector<WString>& programs) {
    std::vector<ChosenOption> chosen;
    kel::xml::Document document = kel::xml::Document::Create();
    if (!document.Parse(text)) return chosen;
    for (const auto& program : Programs(document.Root())) {
        programs.push_back(program->name);
        for (const auto& group : program->groups) {
            for (const Option& option : group->options) {
                if (IsChosen(option)) chosen.push_back({program->name, group->title, option.Name()});
            }
        }
    }
    return chosen;
}

int Options(Component& system, const OptionArguments& args) {
    if (!args.set.empty()) {
        // Read before the call: a Ctrl-C while the input is awaited ends the tool at once.
        const kel::UniqueBstr document = ReadInput(args.set);
        return Component::Report("cannot store the options", system->SetSystemOptions(document.get()));
    }
    kel::UniqueBstr text;
    const int code = Component::Report("cannot read the options", system->GetSystemOptions(text.Put()));
    if (code != kOk) return code;
    if (args.xml) {
        std::cout << Utf8(text.View());
        return kOk;
    }
    kel::xml::Document document = kel::xml::Document::Create();
    if (!document.Parse(text.View())) return Component::Report("the option document is not readable", E_FAIL);
    if (args.action != OptionArguments::Action::Show) return Select(system, document, args);
    return Show(Programs(document.Root()), args.json);
}

}  // namespace kelsys
