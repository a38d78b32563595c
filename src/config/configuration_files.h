// The configuration-file object: one per operation that reads or writes the
// system's configuration files.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/sealed_file.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/xml.h"

namespace kel {

class CKeyInfo;
class CKeyList;
class CRelkeyCache;
class CRelkeyParser;

// A system's key.id as it stands, read once and split into its sections, for
// the many look-ups of one option build. A program's section is found as
// key.id's readers find it: the main program's, a drive module's by its place
// among the drive module sections, another program's by its key's program.
class CKeyIdRecord {
public:
    explicit CKeyIdRecord(WStringView systemDir);
    const WString& Path() const { return m_path; }
    bool Readable() const { return m_readable; }
    // The lines of the program's section; empty when there is none.
    const std::vector<std::string_view>& SectionOf(WStringView program) const;
    // Whether an extseldesc line of the program's section starts the
    // selection text (true when key.id cannot be read).
    bool HasExtSelection(WStringView program, WStringView selectionText) const;

private:
    struct ExtSelections {
        std::unordered_set<std::string> texts;
        std::vector<std::size_t> lengths;  // distinct
    };
    WString m_systemDir;
    WString m_path;
    bool m_readable = false;
    // Open while the record lives: the sections are views of its text,
    // not a string for each of a large key.id's lines.
    SealedFile m_file;
    std::vector<std::vector<std::string_view>> m_sections;  // in file order
    mutable std::unordered_map<WString, std::size_t> m_found;  // program: index in m_sections, or npos
    mutable std::unordered_map<WString, ExtSelections> m_extSelections;
    mutable std::vector<int> m_driveModuleNumbers;  // keystr.txt's, read at the first drive module look-up
    mutable bool m_driveModulesRead = false;
};

class CConfigurationFiles {
public:
    virtual ~CConfigurationFiles() = default;

    // key.id is written sealed; nothing changes this after construction.
    int Sealed() const { return m_sealed; }
    const WString& LastError() const { return m_lastError; }

    // Printed form of a controller serial number (12-34567, or a marker text). 0 / -1.
    int SerialNr_LongToStr(int32_t serial, WString& text);
    // 1 when releaseDir or its sys_pack holds media.id (releaseDir then names that folder), else 0.
    int FindMediaIdFolder(WString& releaseDir);
    // Title and four-part version from the release's version.xml, else the
    // title of relkeyPath. 1 when a text was produced, else 0 with text empty.
    int GetProductName(WStringView releaseDir, WStringView relkeyPath, WString& text);

    // One character per option of the relkey file's groups, from the
    // selection texts of one program, which are consumed. 0 / -1.
    int MakeOptionString(WStringView relkeyPath, const CKeyInfo& key, std::deque<WStringView>& selections,
                         WString& optionString);
    // Follows "SubTitle:selection" texts at the front of selections into the work list. 0 / -1.
    int AddSubGroups(CRelkeyParser& parser, std::deque<WStringView>& selections);

    // keystr.txt, program.id and key.id into targetDir\INTERNAL; systemDir is
    // the path the files name; systemOptions is the root of the option
    // selection document (null: none could be loaded); relkeys, when given,
    // holds the relkey files the option build parsed. 0, or -1 / -2 / -3 for
    // the file that failed.
    int SaveConfiguration(WStringView targetDir, WStringView systemDir, const CKeyList& keys,
                          const xml::Element& systemOptions, CRelkeyCache* relkeys = nullptr);
    int WriteKeystrTxt(WStringView targetDir, WStringView systemDir, const CKeyList& keys);
    int WriteProgramId(WStringView targetDir, WStringView systemDir, const CKeyList& keys);
    // The bytes the two writers put into the files, before the disk's line ends.
    static std::string KeystrText(WStringView systemDir, const CKeyList& keys);
    static std::string ProgramIdText(WStringView systemDir, const CKeyList& keys);
    // Keystrings and drive module numbers, numbered keys last. 0 / -1 / -2.
    int ReadKeystrTxt(WStringView systemDir, CKeyList& keys);
    // Appends the program paths, relative ones resolved against systemDir. 0 / -1 / -2.
    int ReadProgramId(WStringView systemDir, std::vector<WString>& programs);
    // The same from an opened file, or from bytes about to be written. 0 / -2.
    int ReadKeystrTxt(SealedFile& file, WStringView systemDir, CKeyList& keys);
    int ReadProgramId(SealedFile& file, WStringView systemDir, std::vector<WString>& programs);
    // Deletes key.id, program.id and keystr.txt. 1 / 0.
    int RemoveConfiguration(WStringView systemDir);

    // key.id: one section per key, drive modules before additional programs.
    // systemOptions as for SaveConfiguration. 0 / -1.
    int WriteKeyId(WStringView targetDir, const CKeyList& keys, int sealedVariant, const xml::Element& systemOptions);
    // The sections, while WriteKeyId runs.
    int WriteKelKeyId(CKeyInfo key, SealedFile& file);
    int WriteDMKeyId(CKeyInfo key, SealedFile& file);
    int WriteExtKeyId(CKeyInfo key, SealedFile& file);
    // Copies a plain or sealed selection file into key.id. 0, or -1 to -6.
    int InsertSelfile(SealedFile& file, WStringView path);
    // The rest of the first option line of key.id that names the program. 0 / -1.
    int GetMediaKey(WStringView systemDir, WStringView name, WString& value);
    int GetMediaKey(const CKeyIdRecord& record, WStringView name, WString& value);
    // Whether key.id records the selection text for the program (1 when it
    // cannot be read). 1 / 0.
    int IsExtSelectionInKeyId(WStringView systemDir, WStringView optionKey, WStringView selectionText);

    struct SectionOptionsInfo;  // what key.id's sections read from the option document

protected:
    // A fixed text: traced, the last error left alone.
    static void TraceError(WStringView message) { Trace(u"ConfigurationFiles", message); }
    // A formatted text: kept as the last error, then traced.
    template <class... Args>
    void TraceFormatted(WStringView format, const Args&... args) {
        m_lastError = Format(format, args...);
        Trace(u"ConfigurationFiles", m_lastError);
    }

private:
    // One plain text file; openFailure is traced with the path. 0 / -1.
    int WritePlain(WStringView path, const std::string& text, const char16_t* openFailure);
    // Option-string work list: one node per group label, in first-seen order.
    struct WorkNode {
        WString label;
        std::size_t place;  // of the first group with the label, when the parser keeps places
    };
    // A selection of a node, as written (a hidden one with its ";").
    struct WorkSelection {
        std::size_t node;
        WStringView text;
    };
    // The selection files of a drive-module or additional-program section. 0, -2, or 4 to 9.
    int InsertSelectionFiles(const char16_t* writer, const CKeyInfo& key, const std::vector<WStringView>& files,
                             SealedFile& file);
    // The index of the label's node, appended when new; place: the
    // group's, when the parser handed it out.
    std::size_t WorkNodeOf(CRelkeyParser& parser, WStringView label, std::size_t place);
    void ClearWorkList();
    // Takes one "SubTitle:selection" text; true when its option opens a further sub group.
    bool AddSubGroupSelection(CRelkeyParser& parser, std::deque<WStringView>& selections);
    // The text a selection is matched by and the one the work list keeps.
    std::pair<WStringView, WStringView> TakeHiddenMark(WStringView selection);

    const int m_sealed = 1;
    WString m_lastError;
    std::deque<WorkNode> m_workList;  // stays put: the index views its labels
    TextIndex m_workIndex;  // labels no group of a text file has, and an XML file's
    std::vector<std::uint32_t> m_nodeAtPlace;  // by first place: node + 1
    // One list for every node's selections: a large build has tens of
    // thousands of nodes with one each. They view the caller's texts, or
    // the texts kept here when taking a hidden mark changed them.
    std::vector<WorkSelection> m_workSelections;
    std::deque<WString> m_workTexts;
    std::shared_ptr<const SectionOptionsInfo> m_sectionOptions;  // while WriteKeyId runs
    // While WriteKeyId runs: the text of each selection file read so far.
    // Thousands of options name the same few files.
    TextMap<std::string> m_selectionFiles;
    bool m_keepSelectionFiles = false;
    CRelkeyCache* m_relkeys = nullptr;  // relkey files parsed already, when the caller has them
};

}  // namespace kel
