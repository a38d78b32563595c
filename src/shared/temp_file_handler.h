// The work area: every configuration change is assembled in a copy of the
// system under the temporary directory and moved back only when complete.
#pragma once

#include "KelCom.h"
#include "platform/text.h"

namespace kel {

class CTempFileHandler {
public:
    virtual ~CTempFileHandler() = default;

    // Reserves a new, empty work directory. 0 on success; -1 the name exists as
    // a directory, -2 as a file, -3 it cannot be created, -4 no temporary name.
    int GetTempDirectory(WString& path);

    bool CopyToTemp(WStringView systemDirectory, WString& workDirectory);
    bool MoveFromTemp(WStringView workDirectory, WStringView systemDirectory);

    bool CopyFile(WStringView sourceDirectory, WStringView destinationDirectory, WStringView name);
    bool MoveFile(WStringView sourceDirectory, WStringView destinationDirectory, WStringView name);
    bool MoveDirectory(WStringView sourceDirectory, WStringView destinationDirectory, WStringView name);

    const WString& LastError() const { return m_lastError; }

private:
    bool Fail(WStringView format, WStringView path);

    WString m_lastError;
};

}  // namespace kel
