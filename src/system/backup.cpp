// A controller backup turned into a new system in the pool.
#include "description/backup_support.h"
#include "system/system.h"

namespace kel {

HRESULT CSystem::InitBackup(WStringView backup, WStringView systemPath, WStringView releasePath,
                            WStringView additional, uint32_t count) {
    if (!IsFreeInPool(u"InitBackup", systemPath)) return KELINSTALL_E_EXISTS;
    if (!m_media) {
        TraceMessage(u"CSystem::InitBackup, No media component to identify the releases\n");
        return E_FAIL;
    }
    UniqueBstr release = UniqueBstr::From(releasePath);
    if (!release.get()) return E_OUTOFMEMORY;
    if (FAILED(m_media->OpenMedia(release.get()))) {
        TraceFormatted(u"CSystem::InitBackup, Program: %s is not valid\n", releasePath);
        return KELINSTALL_E_BAD_PROGRAM_PATH;
    }
    LONG type = 0;
    if (FAILED(m_media->GetMediaType(&type))) {
        TraceMessage(u"CSystem::InitBackup, Failed retrieveing program type\n");
        return E_UNEXPECTED;
    }
    if (type != Zendara) {
        TraceFormatted(u"CSystem::InitBackup, Not a valid ZD-release\n%s", releasePath);
        return KELINSTALL_E_BAD_PROGRAM_PATH;
    }
    // The backup's own messages go into a buffer of their own.
    WString backupMessage;
    CBackupSupport support(backupMessage);
    WString keystrings;
    uint32_t keys = 0;
    if (FAILED(support.CheckBackup(backup, keystrings, keys))) {
        TraceFormatted(u"CSystem::InitBackup, Invalid Backup:\n%s", backup);
        return KELINSTALL_E_BAD_PROGRAM_PATH;
    }
    if (count != 0 && count > SplitPrograms(additional).size()) return E_UNEXPECTED;
    return support.ConvertBackup2System(backup, systemPath, releasePath, additional, count);
}

}  // namespace kel
