#include "shared/temp_file_handler.h"

#include "platform/os.h"
#include "platform/trace.h"
#include "shared/file_operation.h"

namespace kel {

namespace {

constexpr const char16_t* kInternalFiles[] = {u"keystr.txt", u"program.id", u"key.id", u"system.guid"};

WString Join(WStringView a, WStringView b) {
    WString out(a);
    out.push_back(u'\\');
    out.append(b);
    return out;
}

}  // namespace

bool CTempFileHandler::Fail(WStringView format, WStringView path) {
    m_lastError = Format(format, path);
    Trace(u"TempFileHandler", m_lastError);
    return false;
}

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

bool CTempFileHandler::CopyFile(WStringView sourceDirectory, WStringView destinationDirectory, WStringView name) {
    const WString source = Join(sourceDirectory, name);
    if (CFileOperation().Copy(source, Join(destinationDirectory, name), kShellSilentFlags)) return true;
    return Fail(u"CTempFileHandler::CopyFile, Unable to copy file %s.\n", source);
}

bool CTempFileHandler::MoveFile(WStringView sourceDirectory, WStringView destinationDirectory, WStringView name) {
    const WString source = Join(sourceDirectory, name);
    if (CFileOperation().Move(source, Join(destinationDirectory, name), kShellSilentFlags)) return true;
    return Fail(u"CTempFileHandler::MoveFile, Unable to move file %s.\n", source);
}

bool CTempFileHandler::MoveDirectory(WStringView sourceDirectory, WStringView destinationDirectory, WStringView name) {
    const WString source = Join(sourceDirectory, name);
    if (CFileOperation().Move(source + u"\\*", Join(destinationDirectory, name), kShellSilentFlags)) return true;
    return Fail(u"CTempFileHandler::MoveFile, Unable to move directory %s.\n", source);
}

bool CTempFileHandler::CopyToTemp(WStringView systemDirectory, WString& workDirectory) {
    WString work;
    if (GetTempDirectory(work) != 0) return false;
    const WString systemInternal = Join(systemDirectory, u"INTERNAL");
    const WString workInternal = Join(work, u"INTERNAL");
    bool ok = CopyFile(systemDirectory, work, u"HOME") && CopyFile(systemDirectory, work, u"SYSPAR");
    if (ok && CFileOperation().DirectoryExists(Join(systemDirectory, u"BACKUP"))) ok = CopyFile(systemDirectory, work, u"BACKUP");
    ok = ok && CFileOperation().CreateDirectory(workInternal, false);
    for (const char16_t* file : kInternalFiles) ok = ok && CopyFile(systemInternal, workInternal, file);
    ok = ok && CopyFile(systemDirectory, work, u"system.xml");
    if (!ok) {
        RemoveDirectoryTree(work);
        return false;
    }
    workDirectory = std::move(work);
    return true;
}

bool CTempFileHandler::MoveFromTemp(WStringView workDirectory, WStringView systemDirectory) {
    if (!MoveDirectory(workDirectory, systemDirectory, u"HOME") || !MoveDirectory(workDirectory, systemDirectory, u"SYSPAR")) {
        return false;
    }
    if (CFileOperation().DirectoryExists(Join(workDirectory, u"BACKUP")) &&
        !MoveDirectory(workDirectory, systemDirectory, u"BACKUP")) {
        return false;
    }
    const WString workInternal = Join(workDirectory, u"INTERNAL");
    const WString systemInternal = Join(systemDirectory, u"INTERNAL");
    for (const char16_t* file : kInternalFiles) {
        if (!MoveFile(workInternal, systemInternal, file)) return false;
    }
    if (!MoveFile(workDirectory, systemDirectory, u"system.xml")) return false;
    RemoveDirectoryTree(workDirectory);
    return true;
}

}  // namespace kel
