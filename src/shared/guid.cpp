#include "shared/guid.h"

#include <cstdio>

#include "platform/os.h"
#include "platform/raii.h"
#include "platform/trace.h"

namespace kel {

WString CGUID::ToText(const GUID& g, int format) {
    char buffer[64];
    if (format == kFieldsFormat) {
        std::snprintf(buffer, sizeof buffer, "%x %x %x %x %x %x %x %x %x %x %x", static_cast<unsigned>(g.Data1),
                      g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                      g.Data4[6], g.Data4[7]);
        return FromAscii(buffer);
    }
    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" by hand: a large release makes
    // thousands of these.
    WString text(38, u'-');
    std::size_t at = 1;
    const auto hex = [&](uint32_t value, int digits) {
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text[at++] = u"0123456789ABCDEF"[(value >> shift) & 0xF];
    };
    text[0] = u'{';
    hex(g.Data1, 8);
    ++at;
    hex(g.Data2, 4);
    ++at;
    hex(g.Data3, 4);
    ++at;
    for (int i = 0; i < 8; ++i) {
        if (i == 2) ++at;
        hex(g.Data4[i], 2);
    }
    text[at] = u'}';
    return text;
}

bool CGUID::GenerateGUID(int format, WString& text) {
    GUID guid;
    if (!os::NewGuid(guid)) return false;
    if (format != kFieldsFormat && format != kRegistryFormat) {
        TraceShort(u"GUID", u"CGUID::GenerateGUID: Unsupported GUID format specified\n");
        return false;
    }
    text = ToText(guid, format);
    return true;
}

bool CGUID::CreateGUIDFile(WStringView path, int format) {
    File file(os::OpenFile(path, "wb"));
    if (!file) {
        m_lastError = Format(u"CGUID::CreateGUIDFile: Could not create GUID file %s!\n", path);
        TraceShort(u"GUID", m_lastError);
        return false;
    }
    WString text;
    if (!GenerateGUID(format, text)) return false;
    const std::string bytes = ToAnsi(text);
    const bool written = os::WriteBytes(file.get(), bytes.data(), bytes.size());
    if (!file.Close() || !written) {
        m_lastError = Format(u"CGUID::CreateGUIDFile: Could not write to file %s\n", path);
        TraceShort(u"GUID", m_lastError);
        return false;
    }
    return true;
}

}  // namespace kel
