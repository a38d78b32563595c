// system.xml: the self-contained description of a system that other tools
// read without knowing the option definition files.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "KelCom.h"
#include "platform/text.h"
#include "platform/xml.h"

namespace kel {

class CKeyList;

class CSystemXml {
public:
    CSystemXml();
    virtual ~CSystemXml() = default;

    // Builds the description from the key list and the root of the option
    // selection document (null: none could be loaded) and saves it as
    // targetDir\system.xml; systemPath names the system. The program list is
    // read from targetDir. False after a trace.
    bool CreateSystemXml(WStringView systemPath, WStringView targetDir, const CKeyList& keys, int32_t serialNumber,
                         WStringView serialText, const xml::Element& optionSelection);
    // The same from the document's text.
    bool CreateSystemXml(WStringView systemPath, WStringView targetDir, const CKeyList& keys, int32_t serialNumber,
                         WStringView serialText, WStringView optionSelection);
    // The two halves of CreateSystemXml. Build reads no file, so it may run
    // beside other work; Save adds the media list and writes the file.
    bool Build(WStringView systemPath, const CKeyList& keys, int32_t serialNumber, WStringView serialText,
               const xml::Element& optionSelection);
    bool Save(WStringView targetDir);
    // Save in steps, for a caller that builds on a second thread: the media
    // are described on the caller's (the media component's) thread;
    // Complete adds them and makes the file's bytes, beside other work;
    // Write puts them into targetDir\system.xml.
    struct Media {
        WString path;
        bool described = false;  // name and version known
        WString name;
        WString version;
    };
    static std::vector<Media> DescribeMedia(const std::vector<WString>& programs);
    bool Complete(const std::vector<Media>& media);
    bool Write(WStringView targetDir);
    // The Media elements of the programs in systemDir's program.id. 0 / E_UNEXPECTED.
    HRESULT PopulateUsedMediaNode(xml::Element& usedMedia, WStringView systemDir);
    // Rewrites the media list of an existing systemDir\system.xml.
    HRESULT ChangeMediaInSystemXml(WStringView systemDir);

    bool IsDriveModule(const xml::Element& entry);
    bool HandleCategories(const xml::Element& entry, xml::Element& target);
    bool HandleOptions(WStringView programName, xml::Element& target);
    bool GetSubOptionList(const xml::Element& item, WStringView descriptionName, xml::Element& parent);
    // GetSubOptionList for an item known to be chosen.
    bool WriteOption(const xml::Element& item, WStringView descriptionName, xml::Element& parent);
    bool GetSubGroupPtr(const xml::Element& item, xml::Element& group);

    const WString& LastError() const { return m_lastError; }

private:
    static void TraceError(WStringView message);
    // Groups with their chosen items (ChosenItems), the items of all of them
    // in one list: an entry has tens of thousands of groups.
    class Choices {
    public:
        struct Group {
            xml::Element group;
            std::size_t first;
            std::size_t count;
            std::size_t beforeUnselected;
        };
        void Add(const xml::Element& group);
        void Clear();
        const std::vector<Group>& Groups() const { return groups_; }
        std::span<const xml::Element> Chosen(const Group& group) const {
            return {items_.data() + group.first, group.count};
        }

    private:
        std::vector<Group> groups_;
        std::vector<xml::Element> items_;
        std::vector<xml::Element> taken_;  // one group's, before they join the list
    };
    // The main groups of entry with their choices, worked out once for both
    // the categories and the options of the entry.
    const Choices& MainChoices(const xml::Element& entry, const xml::Element& mainGroups);
    bool AddCategories(const Choices& groups, xml::Element& target);

    // The sub groups of one entry by SubGUID, with their position; a group
    // without SubGUID ends what the index may answer.
    struct SubGroupIndex {
        static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
        xml::Element subGroups;
        TextMap<std::pair<std::size_t, xml::Element>> groups;
        std::size_t firstWithoutGuid = kNone;
    };

    static HRESULT AddMedia(xml::Element& usedMedia, const std::vector<Media>& media);

    xml::Document m_document;
    std::string m_bytes;  // made by Complete
    xml::Element m_root;
    xml::Element m_usedMedia;
    int m_optionNesting = 1;  // 1: the next option written is a top-level Option
    std::vector<xml::Element> m_programNumbers;  // ProgramNr elements of the selection
    std::size_t m_programPosition = 0;           // where HandleOptions searches from
    std::vector<SubGroupIndex> m_subGroupIndexes;
    xml::Element m_choicesEntry;  // whose main groups m_mainChoices holds
    Choices m_mainChoices;
    int m_depth = 0;
    WString m_lastError;
};

}  // namespace kel
