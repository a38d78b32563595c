// The work area: a change writes its new files in a work folder and puts them
// into the system only when all are written. A work folder is made for one
// call and removed at its end; it carries an owner marker (INTERNAL\kel.lock,
// locked while its maker lives), so that a folder whose process died can be
// told from one in use and removed by a later call.
#pragma once

#include "KelCom.h"
#include "platform/os.h"
#include "platform/text.h"

namespace kel {

class CTempFileHandler {
public:
    CTempFileHandler() = default;
    ~CTempFileHandler() { Remove(); }
    CTempFileHandler(const CTempFileHandler&) = delete;
    CTempFileHandler& operator=(const CTempFileHandler&) = delete;

    // A new work folder "cctXXXX.tmp" in the temporary directory. 0 on
    // success; -3 it cannot be created, -4 no temporary name is free.
    int GetTempDirectory(WString& path);
    // The same, with an empty INTERNAL where the configuration files go.
    bool GetWorkDirectory(WString& path);
    // A new folder at exactly path, made exclusively; false when anything is
    // there or it cannot be made. A folder left there by a process that died
    // is removed first.
    bool CreateAt(WStringView path);
    // Puts the files a system opens with (those there are) and the folders
    // holding them on the disk, before MoveTo gives the folder its name.
    bool FlushSystemFiles() const;
    // Puts the folder at target in one rename (the same volume). The marker
    // stays, as the lock file of the system the folder becomes.
    bool MoveTo(WStringView target);
    // Deletes the folder now.
    void Remove();
    const WString& Path() const { return m_path; }

private:
    bool Mark();

    WString m_path;
    os::FileLock m_marker;
};

// The lock file of a system, and the owner marker of a work folder.
inline constexpr char16_t kLockFile[] = u"INTERNAL\\kel.lock";

// Where a new system at path is built: beside its place, under a name no
// system can have (a system name never holds "~"), so that one rename puts it
// there whole.
WString StagingPathFor(WStringView path);

// Whether path is a work folder whose maker is gone: it carries the marker,
// unlocked, and belongs to this user.
bool IsAbandonedWorkFolder(WStringView path);
// Removes the abandoned work folders ("cctXXXX.tmp") in directory. The work
// area does it for the temporary directory once per process.
void RemoveAbandonedWorkFolders(WStringView directory);

}  // namespace kel
