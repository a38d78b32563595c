// The system object: the one controller system a component object works on.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <vector>

#include "KelInstallSystem.h"
#include "options/relkey_parser.h"
#include "options/selection_group.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "platform/text.h"
#include "platform/xml.h"
#include "shared/key_info.h"
#include "shared/media_component.h"
#include "shared/system_options_component.h"

namespace kel {

class CCommitJournal;
class CKeyIdRecord;

// A second thread for work beside a large document (counted in nodes); a
// small one is done in place, where the thread would cost more than it saves.
std::launch BesidePolicy(std::size_t nodes);

struct ReleaseVersion {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t third = 0;
    uint16_t fourth = 0;
};

class CSystem {
public:
    CSystem();
    virtual ~CSystem();
    CSystem(const CSystem&) = delete;
    CSystem& operator=(const CSystem&) = delete;

    // A new system at path from a main keystring and its release, staged in
    // the temporary directory and moved into the pool when complete.
    HRESULT CreateSystem(WStringView path, WStringView key, WStringView programPath);
    // Opens the system at path: its keys and the release of each.
    HRESULT InitSystem(WStringView path);
    // Back to what the main keystring alone gives; the disk is restored on failure.
    HRESULT ResetSystem();
    // Turns a controller backup into a new system at systemPath (not opened);
    // additional: further program folders separated by ";".
    HRESULT InitBackup(WStringView backup, WStringView systemPath, WStringView releasePath, WStringView additional,
                       uint32_t count);
    // The text of the system's system.xml.
    HRESULT GetSystemInfo(WString& text);

    // Files the user keeps in SYSPAR and HOME; lists are comma-separated names.
    bool AddSystemParameterFile(WStringView file, bool overwrite);
    bool AddHomeFile(WStringView file, bool overwrite);
    // Only a plain file name is accepted: nothing outside the directory is ever deleted.
    bool RemoveSystemParameterFile(WStringView name);
    bool RemoveHomeFile(WStringView name);
    bool GetSystemParameterFileList(WString& list, uint32_t& count) const;
    bool GetHomeFileList(WString& list, uint32_t& count) const;
    bool SetSystemTag(WStringView tag);
    bool GetSystemTag(WString& tag);
    bool GetSystemType(KelInstallCtrlType& type);
    // nameGiven: the caller passed a name at all (an empty one is refused for other programs).
    HRESULT GetProgramPath(ProgramType type, WStringView name, bool nameGiven, WString& path);
    HRESULT SetProgramPath(ProgramType type, WStringView name, bool nameGiven, WStringView path);
    // The text goes to the caller as the options component made it: at
    // 10,000 groups each copy is 14 MB.
    HRESULT GetSystemOptions(UniqueBstr& document);

    // Changes of the key list, each rebuilt and committed through a work directory.
    HRESULT AddAdditionalOption(WStringView keystring, WStringView programPath);
    HRESULT RemoveAdditionalOption(WStringView programName);
    HRESULT AddDriveModule(WStringView keystring, uint16_t moduleNumber);
    HRESULT RemoveDriveModule(uint16_t moduleNumber);
    HRESULT ReplaceKeystring(WStringView oldKeystring, WStringView newKeystring);
    // Stores a given option selection document; the key list stays.
    HRESULT AddKeystring(WStringView optionSelection);
    HRESULT GetUsedKeystring(ProgramType type, WString& keys, uint32_t& count) const;
    HRESULT GetDriveModuleKeys(WString& keys, uint32_t& count) const;

    // The traces of one changing operation: option build, configuration files, system.xml.
    struct CommitMessages {
        const char16_t* configure;
        const char16_t* save;
        const char16_t* systemXml;
    };

    // The tree below a fresh system directory; releases 5.0 to 5.12.1 get BACKUP.
    HRESULT CreateSystemSubDirectories(WStringView directory, ReleaseVersion version);
    static bool NeedsBackupDirectory(ReleaseVersion version);

    // Program names queued by option building; taken newest first.
    void PushProgramNotice(WString name) { m_notices.push_back(std::move(name)); }
    bool PopProgramNotice(WString& name);
    bool HasProgramNotices() const { return !m_notices.empty(); }

    // Turns a relkey group and the next digits of a program's selection text
    // into a selection group. consume 1 takes the group's digits from the
    // front of selection; 0 takes none. 0 / -1.
    int ConfigGroup(WStringView& selection, int consume, const CRelkeyGroup& relkeyGroup, CSelectionGroup& selectionGroup);
    // Every option of the group with its digit ("0" when missing). 1 / -1.
    int RelkeyGroupToSelectionGroup(WString digits, const CRelkeyGroup& relkeyGroup, CSelectionGroup& group);
    // Appends the default digits of the group, through the sub group that a
    // single-choice group's first option opens. 1 / 0.
    int MakeDefaultSelection(const CRelkeyGroup& relkeyGroup, CRelkeyParser& parser, WString& selection);

    // Builds the option selection document of the whole key list in a new
    // system options component, with the selections recorded in recordedIn's
    // key.id; BuiltOptions() is its root. HRESULT-style status. The relkey
    // files it parses stay with it for the writing that follows.
    HRESULT BuildSystemOptions(WStringView recordedIn);
    // Forgets the option document and its relkey files: the next request builds from the disk.
    void DropOptions();
    // Builds as above from the system's own key.id and returns the document's text.
    HRESULT ConfigSystem(UniqueBstr& xmlText);
    // The root of the document the last option build made; null before one.
    const xml::Element& BuiltOptions() const { return m_optionsRoot; }
    // One program's groups; selection is this program's own copy. 0 / -1.
    int AddProgramToSystemOptions(WString selection, CRelkeyParser& parser, uint32_t kind, WStringView programName);
    // A group and, depth first, the sub groups its options open. 0 / -1.
    int AddGroupToSystemOptions(WStringView& selection, const CRelkeyGroup& relkeyGroup, uint32_t kind,
                                WStringView programName, CRelkeyParser& parser);
    // Writes one selection group under the program's entry of the document.
    void AddGroup(const CSelectionGroup& group, WStringView programName, uint32_t kind);
    // The program's entry, made when the document has none, into m_programEntry.
    void FindProgramEntry(WStringView programName, uint32_t kind);
    // Default digits of every group of an additional program's relkey.opt. 1 / 0.
    int MakeDefaultAdditionalOptionSelections(WStringView programPath, WString& selection, CRelkeyCache& relkeys);
    // The component of the last option build; null before the first.
    IKelInstallSystemOptions* Options() const { return m_options.get(); }

    const WString& SystemPath() const { return m_systemPath; }
    void SetSystemPath(WStringView path) { m_systemPath = path; }
    CKeyList& KeyList() { return m_keyList; }
    const CKeyList& KeyList() const { return m_keyList; }
    ReleaseVersion Version() const { return m_version; }
    void SetVersion(ReleaseVersion version) { m_version = version; }
    uint32_t SerialNumber() const { return m_serialNumber; }
    const WString& SerialText() const { return m_serialText; }
    const WString& LastMessage() const { return m_message; }
    // Null when the component could not be created.
    IKelInstallMedia* Media() const { return m_media.get(); }

private:
    // Formats into the message buffer and traces it.
    template <class... Args>
    void TraceFormatted(WStringView format, const Args&... args) const {
        m_message = Format(format, args...);
        TraceMessage(m_message);
    }
    static void TraceMessage(WStringView message);
    int MakeDefaultSelection(const CRelkeyGroup& relkeyGroup, CRelkeyParser& parser, WString& selection,
                             std::vector<WString>& openSubGroups);
    int AddGroupToSystemOptions(WStringView& selection, const CRelkeyGroup& relkeyGroup, uint32_t kind,
                                WStringView programName, CRelkeyParser& parser, std::vector<WString>& openSubGroups,
                                WStringView subGuid = {});
    // S_OK with the release's type; status after tracing notRelease (a "%s"
    // format for the path) when it is no release; E_FAIL without a media component.
    HRESULT OpenRelease(WStringView programPath, LONG& type, const char16_t* notRelease, HRESULT status);
    // False, traced as the operation's, when a system or file already has the path.
    bool IsFreeInPool(const char16_t* operation, WStringView path);
    // BuildSystemOptions' work, without its clean-up after a failure.
    HRESULT BuildEveryProgram(WStringView recordedIn, CRelkeyCache& relkeys);
    // The key list and name checks of the program path operations.
    HRESULT CheckProgramArguments(const char16_t* operation, ProgramType type, WStringView name, bool nameGiven);
    // The version of the release the media component opened last.
    ReleaseVersion OpenedReleaseVersion() const;
    struct ProgramMatch {
        std::size_t failedKey = 0;  // the key that found no program, when matching fails
        std::size_t mainKey = 0;    // the first release key; keys.Size() when there is none
        ReleaseVersion mainVersion;
    };
    // Gives each key the program folder an open finds for it among programs
    // (program.id's paths): the first release key the first main release,
    // later release keys (drive modules) the same, other keys the first other
    // release of their program's name. The open's status on failure.
    HRESULT MatchPrograms(CKeyList& keys, const std::vector<WString>& programs, const char16_t* operation,
                          ProgramMatch& match);
    // Whether keys, written as a commit writes them, would be read back and
    // matched by an open exactly as given. 0xC004051C for a key of the wrong
    // kind, 0xC0040522 for a folder that does not fit, traced either way.
    HRESULT CheckOpens(const CKeyList& keys, const char16_t* operation);
    bool AddFile(const char16_t* operation, const char16_t* directory, WStringView file, bool overwrite);
    bool RemoveFile(const char16_t* operation, const char16_t* directory, WStringView name);
    bool ListFiles(const char16_t* operation, const char16_t* directory, WString& list, uint32_t& count) const;
    // The first key after the main one whose program has exactly this name.
    CKeyInfo* FindProgram(WStringView name);
    // E_INVALIDARG, traced with the first misfit, when a caller's option
    // selection does not fit the option tree the object holds.
    HRESULT CheckOptionSelection(const xml::Element& selection);
    // What a failed option build returns: E_FAIL, or the build's own status.
    enum class BuildFailure { Fail, Status };
    // On any failure the key list goes back to before, as the disk stays.
    HRESULT Reconfigure(const char16_t* operation, const CKeyList& before, const CommitMessages& messages,
                        BuildFailure failure);
    // The configuration files and system.xml of the options into folder.
    // KELINSTALL_E_WRITE_CONFIG after the message of the step that failed;
    // messages.systemXml names place. A gate runs once system.xml is being
    // built, before anything is written; its failure is returned as it is.
    HRESULT WriteConfiguration(const WString& folder, const xml::Element& options, const CommitMessages& messages,
                               WStringView place, const std::function<HRESULT()>& gate = {});
    // Writes the configuration files and system.xml in a work directory and
    // moves them in. KELINSTALL_S_PENDING: decided, finished by the next open.
    HRESULT Commit(const xml::Element& options, const CommitMessages& messages);
    // Empties the build's relkey cache once the files are written; a large
    // build's groups are freed by a second thread until the result goes.
    std::future<void> FreeBuiltRelkeys(const xml::Element& options);
    // Puts the files written in work into the system through a commit journal.
    HRESULT InstallConfiguration(const WString& work, bool withSystemXml);
    // The system's lock for one call; S_OK also where no lock file can be
    // made (read-only media, where nothing can be written either).
    HRESULT LockSystem(os::FileLock& lock, os::FileLock::Mode mode, const char16_t* operation) const;
    // Before a write: the exclusive lock, an earlier decided change finished,
    // and, where the key list matters, the system as this object last saw it.
    HRESULT BeginWrite(os::FileLock& lock, const char16_t* operation, bool keysMatter);
    // What the key list is read from (keystr.txt and program.id of folder),
    // to tell whether someone else changed it.
    static std::string Stamp(WStringView folder);
    void StageConfiguration(CCommitJournal& journal, const WString& work, bool withSystemXml);
    HRESULT KeysOf(bool driveModules, const char16_t* emptyMessage, WString& keys, uint32_t& count) const;
    // A new element of the options document, or null.
    xml::Element CreateOptionsElement(WStringView name);
    // The document's root, made on first use.
    xml::Element OptionsRoot();

    WString m_systemPath;
    CKeyList m_keyList;
    mutable WString m_message;
    std::string m_stamp;  // Stamp() of the system when this object last read or wrote it
    uint32_t m_serialNumber = 0;
    WString m_serialText;
    ComPtr<IKelInstallSystemOptions> m_options;
    xml::Element m_optionsRoot;
    int m_optionBuildValue = 0;  // the node type option building creates
    // The names of the option document's groups, looked up once per document.
    struct GroupNames {
        xml::NameId group, item, subTitle, subGuid, title, category, label, code, selected, description, datFile,
            refSubLabel, refSubGuid;
    };
    GroupNames m_groupNames;
    int m_optionBuildFlag = 1;
    // One per sub group depth, used again by every group of a build: a large
    // build configures tens of thousands. A deque keeps each in place while
    // a deeper one is added.
    std::deque<CSelectionGroup> m_selectionGroups;
    // Where the groups of the program being added go: found once for all of
    // them, and forgotten when the next program's groups start.
    struct ProgramEntry {
        xml::Element main;
        xml::Element sub;
    };
    ProgramEntry m_programEntry;
    // A selection stored since the last build: the document's groups still
    // fit the system (a check may use them), its choices are old.
    bool m_optionsStale = false;
    // The relkey files the last build read: key.id's option strings come from
    // them, also in a SetSystemOptions checked against that build's groups.
    CRelkeyCache m_builtRelkeys;
    ComPtr<IKelInstallMedia> m_media;
    ReleaseVersion m_version;
    int m_selectionChanged = 0;
    // Whether the program being built needs m_selectionChanged: an additional
    // program whose selection key.id recorded.
    bool m_checkSelections = false;
    std::vector<WString> m_notices;
    const CKeyIdRecord* m_recorded = nullptr;  // the key.id the running option build reads
};

}  // namespace kel
