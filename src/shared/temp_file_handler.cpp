#include "shared/temp_file_handler.h"

#include <mutex>


#include "shared/file_operation.h"

namespace kel {

namespace {

constexpr char16_t kPrefix[] = u"cct";

WString Marker(WStringView folder) { return WString(folder) + u"\\" + kLockFile; }

bool IsWorkFolderName(WStringView name) {
    if (name.size() != 11 || !name.starts_with(kPrefix) || !name.ends_with(u".tmp")) return false;
    for (const char16_t c : name.substr(3, 4)) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
    }
    return true;
}

}  // namespace

WString StagingPathFor(WStringView path) {
    const std::size_t slash = path.rfind(u'\\');
    return WString(path.substr(0, slash + 1)) + u"~" + WString(path.substr(slash + 1));
}

bool IsAbandonedWorkFolder(WStringView path) {
    const WString marker = Marker(path);
    return !os::IsLink(path) && os::GetEntryKind(marker) == os::EntryKind::File && os::IsUnlocked(marker) &&
           os::OwnedByCurrentUser(path);
}

void RemoveAbandonedWorkFolders(WStringView directory) {
    std::vector<os::DirEntry> entries;
    os::ListDirectory(directory, entries);
    for (const os::DirEntry& entry : entries) {
        const WString path = WString(directory) + u"\\" + entry.name;
        if (entry.isDirectory && !entry.isLink && IsWorkFolderName(entry.name) && IsAbandonedWorkFolder(path)) {
            RemoveDirectoryTree(path);
        }
    }
}

bool CTempFileHandler::Mark() {
    if (os::MakeDirectory(m_path + u"\\INTERNAL") && m_marker.CreateLocked(Marker(m_path))) return true;
    os::MarkOwnFolder(m_path, false);
    RemoveDirectoryTree(m_path);
    m_path.clear();
    return false;
}

int CTempFileHandler::GetTempDirectory(WString& path) {
    Remove();
    path.clear();
    WString directory;
    if (!os::GetTempDirectory(directory)) return -4;
    static std::once_flag once;
    std::call_once(once, [&] { RemoveAbandonedWorkFolders(directory); });
    if (!os::CreateUniqueTempFolder(directory, kPrefix, m_path)) return -4;
    // A work folder holds only the names it is given here.
    os::MarkOwnFolder(m_path, true);
    if (!Mark()) return -3;
    path = m_path;
    return 0;
}

bool CTempFileHandler::GetWorkDirectory(WString& path) { return GetTempDirectory(path) == 0; }

bool CTempFileHandler::CreateAt(WStringView path) {
    Remove();
    if (!os::MakeDirectory(path)) {
        if (!IsAbandonedWorkFolder(path)) return false;
        RemoveDirectoryTree(path);
        if (!os::MakeDirectory(path)) return false;
    }
    m_path = path;
    return Mark();
}

bool CTempFileHandler::FlushSystemFiles() const {
    for (const char16_t* name : {u"INTERNAL\\system.guid", u"INTERNAL\\template.guid", u"INTERNAL\\keystr.txt",
                                 u"INTERNAL\\program.id", u"INTERNAL\\key.id", u"system.xml"}) {
        const WString path = m_path + u"\\" + name;
        if (os::GetEntryKind(path) != os::EntryKind::File) continue;
        if (!os::FlushFileAt(path)) return false;
    }
    return os::FlushDirectory(m_path + u"\\INTERNAL") && os::FlushDirectory(m_path);
}

bool CTempFileHandler::MoveTo(WStringView target) {
    // Windows renames no folder with a file open inside it.
    m_marker.Unlock();
    os::MarkOwnFolder(m_path, false);
    if (os::Rename(m_path, target) != os::RenameResult::Ok) return false;
    m_path.clear();
    return true;
}

void CTempFileHandler::Remove() {
    if (m_path.empty()) return;
    m_marker.Unlock();
    os::MarkOwnFolder(m_path, false);
    RemoveDirectoryTree(m_path);
    m_path.clear();
}

}  // namespace kel
