// Creating, opening and resetting a system. A new system is assembled in a
// staging directory and moved into the pool only when complete; a reset keeps
// a full copy and puts it back when a step fails. Opening first finishes or
// drops a change that a crash interrupted.
#include "config/configuration_files.h"
#include "options/relkey_file.h"
#include "options/relkey_parser.h"
#include "platform/os.h"
#include "platform/path_combine.h"
#include "platform/sealed_file.h"
#include "platform/raii.h"
#include "shared/commit_journal.h"
#include "shared/guid.h"
#include "shared/keystring.h"
#include "shared/file_operation.h"
#include "system/system.h"
#include "shared/temp_file_handler.h"

namespace kel {

namespace {

WString Join(WStringView directory, WStringView name) { return WString(directory) + u"\\" + WString(name); }

}  // namespace

HRESULT CSystem::OpenRelease(WStringView programPath, LONG& type, const char16_t* notRelease, HRESULT status) {
    if (!m_media) return E_FAIL;
    UniqueBstr path = UniqueBstr::From(programPath);
    if (!path.get()) return E_OUTOFMEMORY;
    if (SUCCEEDED(m_media->OpenMedia(path.get())) && SUCCEEDED(m_media->GetMediaType(&type))) return S_OK;
    TraceFormatted(notRelease, programPath);
    return status;
}

ReleaseVersion CSystem::OpenedReleaseVersion() const {
    ReleaseVersion version;
    m_media->GetVersion(&version.major, &version.minor);
    m_media->GetFourthVersion(&version.fourth);
    m_media->GetThirdVersion(&version.third);
    return version;
}

HRESULT CSystem::MatchPrograms(CKeyList& keys, const std::vector<WString>& programs, const char16_t* operation,
                               ProgramMatch& match) {
    // Each folder is opened once, however many keys ask for it.
    struct Release {
        bool opened = false;
        LONG type = 0;
        WString name;
        ReleaseVersion version;
    };
    std::vector<Release> releases(programs.size());
    const WString notFound = WString(u"CSystem::") + operation + u", Program: %s does not exist\n";
    match.mainKey = keys.Size();
    for (match.failedKey = 0; match.failedKey < keys.Size(); ++match.failedKey) {
        CKeyInfo& key = keys.At(match.failedKey);
        KeyDescription description;
        if (!DescribeKey(key.GetKeystring(), description)) return KELINSTALL_E_BAD_KEY;
        const bool releaseKey = description.kind == KeyKind::ReleaseKey;
        if (releaseKey && match.mainKey < keys.Size()) {
            // A drive module belongs to the main release.
            key.SetProgramPath(keys.At(0).GetProgramPath());
            key.SetProgramType(Zendara);
            continue;
        }
        std::size_t found = 0;
        for (; found < programs.size(); ++found) {
            Release& release = releases[found];
            if (!release.opened) {
                const HRESULT opened = OpenRelease(programs[found], release.type, notFound.c_str(), KELINSTALL_E_NO_RELEASE);
                if (opened != S_OK) return opened;
                release.opened = true;
                UniqueBstr name;
                if (release.type == Zendara) {
                    release.version = OpenedReleaseVersion();
                } else if (SUCCEEDED(m_media->GetMediaName(name.Put()))) {
                    release.name = name.View();
                }
            }
            if (releaseKey != (release.type == Zendara)) continue;
            if (releaseKey || EqualsNoCase(release.name, description.programName)) break;
        }
        if (found == programs.size()) {
            TraceFormatted(u"CSystem::%s, Couln't find a matching program for key %s (%s)\n", operation,
                           key.GetKeystring(), description.programName);
            return KELINSTALL_E_NO_RELEASE;
        }
        key.SetProgramPath(programs[found]);
        key.SetProgramType(static_cast<uint32_t>(releases[found].type));
        if (releaseKey) {
            match.mainKey = match.failedKey;
            match.mainVersion = releases[found].version;
        }
    }
    return S_OK;
}

HRESULT CSystem::CheckOpens(const CKeyList& keys, const char16_t* operation) {
    CConfigurationFiles files;
    SealedFile keystr;
    SealedFile programId;
    CKeyList readBack;
    std::vector<WString> programs;
    const bool readable = keystr.OpenBytes(CConfigurationFiles::KeystrText(m_systemPath, keys)) &&
                          files.ReadKeystrTxt(keystr, m_systemPath, readBack) == 0 &&
                          programId.OpenBytes(CConfigurationFiles::ProgramIdText(m_systemPath, keys)) &&
                          files.ReadProgramId(programId, m_systemPath, programs) == 0 &&
                          readBack.Size() == keys.Size();
    ProgramMatch match;
    match.failedKey = readBack.Size();
    HRESULT hr = readable ? MatchPrograms(readBack, programs, operation, match) : E_FAIL;
    // Read back, every key must name the folder and type it was given.
    const auto intended = [&](const CKeyInfo& key) {
        for (std::size_t i = 0; i < keys.Size(); ++i) {
            const CKeyInfo& candidate = keys.At(i);
            if (candidate.GetKeystring() == key.GetKeystring() && candidate.GetDriveModuleNr() == key.GetDriveModuleNr()) {
                return i;
            }
        }
        return keys.Size();
    };
    const auto sameFolder = [&](const WString& given, const WString& readPath) {
        WString full = given;
        if (!given.empty() && given[0] == u'.' && !PathCombine(m_systemPath, given, full)) return false;
        return EqualsNoCase(full, readPath);
    };
    for (std::size_t i = 0; SUCCEEDED(hr) && i < readBack.Size(); ++i) {
        const std::size_t given = intended(readBack.At(i));
        if (given == keys.Size() || keys.At(given).GetProgramType() != readBack.At(i).GetProgramType() ||
            !sameFolder(keys.At(given).GetProgramPath(), readBack.At(i).GetProgramPath())) {
            match.failedKey = i;
            hr = KELINSTALL_E_NO_RELEASE;
        }
    }
    if (SUCCEEDED(hr)) return S_OK;
    const std::size_t given = match.failedKey < readBack.Size() ? intended(readBack.At(match.failedKey)) : keys.Size();
    if (given == keys.Size()) {
        TraceFormatted(u"CSystem::%s, The keys would not read back from keystr.txt as given\n", operation);
        return KELINSTALL_E_BAD_KEY;
    }
    const CKeyInfo& failed = readBack.At(match.failedKey);
    // The main key and drive modules need release keys, other programs additional option keys.
    const bool needsRelease = given == 0 || failed.GetDriveModuleNr() != 0;
    KeyDescription description;
    if (!DescribeKey(failed.GetKeystring(), description) || (description.kind == KeyKind::ReleaseKey) != needsRelease) {
        TraceFormatted(u"CSystem::%s, Key %s is not %s key; the system would no longer open\n", operation,
                       failed.GetKeystring(), needsRelease ? u"a release" : u"an additional option");
        return KELINSTALL_E_BAD_KEY;
    }
    TraceFormatted(u"CSystem::%s, Program folder %s does not fit key %s (program %s) as the system would read it back; "
                   u"the system would no longer open\n",
                   operation, keys.At(given).GetProgramPath(), failed.GetKeystring(), description.programName);
    return KELINSTALL_E_BAD_PROGRAM_PATH;
}

bool CSystem::IsFreeInPool(const char16_t* operation, WStringView path) {
    const os::EntryKind kind = os::GetEntryKind(path);
    if (kind == os::EntryKind::None) return true;
    TraceFormatted(u"CSystem::%s, A %s with the specified name already exists at the specified systempool\n", operation,
                   kind == os::EntryKind::Directory ? u"system" : u"file");
    return false;
}

HRESULT CSystem::CreateSystem(WStringView path, WStringView key, WStringView programPath) {
    m_systemPath = path;
    m_stamp.clear();
    if (!IsFreeInPool(u"CreateSystem", path)) return KELINSTALL_E_EXISTS;
    KeyDescription description;
    if (!DescribeKey(key, description)) return KELINSTALL_E_BAD_KEY;
    m_serialNumber = description.serialNumber;
    m_serialText = description.serialText;

    LONG type = 0;
    const HRESULT opened =
        OpenRelease(programPath, type, u"CSystem::CreateSystem, Program: %s does not exist\n", KELINSTALL_E_NO_RELEASE);
    if (opened != S_OK) return opened;
    if (type != Zendara) {
        TraceFormatted(u"CSystem::CreateSystem, Program: %s is not a ZD-release!\n", programPath);
        return KELINSTALL_E_BAD_PROGRAM_PATH;
    }
    m_version = OpenedReleaseVersion();
    CKeyInfo mainKey;
    mainKey.SetKeystring(key);
    mainKey.SetProgramPath(programPath);
    mainKey.SetProgramType(Zendara);
    CKeyList keys;
    keys.Append(mainKey);
    const HRESULT fits = CheckOpens(keys, u"CreateSystem");
    if (FAILED(fits)) return fits;
    WString relkeyName;
    CRelkeyFile relkeyFile;
    relkeyFile.GetRelkeyName(description.signatureNumber, relkeyName);
    const WString relkeyPath = Format(u"%s\\%s\\%s", programPath, u"syskey", relkeyName);
    if (relkeyName.empty() || os::GetEntryKind(relkeyPath) != os::EntryKind::File) {
        TraceFormatted(u"CSystem::CreateSystem, Unable to create a new system. The relkeyfile %s don't exist\n",
                       relkeyPath);
        return KELINSTALL_E_NO_RELKEY;
    }

    // Every failure from here on removes the staging folder with it.
    CTempFileHandler staging;
    if (!staging.CreateAt(StagingPathFor(path))) {
        TraceFormatted(u"CSystem::CreateSystem, Unable to reserve a staging directory %s\n", StagingPathFor(path));
        return KELINSTALL_E_WORK_AREA;
    }
    const WString& folder = staging.Path();
    HRESULT hr = CreateSystemSubDirectories(folder, m_version);
    if (FAILED(hr)) return hr;
    for (const auto& [name, message] : {std::pair{u"system.guid", u"CSystem::CreateSystem, Failure creating system-GUID file %s\n"},
                                        std::pair{u"template.guid", u"CSystem::CreateSystem, Failure creating template-GUID file %s\n"}}) {
        const WString file = Join(Join(folder, u"INTERNAL"), name);
        if (!CGUID().CreateGUIDFile(file, CGUID::kRegistryFormat)) {
            TraceFormatted(message, file);
            return KELINSTALL_E_GUID_FILE;
        }
    }
    m_keyList = keys;

    hr = BuildSystemOptions(m_systemPath);
    if (FAILED(hr)) {
        TraceMessage(u"CSystem::CreateSystem, Failure configurate configuration files\n");
        return hr;
    }
    hr = WriteConfiguration(folder, BuiltOptions(),
                            {nullptr, u"CSystem::CreateSystem, Unable to save configuration files\n",
                             u"CSystem::CreateSystem, Error creating system.xml in %s\n"},
                            folder);
    if (FAILED(hr)) return hr;
    const std::future<void> freeing = FreeBuiltRelkeys(BuiltOptions());
    const std::string stamp = Stamp(folder);
    if (!staging.FlushSystemFiles() || !staging.MoveTo(path)) {
        TraceFormatted(u"CSystem::CreateSystem, Unable to move system %s from temp directory to active systempool\n",
                       path);
        return KELINSTALL_E_WRITE_CONFIG;
    }
    os::FlushDirectory(path.substr(0, path.rfind(u'\\')));
    m_stamp = stamp;
    return S_OK;
}

HRESULT CSystem::InitSystem(WStringView path) {
    m_systemPath = path;
    m_keyList.Clear();
    // An option document built for the system opened before is not this one's, nor are its notices.
    DropOptions();
    m_notices.clear();
    m_stamp.clear();
    // Shared, unless an interrupted change must be finished first.
    os::FileLock lock;
    const bool pending = CCommitJournal::IsPending(path);
    HRESULT locked = LockSystem(lock, pending ? os::FileLock::Mode::Exclusive : os::FileLock::Mode::Shared, u"InitSystem");
    if (FAILED(locked)) return locked;
    if (pending && !CCommitJournal::Recover(path)) {
        TraceMessage(u"CSystem::InitSystem, Unable to complete an interrupted change\n");
        return KELINSTALL_E_READ_KEYS;
    }
    const std::string stamp = Stamp(path);
    CConfigurationFiles files;
    if (files.ReadKeystrTxt(path, m_keyList) != 0) {
        TraceMessage(u"CSystem::InitSystem, Unable to read keystr.txt\n");
        return KELINSTALL_E_READ_KEYS;
    }
    std::vector<WString> programs;
    if (files.ReadProgramId(path, programs) != 0) {
        TraceMessage(u"CSystem::InitSystem, Unable to read program.id\n");
        return KELINSTALL_E_READ_KEYS;
    }
    ProgramMatch match;
    const HRESULT matched = MatchPrograms(m_keyList, programs, u"InitSystem", match);
    if (FAILED(matched)) return matched;
    KeyDescription main;
    if (match.mainKey < m_keyList.Size() && DescribeKey(m_keyList.At(match.mainKey).GetKeystring(), main)) {
        m_serialNumber = main.serialNumber;
        m_serialText = main.serialText;
        m_version = match.mainVersion;
    }
    m_stamp = stamp;
    return S_OK;
}

HRESULT CSystem::ResetSystem() {
    if (m_keyList.Empty()) return E_FAIL;
    os::FileLock lock;
    HRESULT hr = BeginWrite(lock, u"ResetSystem", true);
    if (FAILED(hr)) return hr;
    // The new configuration is complete before anything in the system changes.
    const CKeyList keys = m_keyList;
    const auto fail = [&](HRESULT status) {
        m_keyList = keys;
        DropOptions();  // built for the keys that did not come in
        return status;
    };
    m_keyList.Clear();
    m_keyList.Append(keys.At(0));
    CTempFileHandler work;
    WString build;
    if (!work.GetWorkDirectory(build)) return fail(KELINSTALL_E_WORK_AREA);
    // Built as if the old configuration files were gone already: build holds none.
    if (FAILED(BuildSystemOptions(build))) {
        TraceMessage(u"CSystem::ResetSystem, Failure configurate configuration files\n");
        return fail(E_FAIL);
    }
    const HRESULT written = WriteConfiguration(build, BuiltOptions(),
                                               {nullptr, u"CSystem::ResetSystem, Unable to save configuration files\n",
                                                u"CSystem::ResetSystem, Error creating system.xml in %s\n"},
                                               m_systemPath);
    if (FAILED(written)) return fail(written);
    // HOME, SYSPAR and the files of INTERNAL are moved aside inside the system,
    // which is cheap and which the undo journal can put back; they are
    // deleted only once the new configuration is in.
    CCommitJournal journal(m_systemPath);
    for (const char16_t* folder : {u"HOME", u"SYSPAR"}) {
        journal.Aside(folder);
        journal.MakeFolder(folder);
    }
    std::vector<os::DirEntry> entries;
    os::ListDirectory(Join(m_systemPath, u"INTERNAL"), entries);
    for (const os::DirEntry& entry : entries) {
        const WString relative = u"INTERNAL\\" + entry.name;
        if ((entry.isDirectory && !entry.isLink) || EqualsNoCase(entry.name, u"system.guid") ||
            EqualsNoCase(relative, kLockFile) || CCommitJournal::IsJournal(relative)) {
            continue;
        }
        journal.Aside(relative);
    }
    journal.Aside(u"system.xml");
    const std::string stamp = Stamp(build);
    StageConfiguration(journal, build, true);
    if (!journal.Stage()) return fail(KELINSTALL_E_WORK_AREA);
    if (journal.Apply() == CCommitJournal::Outcome::Done) {
        m_stamp = stamp;
        return S_OK;
    }
    // Put back what was moved: when even that is blocked now, the undo
    // journal stays and the next open finishes it.
    if (journal.Undo() || !CCommitJournal::IsDecided(m_systemPath)) return fail(KELINSTALL_E_RESET);
    // Not even turned back: the next open carries the reset out, so the object holds it.
    m_stamp = stamp;
    return KELINSTALL_S_PENDING;
}

HRESULT CSystem::GetSystemInfo(WString& text) {
    os::FileLock lock;
    const HRESULT locked = LockSystem(lock, os::FileLock::Mode::Shared, u"GetSystemInfo");
    if (FAILED(locked)) return locked;
    const WString path = Join(m_systemPath, u"system.xml");
    xml::Document document = xml::Document::Create();
    if (!document || !document.Load(path)) {
        TraceFormatted(u"CSystem::GetSystemInfo: Unable to load file: %s.\n", path);
        return E_FAIL;
    }
    const std::optional<WString> serialized = document.Serialize();
    if (!serialized) {
        TraceMessage(u"CSystem::GetSystemInfo: Unable to retrieve system info.\n");
        return E_FAIL;
    }
    text = *serialized;
    return S_OK;
}

}  // namespace kel
