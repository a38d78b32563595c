#include "shared/temp_file_handler.h"

#include "platform/os.h"
#include "shared/file_operation.h"

namespace kel {

int CTempFileHandler::GetTempDirectory(WString& path) {
    path.clear();
    WString directory;
    WString name;
    if (!os::GetTempDirectory(directory) || !os::CreateUniqueTempFile(directory, u"cct", name)) return -4;
    CFileOperation files;
    files.Delete(name, kShellSilentFlags);
    switch (os::GetEntryKind(name)) {
        case os::EntryKind::Directory:
            return -1;
        case os::EntryKind::File:
            return -2;
        case os::EntryKind::None:
            break;
    }
    if (!os::MakeDirectory(name)) return -3;
    path = std::move(name);
    return 0;
}

bool CTempFileHandler::GetWorkDirectory(WString& path) {
    if (GetTempDirectory(path) != 0) return false;
    if (os::MakeDirectory(path + u"\\INTERNAL")) return true;
    RemoveDirectoryTree(path);
    path.clear();
    return false;
}

}  // namespace kel
