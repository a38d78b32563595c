#include "shared/serial_text.h"

namespace kel {

WString SerialNrToText(std::uint32_t serial) {
    switch (serial) {
        case kSerialUnknown: return u"XX-XXXXX";
        case kSerialInternal: return u"INTERNAL_USE";
        case kSerialVirtual: return u"VIRTUAL_USE";
        default: break;
    }
    if (serial > kSerialMax) return {};
    WString text(8, u'0');
    for (int i = 7; i >= 0; --i) {
        if (i == 2) {
            text[i] = u'-';
            continue;
        }
        text[i] = static_cast<char16_t>(u'0' + serial % 10);
        serial /= 10;
    }
    return text;
}

}  // namespace kel
