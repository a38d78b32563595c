#include "description/backup_support.h"

#include <algorithm>

#include <vector>

#include "KelInstallSystem.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "platform/trace.h"
#include "platform/xml.h"
#include "description/system_xml.h"
#include "shared/guid.h"
#include "shared/file_operation.h"
#include "shared/temp_file_handler.h"

namespace kel {

namespace {

// The flags the conversion copies and moves with.
constexpr unsigned kBackupFlags = 0x614;

void TraceError(WStringView message) { Trace(u"BackupSupport", message); }

WString Join(WStringView directory, WStringView name) { return WString(directory) + u"\\" + WString(name); }

}  // namespace

std::vector<WString> SplitPrograms(WStringView list) {
    std::vector<WString> pieces;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t end = std::min(list.find(u';', start), list.size());
        if (end > start) pieces.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

template <class... Args>
void CBackupSupport::TraceFormatted(WStringView format, const Args&... args) {
    m_message = Format(format, args...);
    TraceError(m_message);
}

bool CBackupSupport::Find(const char16_t* check, const WString& path) {
    if (CFileOperation().FileExists(path)) return true;
    TraceFormatted(WString(u"CBackupSupport::") + check + u": Backup is missing %s", path);
    return false;
}

bool CBackupSupport::FindBackInfoFile(WStringView backup) {
    return Find(u"FindBackInfoFile", Format(u"%s\\%s\\%s", backup, u"BACKINFO", u"backinfo.txt"));
}
bool CBackupSupport::FindSystemXml(WStringView backup) { return Find(u"FindSystemXml", Join(backup, u"system.xml")); }
bool CBackupSupport::FindKeyid(WStringView backup) {
    return Find(u"FindKeyid", Format(u"%s\\%s\\%s", backup, u"BACKINFO", u"key.id"));
}
bool CBackupSupport::FindKeystrtxt(WStringView backup) {
    return Find(u"FindKeystrtxt", Format(u"%s\\%s\\%s", backup, u"BACKINFO", u"keystr.txt"));
}
bool CBackupSupport::FindProgramid(WStringView backup) {
    return Find(u"FindProgramid", Format(u"%s\\%s\\%s", backup, u"BACKINFO", u"program.id"));
}

HRESULT CBackupSupport::CheckBackup(WStringView backup, WString& keystrings, uint32_t& count) {
    keystrings.clear();
    count = 0;
    if (!FindBackInfoFile(backup) || !FindSystemXml(backup) || !FindKeyid(backup) || !FindKeystrtxt(backup) ||
        !FindProgramid(backup)) {
        return E_INVALIDARG;
    }
    const HRESULT hr = ExtractKeystrings(backup, keystrings, count);
    if (FAILED(hr)) {
        TraceError(u"CBackupSupport::CheckBackup: Unexpected error");
        return E_UNEXPECTED;
    }
    return hr;
}

HRESULT CBackupSupport::ExtractKeystrings(WStringView backup, WString& keystrings, uint32_t& count) {
    keystrings.clear();
    count = 0;
    xml::Document document = xml::Document::Create();
    if (!document) {
        TraceError(u"CBackupSupport::ExtractKeystrings, Failure initialize XMLDOMDocument");
        return E_FAIL;
    }
    if (!document.Load(Join(backup, u"system.xml"))) return E_FAIL;
    for (const xml::Element& key : document.Descendants(u"Key")) {
        if (count++) keystrings += u';';
        keystrings += key.Text();
    }
    return S_OK;
}

HRESULT CBackupSupport::GetBackupInfo(WStringView backup, WString& text) {
    WString keystrings;
    uint32_t count = 0;
    const HRESULT checked = CheckBackup(backup, keystrings, count);
    if (FAILED(checked)) {
        m_message = u"CBackupSupport::GetBackupInfo: Not an correct backup.\n";
        TraceError(m_message);
        return checked;
    }
    xml::Document document = xml::Document::Create();
    if (!document || !document.Load(Join(backup, u"system.xml"))) {
        TraceFormatted(u"CBackupSupport::GetBackupInfo: Unable to load file: %s.\n", backup);
        return E_FAIL;
    }
    const std::optional<WString> serialized = document.Serialize();
    if (!serialized) {
        TraceError(u"CBackupSupport::GetBackupInfo: Unable to retrieve system info.\n");
        return E_FAIL;
    }
    text = *serialized;
    return S_OK;
}

HRESULT CBackupSupport::ModifySystemXml(WStringView sourceFile, WStringView targetDir, WStringView newSystemPath) {
    const std::size_t slash = newSystemPath.rfind(u'\\');
    if (slash == WStringView::npos) {
        TraceError(u"CBackupSupport::ModifySystemXml, Corrupt system path detected!");
        return E_UNEXPECTED;
    }
    xml::Document document = xml::Document::Create();
    if (!document) {
        TraceError(u"CBackupSupport::ModifySystemXml, Failure initialize temporary XMLDOMDocument");
        return E_FAIL;
    }
    if (!document.Load(sourceFile)) {
        TraceError(u"CBackupSupport::ModifySystemXml, Failure loading system.xml");
        return E_FAIL;
    }
    const xml::Element root = document.Root();
    xml::Element name = root && root.Name() == u"SystemProperties" ? root.FirstChild(u"SystemName") : xml::Element();
    if (!name) {
        TraceError(u"CBackupSupport::ModifySystemXml, XML-file corrupt");
        return E_UNEXPECTED;
    }
    if (!name.SetText(newSystemPath.substr(slash + 1))) {
        TraceError(u"CBackupSupport::ModifySystemXml, Failure writing XML");
        return E_FAIL;
    }
    if (!document.Save(Join(targetDir, u"system.xml"))) {
        TraceError(u"CBackupSupport::ModifySystemXml, Failure saving system.xml");
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CBackupSupport::MakeProgramId(WStringView file, WStringView releasePath, WStringView additional,
                                      uint32_t count) {
    File stream(os::OpenFile(file, "wb"));
    if (!stream) {
        TraceError(u"CBackupSupport::MakeProgramId: Couldn't create file!");
        return E_UNEXPECTED;
    }
    std::string text = ToAnsi(Format(u"#Setup program(s) in %s:\r\n", file)) + ToAnsi(releasePath) + "\r\n";
    if (count != 0) {
        for (const WString& program : SplitPrograms(additional)) text += ToAnsi(program) + "\r\n";
    }
    if (!os::WriteBytes(stream.get(), text.data(), text.size()) || !stream.Close()) {
        TraceError(u"CBackupSupport::MakeProgramId: Couldn't write to file!");
        return KELINSTALL_E_WRITE_PROGRAM_LIST;
    }
    return S_OK;
}

HRESULT CBackupSupport::ConvertBackup2System(WStringView backup, WStringView systemPath, WStringView releasePath,
                                             WStringView additional, uint32_t count) {
    WString keystrings;
    uint32_t keys = 0;
    HRESULT hr = CheckBackup(backup, keystrings, keys);
    if (FAILED(hr)) {
        TraceError(u"CBackupSupport::CheckBackup: Not a valid backup");
        return hr;
    }
    if (systemPath.rfind(u'\\') == WStringView::npos) {
        TraceError(u"CBackupSupport::ModifySystemXml, Corrupt system path detected!");
        return E_UNEXPECTED;
    }
    // Made whole beside its place in the pool, then put there in one rename;
    // every failure removes it.
    CTempFileHandler folder;
    if (!folder.CreateAt(StagingPathFor(systemPath))) {
        TraceError(u"CBackupSupport::CheckBackup: Couldn't create temporary folder");
        return E_UNEXPECTED;
    }
    const WString& work = folder.Path();
    CFileOperation files;
    if (!os::MakeDirectory(Join(work, u"HOME")) || !os::MakeDirectory(Join(work, u"SYSPAR"))) {
        return KELINSTALL_E_CREATE_DIRECTORY;
    }
    const WString internal = Join(work, u"INTERNAL");
    if (!files.Copy(Join(backup, u"BACKINFO") + u"\\*", internal, kBackupFlags)) {
        TraceError(u"CBackupSupport::CheckBackup: Failure copying backup");
        return KELINSTALL_E_WORK_AREA;
    }
    for (const char16_t* directory : {u"RAPID", u"REPORTS", u"OPTIONS"}) {
        const WString path = Join(internal, directory);
        if (os::GetEntryKind(path) != os::EntryKind::Directory && !os::MakeDirectory(path)) {
            TraceFormatted(u"CBackupSupport::CheckBackup: Could not create directory %s\n", path);
            return KELINSTALL_E_CREATE_DIRECTORY;
        }
    }
    // The copy lands inside the new BACKUP directory, as the shell's copy into a folder does.
    os::MakeDirectory(Join(work, u"BACKUP"));
    if (!files.Copy(WString(backup) + u"\\*", Join(work, u"BACKUP"), kBackupFlags)) {
        TraceError(u"CBackupSupport::CheckBackup: Failure copying backup");
        return KELINSTALL_E_WORK_AREA;
    }
    if (FAILED(ModifySystemXml(Join(backup, u"system.xml"), work, systemPath))) {
        TraceError(u"CBackupSupport::CheckBackup: Failure copying system XML");
        return KELINSTALL_E_WORK_AREA;
    }
    if (!CGUID().CreateGUIDFile(Join(internal, u"system.guid"), CGUID::kRegistryFormat)) {
        TraceError(u"CBackupSupport::ConvertBackup2System: Couldn't generate new system GUID!");
        return KELINSTALL_E_GUID_FILE;  // a system without its GUID would not be one
    }
    hr = MakeProgramId(Join(internal, u"program.id"), releasePath, additional, count);
    if (FAILED(hr)) return hr;
    if (FAILED(CSystemXml().ChangeMediaInSystemXml(work))) {
        TraceError(u"CBackupSupport::InitBackup: Failure modifying system XML");
        return E_UNEXPECTED;
    }
    if (!folder.FlushSystemFiles() || !folder.MoveTo(systemPath)) {
        TraceError(u"CBackupSupport::ConvertBackup2System: Couldn't move new system!");
        return KELINSTALL_E_WORK_AREA;
    }
    return S_OK;
}

}  // namespace kel
