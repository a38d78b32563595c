// kelsys list: the systems of a pool, read from their files. Opening them
// through the component would finish interrupted changes and wait for busy
// systems, and a listing must do neither.
#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>

#include "component.h"
#include "platform/xml.h"
#include "shared/keystring.h"
#include "system_commands.h"

namespace kelsys {

namespace {

using Json = nlohmann::ordered_json;

struct Entry {
    WString folder;
    std::string reason;  // empty: a system
    WString name, serial, controller, release, version, tag;
    std::size_t additional = 0, drives = 0;
    bool interrupted = false, busy = false;
};

// The component's work folders: "~NAME" beside a system being created,
// "cctXXXX.tmp" in the temporary folder.
bool IsStaging(WStringView name) {
    if (name.starts_with(u"~")) return true;
    const WString upper = kel::ToUpper(name);
    return upper.size() == 11 && upper.starts_with(u"CCT") && upper.ends_with(u".TMP") &&
           std::all_of(upper.begin() + 3, upper.begin() + 7, [](char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'); });
}

Entry Read(const WString& pool, const WString& folder) {
    Entry entry;
    entry.folder = folder;
    const WString path = pool + u"\\" + folder;
    const auto has = [&](WStringView relative) { return kel::os::Exists(path + u"\\" + WString(relative)); };
    if (IsStaging(folder)) {
        entry.reason = "staging";
        return entry;
    }
    kel::xml::Document description = kel::xml::Document::Create();
    if (!has(u"system.xml")) {
        entry.reason = "no system.xml";
    } else if (!has(u"INTERNAL\\keystr.txt")) {
        entry.reason = has(u"BACKINFO") ? "a backup" : "no INTERNAL\\keystr.txt";
    } else if (!description.Load(path + u"\\system.xml") || description.Root().Name() != u"SystemProperties") {
        entry.reason = "system.xml is not a system description";
    }
    if (!entry.reason.empty()) return entry;

    const kel::xml::Element root = description.Root();
    entry.name = root.FirstChild(u"SystemName").Text();
    entry.serial = root.FirstChild(u"SerialNo").Text();
    kel::KeyDescription key;
    entry.controller = !kel::DescribeKey(root.FirstChild(u"ControlModule").FirstChild(u"Key").Text(), key) ? u"unknown"
                       : key.virtualController                                                        ? u"virtual"
                                                                                                      : u"real";
    // The main release comes first, as program.id has it.
    const kel::xml::Element media = root.FirstChild(u"UsedMedia").FirstChild(u"Media");
    entry.release = media.Attribute(u"name").value_or(u"");
    entry.version = media.Attribute(u"version").value_or(u"");
    entry.additional = root.Children(u"AdditionalOption").size();
    entry.drives = root.Children(u"DriveModule").size();
    std::string tag;
    if (kel::os::ReadWholeFile(path + u"\\info.txt", tag)) {
        std::erase(tag, '\r');
        entry.tag = kel::FromAnsi(tag);
    }
    for (const char16_t* journal : {u"commit.journal", u"commit.staging", u"commit.undo", u"commit.done"}) {
        entry.interrupted |= has(WString(u"INTERNAL\\") + journal);
    }
    // The lock file stays when its holder lets go; only a held lock means busy.
    const WString lock = path + u"\\INTERNAL\\kel.lock";
    entry.busy = kel::os::GetEntryKind(lock) == kel::os::EntryKind::File && !kel::os::IsUnlocked(lock);
    return entry;
}

std::string State(const Entry& entry) {
    std::string state = entry.interrupted ? "interrupted" : "";
    if (entry.busy) state += state.empty() ? "busy" : ", busy";
    return state;
}

void PrintTable(const std::vector<Entry>& entries) {
    std::vector<std::vector<WString>> rows{{u"FOLDER", u"SERIAL", u"CONTROLLER", u"RELEASE", u"ADDITIONAL", u"DRIVES", u"STATE", u"TAG"}};
    for (const Entry& e : entries) {
        if (!e.reason.empty()) continue;
        WString tag = e.tag;
        std::replace(tag.begin(), tag.end(), u'\n', u' ');
        rows.push_back({e.folder, e.serial, e.controller, e.release + u" " + e.version, kel::FromUtf8(std::to_string(e.additional)),
                        kel::FromUtf8(std::to_string(e.drives)), kel::FromUtf8(State(e)), tag});
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const Entry& e : entries) widths[0] = std::max(widths[0], e.folder.size());
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    const auto padded = [&](const WString& text, std::size_t column) { return Utf8(text) + std::string(widths[column] - text.size() + 2, ' '); };
    for (const auto& row : rows) {
        if (rows.size() == 1) break;
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) line += padded(row[i], i);
        line.erase(line.find_last_not_of(' ') + 1);
        std::cout << line << "\n";
    }
    for (const Entry& e : entries) {
        if (!e.reason.empty()) {
            std::cout << padded(e.folder, 0) << "not a system" << (e.reason == "staging" ? " (staging)" : ": " + e.reason) << "\n";
        }
    }
}

}  // namespace

int List(const std::string& poolArgument, bool json) {
    const WString pool = ComponentPath(poolArgument);
    std::vector<kel::os::DirEntry> found;
    if (kel::os::GetEntryKind(pool) != kel::os::EntryKind::Directory || !kel::os::ListDirectory(pool, found)) {
        std::cerr << "kelsys: " << poolArgument << " is not a folder that can be read\n";
        return kUsage;
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return kel::CompareNoCase(a.name, b.name) < 0; });
    std::vector<Entry> entries;
    for (const kel::os::DirEntry& dirEntry : found) {
        if (dirEntry.isDirectory) entries.push_back(Read(pool, dirEntry.name));
    }
    if (!json) {
        PrintTable(entries);
        return kOk;
    }
    Json out = Json::array();
    for (const Entry& e : entries) {
        if (!e.reason.empty()) {
            out.push_back({{"folder", Utf8(e.folder)}, {"system", false}, {"reason", e.reason}});
            continue;
        }
        out.push_back({{"folder", Utf8(e.folder)},
                       {"system", true},
                       {"name", Utf8(e.name)},
                       {"serial", Utf8(e.serial)},
                       {"controller", Utf8(e.controller)},
                       {"release", {{"name", Utf8(e.release)}, {"version", Utf8(e.version)}}},
                       {"additionalOptions", e.additional},
                       {"driveModules", e.drives},
                       {"tag", Utf8(e.tag)},
                       {"interrupted", e.interrupted},
                       {"busy", e.busy}});
    }
    std::cout << out.dump(2) << "\n";
    return kOk;
}

}  // namespace kelsys
