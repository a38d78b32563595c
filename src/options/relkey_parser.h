// Loads an option definition file, XML or text form, into one XML document
// and hands out its groups.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "options/relkey_group.h"
#include "platform/text.h"

namespace kel {

class CRelkeyParser {
public:
    CRelkeyParser();
    virtual ~CRelkeyParser();
    CRelkeyParser(const CRelkeyParser&) = delete;
    CRelkeyParser& operator=(const CRelkeyParser&) = delete;

    // Every operation returns 0 on success and -1 on failure.

    // The form follows the name: ".NNN" and ".opt" are text, ".xml" is XML;
    // any other name loads nothing and succeeds. driveModuleNumber replaces
    // the "%" of a text file's titles, descriptions and data files.
    int Load(WStringView path, uint16_t driveModuleNumber);

    // A text file's groups stay put while it is loaded, so a caller may
    // keep them by place (their number in the file); an XML file's have
    // none (npos).
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // The walk over the main groups: from the first main group up to the
    // first sub group that follows it. The group is the parser's (a text
    // file's) or read into scratch; null at the end. place: the group's.
    const CRelkeyGroup* FirstGroup(CRelkeyGroup& scratch, std::size_t* place = nullptr);
    const CRelkeyGroup* NextGroup(CRelkeyGroup& scratch, std::size_t* place = nullptr);

    // The parent of the first element named elementName whose text equals text.
    int GetGroup(WStringView elementName, WStringView text, CRelkeyGroup* group);
    int GetGroupBySubTitle(WStringView text, CRelkeyGroup& group) { return GetGroup(u"SubTitle", text, &group); }
    int GetGroupByLabel(WStringView text, CRelkeyGroup& group) { return GetGroup(u"Label", text, &group); }
    // As GetGroup, without a copy where the parser holds the group (a text
    // file's); else it is read into scratch. Null when there is none.
    const CRelkeyGroup* FindGroup(WStringView elementName, WStringView text, CRelkeyGroup& scratch,
                                  std::size_t* place = nullptr);
    // The place of the first group that has the label of the group at
    // place, as a search by label finds it; and the group at a place.
    std::size_t FirstWithLabel(std::size_t place);
    // The same for a label: npos when no group has it, or for an XML file.
    std::size_t FirstWithLabel(WStringView label);
    const CRelkeyGroup& GroupAt(std::size_t place) const;

    // Writes a group read from a text file under the current root.
    int AppendGroup(CRelkeyGroup group);
    // The groups read from a text file, handed over: the parser keeps none.
    std::deque<CRelkeyGroup> TakeGroups();

    bool HasDocument() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The relkey files of one option build, each parsed once: the build and
// key.id's option strings read the same files.
class CRelkeyCache {
public:
    // The file's parser, loaded on first use; Load's result in loaded.
    CRelkeyParser& Parser(WStringView path, uint16_t driveModuleNumber, int& loaded);
    void Clear() { m_parsers.clear(); }
    // Clear, handing over the groups the parsers read from text files: a
    // large file's take a while to free, which another thread may do.
    std::vector<std::deque<CRelkeyGroup>> TakeGroupsAndClear();

private:
    struct Entry {
        std::unique_ptr<CRelkeyParser> parser;
        int loaded = 0;
    };
    std::map<std::pair<WString, uint16_t>, Entry> m_parsers;
};

}  // namespace kel
