#include "shared/file_operation.h"

#include "platform/os.h"

namespace kel {

namespace {

// The shell takes each path in a 260-character buffer with its terminator.
constexpr std::size_t kMaxShellPath = 259;
constexpr int kPathTooLong = 0x7C;

}  // namespace

bool CFileOperation::Run(ShellOperation operation, WStringView source, WStringView destination, unsigned flags) {
    if (source.size() > kMaxShellPath || destination.size() > kMaxShellPath) {
        m_lastResult = kPathTooLong;
        return false;
    }
    m_lastResult = ShellFileOperation(operation, source, destination, flags);
    return m_lastResult == 0;
}

bool CFileOperation::Move(WStringView source, WStringView destination, unsigned flags) {
    return Run(ShellOperation::Move, source, destination, flags);
}

bool CFileOperation::Copy(WStringView source, WStringView destination, unsigned flags) {
    return Run(ShellOperation::Copy, source, destination, flags);
}

bool CFileOperation::Delete(WStringView path, unsigned flags) { return Run(ShellOperation::Delete, path, {}, flags); }

bool CFileOperation::FileExists(WStringView path) const { return os::GetEntryKind(path) == os::EntryKind::File; }

bool CFileOperation::DirectoryExists(WStringView path) const {
    return !path.empty() && os::GetEntryKind(path) == os::EntryKind::Directory;
}

bool CFileOperation::IsRootedPath(WStringView path) {
    if (path.size() >= 3 && path[1] == u':' && path[2] == u'\\') return true;
    return path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\';
}

bool CFileOperation::CreateDirectory(WStringView path, bool recursive) const {
    if (!IsRootedPath(path)) return false;
    if (recursive) {
        std::size_t start = 3;
        if (path[0] == u'\\') {
            // After the share name: the second backslash found from index 2.
            const std::size_t server = path.find(u'\\', 2);
            const std::size_t share = server == WStringView::npos ? server : path.find(u'\\', server + 1);
            if (share == WStringView::npos) return os::MakeDirectory(path);
            start = share + 1;
        }
        for (std::size_t slash = path.find(u'\\', start); slash != WStringView::npos; slash = path.find(u'\\', slash + 1)) {
            const WStringView prefix = path.substr(0, slash);
            if (os::GetEntryKind(prefix) == os::EntryKind::None && !os::MakeDirectory(prefix)) return false;
        }
    }
    return os::MakeDirectory(path);
}

void RemoveDirectoryTree(WStringView directory) { CFileOperation().Delete(directory, kShellSilentFlags); }

}  // namespace kel
