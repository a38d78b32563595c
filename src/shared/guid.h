// New GUIDs as text, and the GUID files that mark a system.
#pragma once

#include "KelCom.h"
#include "platform/text.h"

namespace kel {

class CGUID {
public:
    // 0: "%x %x ..." (eleven blank-separated fields); 1: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
    static constexpr int kFieldsFormat = 0;
    static constexpr int kRegistryFormat = 1;

    bool GenerateGUID(int format, WString& text);
    // Writes one GUID, no line end; a failed generation leaves the file empty.
    bool CreateGUIDFile(WStringView path, int format);

    static WString ToText(const GUID& guid, int format);

    const WString& LastError() const { return m_lastError; }

private:
    WString m_lastError;
};

}  // namespace kel
