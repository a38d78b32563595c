// The work area: a change writes its new configuration files under the
// temporary directory and puts them into the system only when all are written.
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
    // A work directory with an empty INTERNAL, where the configuration files go.
    bool GetWorkDirectory(WString& path);
};

}  // namespace kel
