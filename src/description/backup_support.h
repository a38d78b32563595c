// Controller backups: checking one, reading its description and turning it
// into a new system in a pool.
#pragma once

#include <cstdint>
#include <vector>

#include "KelCom.h"
#include "platform/text.h"

namespace kel {

class CBackupSupport {
public:
    // Formatted messages go into the owner's message buffer.
    explicit CBackupSupport(WString& messageBuffer) : m_message(messageBuffer) {}
    virtual ~CBackupSupport() = default;

    // The keystrings of the backup's system.xml, joined by ";".
    HRESULT CheckBackup(WStringView backup, WString& keystrings, uint32_t& count);
    HRESULT GetBackupInfo(WStringView backup, WString& text);
    // Builds the new system in a work directory and moves it to systemPath.
    // additional: program folders separated by ";".
    HRESULT ConvertBackup2System(WStringView backup, WStringView systemPath, WStringView releasePath,
                                 WStringView additional, uint32_t count);
    HRESULT ExtractKeystrings(WStringView backup, WString& keystrings, uint32_t& count);
    // Writes sourceFile, renamed to the system of newSystemPath, as targetDir\system.xml.
    HRESULT ModifySystemXml(WStringView sourceFile, WStringView targetDir, WStringView newSystemPath);
    HRESULT MakeProgramId(WStringView file, WStringView releasePath, WStringView additional, uint32_t count);

    bool FindBackInfoFile(WStringView backup);
    bool FindSystemXml(WStringView backup);
    bool FindKeyid(WStringView backup);
    bool FindKeystrtxt(WStringView backup);
    bool FindProgramid(WStringView backup);

private:
    bool Find(const char16_t* check, const WString& path);
    template <class... Args>
    void TraceFormatted(WStringView format, const Args&... args);

    WString& m_message;
};

// The non-empty pieces of a ";"-separated list.
std::vector<WString> SplitPrograms(WStringView list);

}  // namespace kel
