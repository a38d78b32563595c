// Parameter and home files, the tag, the controller type, program paths and
// the current option document of an open system.
#include <cstdio>
#include <future>

#include "config/configuration_files.h"
#include "description/system_xml.h"
#include "options/relkey_parser.h"
#include "platform/fault_injection.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "platform/sealed_file.h"
#include "platform/trace.h"
#include "shared/commit_journal.h"
#include "shared/keystring.h"
#include "shared/file_operation.h"
#include "system/system.h"
#include "shared/temp_file_handler.h"

namespace kel {

namespace {

WString LastComponent(WStringView path) {
    const std::size_t slash = path.find_last_of(u"\\/");
    return WString(slash == WStringView::npos ? path : path.substr(slash + 1));
}

// A name that would reach outside its directory.
bool IsPlainName(WStringView name) {
    return !name.empty() && name != u"." && name != u".." && name.find_first_of(u"\\/") == WStringView::npos;
}

// The shell operations expand these to every file of the directory.
bool IsWildcardAll(WStringView name) { return name == u"*" || name == u"*.*"; }

}  // namespace

std::launch BesidePolicy(std::size_t nodes) {
    return nodes >= os::BesideFromNodes() ? std::launch::async | std::launch::deferred : std::launch::deferred;
}

bool CSystem::AddFile(const char16_t* operation, const char16_t* directory, WStringView file, bool overwrite) {
    const WString name = LastComponent(file);
    // A folder copied in would be missing from the file lists and removable only by name.
    if (!IsPlainName(name) || IsWildcardAll(name) || os::GetEntryKind(file) != os::EntryKind::File) {
        TraceFormatted(WString(u"CSystem::") + operation + u", %s is not a file to add to the system\n", file);
        return false;
    }
    os::FileLock lock;
    if (FAILED(BeginWrite(lock, operation, false))) return false;
    const WString target = Format(u"%s\\%s\\%s", m_systemPath, directory, name);
    if (!overwrite && os::GetEntryKind(target) != os::EntryKind::None) {
        TraceFormatted(WString(u"CSystem::") + operation + u", File %s allready exists\n", target);
        return false;
    }
    return CFileOperation().Copy(file, target, kShellCopyFileFlags);
}

bool CSystem::RemoveFile(const char16_t* operation, const char16_t* directory, WStringView name) {
    if (!IsPlainName(name) || IsWildcardAll(name)) {
        TraceFormatted(WString(u"CSystem::") + operation + u", %s is not a file name of the system\n", name);
        return false;
    }
    os::FileLock lock;
    if (FAILED(BeginWrite(lock, operation, false))) return false;
    return CFileOperation().Delete(Format(u"%s\\%s\\%s", m_systemPath, directory, name), kShellSilentFlags);
}

bool CSystem::ListFiles(const char16_t* operation, const char16_t* directory, WString& list, uint32_t& count) const {
    os::FileLock lock;
    if (FAILED(LockSystem(lock, os::FileLock::Mode::Shared, operation))) return false;
    std::vector<os::DirEntry> entries;
    if (!os::ListDirectory(Format(u"%s\\%s", m_systemPath, directory), entries)) return false;
    list.clear();
    count = 0;
    for (const os::DirEntry& entry : entries) {
        if (entry.isDirectory) continue;
        if (count++) list += u',';
        list += entry.name;
    }
    return true;
}

bool CSystem::AddSystemParameterFile(WStringView file, bool overwrite) {
    return AddFile(u"AddSystemParameterFile", u"SYSPAR", file, overwrite);
}
bool CSystem::AddHomeFile(WStringView file, bool overwrite) { return AddFile(u"AddHomeFile", u"HOME", file, overwrite); }
bool CSystem::RemoveSystemParameterFile(WStringView name) {
    return RemoveFile(u"RemoveSystemParameterFile", u"SYSPAR", name);
}
bool CSystem::RemoveHomeFile(WStringView name) { return RemoveFile(u"RemoveHomeFile", u"HOME", name); }
bool CSystem::GetSystemParameterFileList(WString& list, uint32_t& count) const {
    return ListFiles(u"GetSystemParameterFileList", u"SYSPAR", list, count);
}
bool CSystem::GetHomeFileList(WString& list, uint32_t& count) const {
    return ListFiles(u"GetHomeFileList", u"HOME", list, count);
}

bool CSystem::SetSystemTag(WStringView tag) {
    os::FileLock lock;
    if (FAILED(BeginWrite(lock, u"SetSystemTag", false))) return false;
    SealedFile file;
    if (!file.OpenStagedForWrite(m_systemPath + u"\\info.txt", 0, 0)) {
        TraceMessage(u"CSystem::SetSystemTag, Cannot create tagfile\n");
        return false;
    }
    const std::string text = ToAnsi(tag);
    if (file.WriteText(text.c_str()) < 0 || !file.Close()) {
        TraceMessage(u"CSystem::SetSystemTag, Error writing to tagfile\n");
        return false;
    }
    if (FromAnsi(text) != tag) {
        TraceMessage(u"CSystem::SetSystemTag, Characters the code page cannot hold were written as '?'\n");
    }
    return true;
}

bool CSystem::GetSystemTag(WString& tag) {
    tag.clear();
    os::FileLock lock;
    if (FAILED(LockSystem(lock, os::FileLock::Mode::Shared, u"GetSystemTag"))) return false;
    const WString path = m_systemPath + u"\\info.txt";
    if (os::GetEntryKind(path) == os::EntryKind::None) return true;
    // Read as bytes: a tag may start with a byte that marks a sealed file.
    File file(os::OpenFile(path, "rb"));
    if (!file) {
        TraceMessage(u"CSystem::GetSystemTag: Cannot open tagfile\n");
        return false;
    }
    std::string bytes;
    char buffer[4096];
    std::size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, read);
    if (std::ferror(file.get())) {
        TraceMessage(u"CSystem::GetSystemTag: Error reading tagfile\n");
        return false;
    }
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += bytes[i];
    }
    tag = FromAnsi(text);
    return true;
}

bool CSystem::GetSystemType(KelInstallCtrlType& type) {
    KeyDescription description;
    if (m_keyList.Empty() || !DescribeKey(m_keyList.At(0).GetKeystring(), description)) {
        TraceMessage(u"CSystem::GetSystemType, Unexpected error reading ZD-keystring\n");
        return false;
    }
    type = description.virtualController ? KelInstallCtrlType_VC : KelInstallCtrlType_RC;
    return true;
}

CKeyInfo* CSystem::FindProgram(WStringView name) {
    for (std::size_t i = 1; i < m_keyList.Size(); ++i) {
        KeyDescription description;
        if (DescribeKey(m_keyList.At(i).GetKeystring(), description) && description.programName == name) {
            return &m_keyList.At(i);
        }
    }
    return nullptr;
}

HRESULT CSystem::CheckProgramArguments(const char16_t* operation, ProgramType type, WStringView name,
                                       bool nameGiven) {
    const WString prefix = WString(u"CSystem::") + operation + u": ";
    if (m_keyList.Empty()) {
        TraceMessage(prefix + u"No Keystrings available.");
        return E_UNEXPECTED;
    }
    if (nameGiven && name.empty() && type != Zendara) {
        TraceMessage(prefix + u"No programname specified for additional program.");
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT CSystem::GetProgramPath(ProgramType type, WStringView name, bool nameGiven, WString& path) {
    const HRESULT checked = CheckProgramArguments(u"GetProgramPath", type, name, nameGiven);
    if (FAILED(checked)) return checked;
    const CKeyInfo* key = type == Zendara ? &m_keyList.At(0) : FindProgram(name);
    if (!key) {
        TraceMessage(u"CSystem::GetProgramPath, Specified program name does not exist.");
        return E_INVALIDARG;
    }
    path = key->GetProgramPath();
    return S_OK;
}

HRESULT CSystem::SetProgramPath(ProgramType type, WStringView name, bool nameGiven, WStringView path) {
    HRESULT checked = CheckProgramArguments(u"SetProgramPath", type, name, nameGiven);
    if (FAILED(checked)) return checked;
    os::FileLock lock;
    checked = BeginWrite(lock, u"SetProgramPath", true);
    if (FAILED(checked)) return checked;
    LONG releaseType = 0;
    const HRESULT opened = OpenRelease(path, releaseType, u"CSystem::SetProgramPath, Programpath %s is not valid\n",
                                       KELINSTALL_E_BAD_PROGRAM_PATH);
    if (opened != S_OK) return opened;
    // An external release is accepted whatever type the caller named.
    if (releaseType != type && (releaseType & (ExternalWithOptions | ExternalWithoutOptions)) == 0) {
        TraceFormatted(u"CSystem::SetProgramPath, Program %s is not of correct type\n", path);
        return KELINSTALL_E_BAD_PROGRAM_PATH;
    }
    const CKeyList before = m_keyList;
    if (type == Zendara) {
        for (std::size_t i = 0; i < m_keyList.Size(); ++i) {
            if (m_keyList.At(i).GetProgramType() == Zendara) m_keyList.At(i).SetProgramPath(path);
        }
    } else {
        CKeyInfo* key = FindProgram(name);
        if (!key) {
            TraceMessage(u"CSystem::SetProgramPath, Specified program name does not exist.");
            return E_INVALIDARG;
        }
        key->SetProgramPath(path);
        key->SetProgramType(static_cast<uint32_t>(releaseType));
    }
    return Reconfigure(u"SetProgramPath", before, {nullptr, nullptr, u"CSystem::SetProgramPath, Error creating system.xml in %s\n"},
                       BuildFailure::Fail);
}

HRESULT CSystem::GetSystemOptions(UniqueBstr& document) {
    os::FileLock lock;
    const HRESULT locked = LockSystem(lock, os::FileLock::Mode::Shared, u"GetSystemOptions");
    if (FAILED(locked)) return locked;
    if (m_options && !m_optionsStale) return m_options->GetXml(document.Put());
    return FAILED(ConfigSystem(document)) ? E_FAIL : S_OK;
}

HRESULT CSystem::WriteConfiguration(const WString& folder, const xml::Element& options,
                                    const CommitMessages& messages, WStringView place,
                                    const std::function<HRESULT()>& gate) {
    // system.xml reads only the finished option document and the media list,
    // so a second core builds and serializes it while this one writes key.id;
    // every file is still written here, in the same order. The media are
    // described first, here, from the program list program.id will hold. A
    // small document, or one without a thread to spare, is built when asked for.
    CConfigurationFiles files;
    std::vector<WString> programs;
    SealedFile programId;
    if (!programId.OpenBytes(CConfigurationFiles::ProgramIdText(m_systemPath, m_keyList)) ||
        files.ReadProgramId(programId, folder, programs) != 0) {
        TraceFormatted(messages.systemXml, place);
        return KELINSTALL_E_WRITE_CONFIG;
    }
    const std::vector<CSystemXml::Media> media = CSystemXml::DescribeMedia(programs);
    CSystemXml systemXml;
    HeldTraces traces;
    const std::launch policy = BesidePolicy(options.DocumentNodes());
    auto built = std::async(policy, [&] {
        return traces.Hold([&] {
            return systemXml.Build(m_systemPath, m_keyList, static_cast<int32_t>(m_serialNumber), m_serialText,
                                   options.ForReader()) &&
                   systemXml.Complete(media);
        });
    });
    // Only reads happen beside the gate; a build that it stops is never written.
    if (gate) {
        const HRESULT passed = gate();
        if (FAILED(passed)) return passed;
    }
    const bool saved = files.SaveConfiguration(folder, m_systemPath, m_keyList, options, &m_builtRelkeys) == 0;
    const bool described = built.get();
    if (!saved) {
        if (messages.save) TraceMessage(messages.save);
        return KELINSTALL_E_WRITE_CONFIG;
    }
    traces.Release();
    if (!described || !systemXml.Write(folder)) {
        TraceFormatted(messages.systemXml, place);
        return KELINSTALL_E_WRITE_CONFIG;
    }
    return S_OK;
}

HRESULT CSystem::Commit(const xml::Element& options, const CommitMessages& messages) {
    CTempFileHandler folder;
    WString work;
    if (!folder.GetWorkDirectory(work)) return KELINSTALL_E_WORK_AREA;
    const HRESULT written = WriteConfiguration(work, options, messages, work);
    if (FAILED(written)) return written;
    const std::future<void> freeing = FreeBuiltRelkeys(options);
    return InstallConfiguration(work, true);
}

std::future<void> CSystem::FreeBuiltRelkeys(const xml::Element& options) {
    // Freeing a large build's groups takes milliseconds, which a second core
    // spends while this one flushes the files. They hold nothing of a thread.
    const std::launch policy = BesidePolicy(options.DocumentNodes());
    return std::async(policy, [groups = m_builtRelkeys.TakeGroupsAndClear()]() mutable { groups.clear(); });
}

HRESULT CSystem::InstallConfiguration(const WString& work, bool withSystemXml) {
    const std::string stamp = Stamp(work);
    CCommitJournal journal(m_systemPath);
    StageConfiguration(journal, work, withSystemXml);
    if (!journal.Stage()) return KELINSTALL_E_WORK_AREA;
    m_stamp = stamp;
    return journal.Apply() == CCommitJournal::Outcome::Done ? S_OK : KELINSTALL_S_PENDING;
}

HRESULT CSystem::LockSystem(os::FileLock& lock, os::FileLock::Mode mode, const char16_t* operation) const {
    if (lock.Lock(m_systemPath + u"\\" + kLockFile, mode, os::LockWaitMilliseconds()) != os::FileLock::Result::Busy) {
        return S_OK;
    }
    TraceFormatted(u"CSystem::%s, The system %s is busy: another object or process is using it\n", operation,
                   m_systemPath);
    return KELINSTALL_E_BUSY;
}

HRESULT CSystem::BeginWrite(os::FileLock& lock, const char16_t* operation, bool keysMatter) {
    const HRESULT locked = LockSystem(lock, os::FileLock::Mode::Exclusive, operation);
    if (FAILED(locked)) return locked;
    if (CCommitJournal::IsPending(m_systemPath) && !CCommitJournal::Recover(m_systemPath)) {
        TraceFormatted(u"CSystem::%s, An earlier change of %s cannot be finished yet; nothing was changed\n", operation,
                       m_systemPath);
        return KELINSTALL_E_WORK_AREA;
    }
    if (keysMatter && Stamp(m_systemPath) != m_stamp) {
        TraceFormatted(u"CSystem::%s, %s was changed by another object or process since it was opened; open it again\n",
                       operation, m_systemPath);
        return KELINSTALL_E_BUSY;
    }
    return S_OK;
}

std::string CSystem::Stamp(WStringView folder) {
    std::string keys;
    std::string programs;
    os::ReadWholeFile(WString(folder) + u"\\INTERNAL\\keystr.txt", keys);
    os::ReadWholeFile(WString(folder) + u"\\INTERNAL\\program.id", programs);
    return keys + '\0' + programs;
}

void CSystem::StageConfiguration(CCommitJournal& journal, const WString& work, bool withSystemXml) {
    for (const char16_t* name : {u"INTERNAL\\keystr.txt", u"INTERNAL\\program.id", u"INTERNAL\\key.id"}) {
        journal.Replace(name, work + u"\\" + name);
    }
    if (withSystemXml) journal.Replace(u"system.xml", work + u"\\system.xml");
}

}  // namespace kel
