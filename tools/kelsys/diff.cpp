// kelsys diff: what sets two systems apart, read through the component.
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "component.h"
#include "options.h"
#include "platform/xml.h"
#include "system_commands.h"

namespace kelsys {

namespace {

using Json = nlohmann::ordered_json;
using Values = std::map<WString, std::string>;  // name -> value, UTF-8

struct Section {
    const char* key;    // in JSON
    const char* title;  // in text
    bool files;         // the values are contents: said to differ, never shown
};
enum SectionIndex { kReleases, kMainKey, kAdditional, kDrives, kHome, kParameters };
constexpr Section kSections[] = {{"releases", "releases", false},          {"mainKey", "main key", false},
                                 {"additionalOptions", "additional options", false}, {"driveModules", "drive modules", false},
                                 {"homeFiles", "home files", true},       {"parameterFiles", "parameter files", true}};
constexpr std::size_t kSectionCount = std::size(kSections);

struct System {
    Values sections[kSectionCount];
    std::set<ChosenOption> options;
    std::set<WString> programs;
};

bool Read(const std::string& argument, bool trace, System& out) {
    Component system;
    if (!system.Load(trace)) return false;
    const WString path = ComponentPath(argument);
    if (Component::Report(("cannot open " + argument).c_str(), system->InitSystem(B(path).get())) != kOk) return false;
    kel::UniqueBstr info, options;
    if (Component::Report("cannot read system.xml", system->GetSystemInfo(info.Put())) != kOk ||
        Component::Report("cannot read the options", system->GetSystemOptions(options.Put())) != kOk) {
        return false;
    }
    kel::xml::Document description = kel::xml::Document::Create();
    if (!description.Parse(info.View())) return Component::Report("system.xml is not readable", E_FAIL) == kOk;
    const kel::xml::Element root = description.Root();
    for (const kel::xml::Element& media : root.FirstChild(u"UsedMedia").Children(u"Media")) {
        out.sections[kReleases][media.Attribute(u"name").value_or(u"")] = Utf8(media.Attribute(u"version").value_or(u""));
    }
    out.sections[kMainKey][u"main"] = Utf8(root.FirstChild(u"ControlModule").FirstChild(u"Key").Text());
    for (const kel::xml::Element& program : root.Children(u"AdditionalOption")) {
        out.sections[kAdditional][program.FirstChild(u"Name").Text()] = Utf8(program.FirstChild(u"Key").Text());
    }
    for (const kel::xml::Element& program : root.Children(u"DriveModule")) {
        out.sections[kDrives][program.FirstChild(u"Name").Text().substr(11)] = Utf8(program.FirstChild(u"Key").Text());
    }
    std::vector<WString> programs;
    for (const ChosenOption& option : ChosenOptions(options.View(), programs)) out.options.insert(option);
    out.programs.insert(programs.begin(), programs.end());
    for (const bool home : {true, false}) {
        kel::UniqueBstr list;
        ULONG count = 0;
        const HRESULT hr = home ? system->GetHomeFileList(list.Put(), &count) : system->GetSystemParameterFileList(list.Put(), &count);
        if (Component::Report("cannot list the files", hr) != kOk) return false;
        for (const WString& name : SplitList(list.View())) {
            std::string& contents = out.sections[home ? kHome : kParameters][name];
            kel::os::ReadWholeFile(path + (home ? u"\\HOME\\" : u"\\SYSPAR\\") + name, contents);
        }
    }
    return true;
}

}  // namespace

int Diff(const std::string& first, const std::string& second, bool json, bool trace) {
    System a, b;
    if (!Read(first, trace, a) || !Read(second, trace, b)) return kRefused;
    Json out = Json::object();
    std::string text;
    for (std::size_t i = 0; i < kSectionCount; ++i) {
        const Section& section = kSections[i];
        Json entries = Json::array();
        std::string lines;
        std::set<WString> names;
        for (const auto& [name, value] : a.sections[i]) names.insert(name);
        for (const auto& [name, value] : b.sections[i]) names.insert(name);
        for (const WString& name : names) {
            const auto inA = a.sections[i].find(name), inB = b.sections[i].find(name);
            const bool hasA = inA != a.sections[i].end(), hasB = inB != b.sections[i].end();
            if (hasA && hasB && inA->second == inB->second) continue;
            const auto value = [&](bool has, const auto& at) -> Json {
                if (section.files) return has;
                return has ? Json(at->second) : Json();
            };
            entries.push_back({{"name", Utf8(name)}, {"a", value(hasA, inA)}, {"b", value(hasB, inB)}});
            const std::string shown = i == kMainKey ? "" : Utf8(name);
            if (hasA && hasB) {
                lines += "  ~ " + shown + (section.files ? ": contents differ" : (shown.empty() ? "" : ": ") + inA->second + " -> " + inB->second) + "\n";
            } else {
                const auto& [mark, at] = hasA ? std::pair{"  - ", inA} : std::pair{"  + ", inB};
                lines += mark + shown + (section.files ? "" : (shown.empty() ? "" : ": ") + at->second) + "\n";
            }
        }
        out[section.key] = std::move(entries);
        if (!lines.empty()) text += std::string(section.title) + "\n" + lines;
    }
    // The options of programs both systems hold; the others show as programs above.
    Json options = Json::array();
    std::string lines;
    std::set<ChosenOption> all(a.options);
    all.insert(b.options.begin(), b.options.end());
    for (const ChosenOption& option : all) {
        const bool inA = a.options.contains(option), inB = b.options.contains(option);
        if ((inA && inB) || !a.programs.contains(option.program) || !b.programs.contains(option.program)) continue;
        options.push_back({{"program", Utf8(option.program)}, {"group", Utf8(option.group)}, {"option", Utf8(option.option)}, {"a", inA}, {"b", inB}});
        lines += std::string(inA ? "  - " : "  + ") + Utf8(option.program) + ": " + Utf8(option.group) + ": " + Utf8(option.option) + "\n";
    }
    out["options"] = std::move(options);
    if (!lines.empty()) text += "chosen options\n" + lines;
    if (json) {
        std::cout << out.dump(2) << "\n";
    } else {
        std::cout << (text.empty() ? "no differences\n" : "--- " + first + "\n+++ " + second + "\n" + text);
    }
    return kOk;
}

}  // namespace kelsys
