#include "release_options.h"

#include <algorithm>
#include <deque>
#include <iostream>
#include <memory>
#include <set>

#include "config/configuration_files.h"
#include "options/relkey_file.h"
#include "options/relkey_parser.h"
#include "pick.h"
#include "shared/key_info.h"
#include "shared/option_choice.h"

namespace kelsys {

namespace {

struct Group;

struct Option {
    WString text;
    Group* group = nullptr;
    Group* opens = nullptr;
};

struct Group {
    WString title, subTitle, category;
    bool single = true;
    Option* opener = nullptr;
    std::vector<Option> options;
};

// A file's groups as the component reads them: main groups in file order,
// each sub group under the option that opens it.
class Tree {
public:
    // The exit code of a file that cannot be read; a file without groups has no options.
    int Load(WStringView path) {
        if (parser_.Load(path, 0) != 0) {
            kel::CRelkeyGroup first;
            if (kel::CRelkeyFile().GetFirstGroup(path, first) == -1) return kOk;
            std::cerr << "kelsys: cannot read the option definition file " << Utf8(path) << "\n";
            return kRefused;
        }
        kel::CRelkeyGroup scratch;
        for (const kel::CRelkeyGroup* group = parser_.FirstGroup(scratch); group; group = parser_.NextGroup(scratch)) {
            main.push_back(Add(*group, nullptr));
        }
        return kOk;
    }

    std::vector<Group*> main;
    std::vector<std::unique_ptr<Group>> groups;  // depth first

private:
    Group* Add(const kel::CRelkeyGroup& source, Option* opener) {
        groups.push_back(std::make_unique<Group>());
        Group* group = groups.back().get();
        group->subTitle = source.GetSubTitle();
        group->title = source.GetTitle().empty() ? group->subTitle : source.GetTitle();
        group->category = source.GetCategory();
        group->single = !kel::IsMultiChoiceCode(source.GetCode());
        group->opener = opener;
        for (const kel::CRelkeyOption& option : source.Options()) group->options.push_back({option.GetLineSelectionDescription(), group, nullptr});
        for (std::size_t i = 0; i < source.Options().size(); ++i) {
            const WString label = source.Options()[i].GetRefSubLabel();
            kel::CRelkeyGroup sub;
            // Shown under its first opener only, so a group that opens itself ends the walk.
            if (label.empty() || !reached_.insert(label).second || parser_.GetGroupBySubTitle(label, sub) != 0) continue;
            group->options[i].opens = Add(sub, &group->options[i]);
        }
        return group;
    }

    kel::CRelkeyParser parser_;
    std::set<WString> reached_;
};

void Print(const Group& group, std::size_t depth) {
    const std::string indent(depth, ' ');
    std::cout << indent << Utf8(group.title) << " (" << (group.category.empty() ? "" : Utf8(group.category) + "; ")
              << (group.single ? "one choice: its digits end at the choice" : "several: one digit per option") << ")\n";
    for (const Option& option : group.options) {
        const bool isDefault = group.single && &option == &group.options.front();
        std::cout << indent << "  " << Utf8(option.text) << (isDefault ? " (default)" : "") << "\n";
        if (option.opens) Print(*option.opens, depth + 4);
    }
}

// syskey\relkey.NNN, syskey\relkey.opt and XML files: the names the component reads.
std::vector<WString> DefinitionFiles(const WString& syskey) {
    std::vector<kel::os::DirEntry> entries;
    std::vector<WString> names;
    if (!kel::os::ListDirectory(syskey, entries)) return names;
    for (const kel::os::DirEntry& entry : entries) {
        const WString& name = entry.name;
        const bool numbered = name.size() == 10 && name.starts_with(u"relkey.") &&
                              std::all_of(name.begin() + 7, name.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
        if (!entry.isDirectory && (numbered || name == u"relkey.opt" || name.ends_with(u".xml"))) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The component's path of the file for signature; empty (with a message) when it names none.
WString DefinitionFile(const std::string& release, int32_t signature) {
    WString path;
    if (kel::CRelkeyFile().GetRelkeyFilePath(ComponentPath(release), signature, path) != 0) {
        std::cerr << "kelsys: signature " << signature << " names no option definition file\n";
        return {};
    }
    if (!kel::os::Exists(path)) {
        std::cerr << "kelsys: " << release << " has no " << Utf8(path.substr(path.rfind(u'\\') + 1)) << " in syskey\n";
        return {};
    }
    return path;
}

void Choose(const Group& group, const std::set<const Option*>& named, std::set<const Option*>& chosen) {
    const bool anyNamed = std::any_of(group.options.begin(), group.options.end(), [&](const Option& o) { return named.contains(&o); });
    for (const Option& option : group.options) {
        const bool isDefault = !anyNamed && group.single && &option == &group.options.front();
        if (!named.contains(&option) && !isDefault) continue;
        chosen.insert(&option);
        if (option.opens) Choose(*option.opens, named, chosen);
    }
}

// The texts MakeOptionString takes: a main group's choice as it is, a sub
// group's as "SubTitle:choice", each right after the choice that opens it.
void Texts(const Group& group, const std::set<const Option*>& chosen, std::deque<WString>& texts) {
    for (const Option& option : group.options) {
        if (!chosen.contains(&option)) continue;
        texts.push_back(group.opener ? group.subTitle + u":" + option.text : option.text);
        if (option.opens) Texts(*option.opens, chosen, texts);
    }
}

}  // namespace

int ShowReleaseOptions(const std::string& release, int32_t signature) {
    std::vector<WString> paths;
    if (signature != 0) {
        const WString path = DefinitionFile(release, signature);
        if (path.empty()) return kUsage;
        paths.push_back(path);
    } else {
        const WString syskey = ComponentPath(release) + u"\\syskey";
        for (const WString& name : DefinitionFiles(syskey)) paths.push_back(syskey + u"\\" + name);
        if (paths.empty()) {
            std::cerr << "kelsys: " << release << " has no option definition files in syskey\n";
            return kRefused;
        }
    }
    std::cout << "Selection digits: main groups in file order, each followed by the sub groups its chosen options open;\n"
                 "a sub group of an unchosen option takes none. 1 chosen, 2 chosen and hidden, 0 not chosen.\n";
    for (const WString& path : paths) {
        Tree tree;
        if (const int code = tree.Load(path)) return code;
        WString title;
        kel::CRelkeyFile().GetTitle(path, title);
        std::cout << "\n" << Utf8(path.substr(path.rfind(u'\\') + 1)) << (title.empty() ? "" : ": " + Utf8(title)) << "\n";
        if (tree.main.empty()) std::cout << "  no options\n";
        for (const Group* group : tree.main) Print(*group, 2);
    }
    return kOk;
}

int MakeSelection(const std::string& release, int32_t signature, const std::vector<std::string>& names, WString& selection) {
    const WString path = DefinitionFile(release, signature);
    if (path.empty()) return kUsage;
    Tree tree;
    if (const int code = tree.Load(path)) return code;
    std::vector<Option*> options;
    for (const auto& group : tree.groups) {
        for (Option& option : group->options) options.push_back(&option);
    }
    std::set<const Option*> named;
    std::vector<const Option*> order;
    for (const std::string& name : names) {
        const Option* option = Pick<Option>(options, name, "option", "the release", [](const Option& o) { return o.text; });
        if (!option) return kUsage;
        for (const Option& other : option->group->options) {
            if (option->group->single && &other != option && named.contains(&other)) {
                std::cerr << "kelsys: " << Utf8(option->group->title) << " takes one choice: \"" << Utf8(other.text)
                          << "\" or \"" << Utf8(option->text) << "\"\n";
                return kUsage;
            }
        }
        if (named.insert(option).second) order.push_back(option);
    }
    std::set<const Option*> chosen;
    for (const Group* group : tree.main) Choose(*group, named, chosen);
    for (const Option* option : order) {
        if (chosen.contains(option)) continue;
        // Name the outermost option that is missing: choosing it opens the way down.
        const Option* missing = option->group->opener;
        for (const Option* up = missing; up; up = up->group->opener) {
            if (!chosen.contains(up)) missing = up;
        }
        std::cerr << "kelsys: \"" << Utf8(option->text) << "\" needs \"" << Utf8(missing->text) << "\" of "
                  << Utf8(missing->group->title) << " chosen too\n";
        return kUsage;
    }
    std::deque<WString> texts;
    for (const Group* group : tree.main) Texts(*group, chosen, texts);
    selection.clear();
    if (texts.empty()) return kOk;
    kel::CConfigurationFiles files;
    std::deque<kel::WStringView> views(texts.begin(), texts.end());
    if (files.MakeOptionString(path, kel::CKeyInfo(), views, selection) != 0) {
        std::cerr << "kelsys: cannot make the selection from " << Utf8(path) << "\n";
        return kRefused;
    }
    return kOk;
}

}  // namespace kelsys
