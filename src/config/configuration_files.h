// The configuration-file object: one per operation that reads or writes the
// system's configuration files.
#pragma once

#include "platform/text.h"
#include "platform/trace.h"

namespace kel {

class CConfigurationFiles {
public:
    virtual ~CConfigurationFiles() = default;

    // key.id is written sealed; nothing changes this after construction.
    int Sealed() const { return m_sealed; }
    const WString& LastError() const { return m_lastError; }

protected:
    // A fixed text: traced, the last error left alone.
    static void TraceError(WStringView message) { Trace(u"ConfigurationFiles", message); }
    // A formatted text: kept as the last error, then traced.
    template <class... Args>
    void TraceFormatted(WStringView format, const Args&... args) {
        m_lastError = Format(format, args...);
        Trace(u"ConfigurationFiles", m_lastError);
    }

private:
    const int m_sealed = 1;
    WString m_lastError;
};

}  // namespace kel
