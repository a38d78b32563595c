#include <cstdio>

#include "config/configuration_files.h"
#include "platform/os.h"

namespace kel {

int CConfigurationFiles::SerialNr_LongToStr(int32_t serial, WString& text) {
    text.clear();
    switch (serial) {
        case 0xFFFFFF:
            text = u"XX-XXXXX";
            return 0;
        case 0xFFFF28:
            text = u"INTERNAL_USE";
            return 0;
        case 0xFFFF29:
            text = u"VIRTUAL_USE";
            return 0;
        default:
            break;
    }
    if (serial < 0 || serial > 9999999) {
        TraceError(u"CConfigurationFiles::SerialNr_LongToStr, Serial number outside valid interval\n");
        return -1;
    }
    char digits[16];
    std::snprintf(digits, sizeof digits, "%07d", static_cast<int>(serial));
    text = FromAscii(digits);
    text.insert(2, 1, u'-');
    return 0;
}

int CConfigurationFiles::FindMediaIdFolder(WString& releaseDir) {
    if (os::GetEntryKind(releaseDir + u"\\media.id") != os::EntryKind::None) return 1;
    if (os::GetEntryKind(Format(u"%s\\sys_pack\\%s", releaseDir, u"media.id")) != os::EntryKind::None) {
        releaseDir += u"\\sys_pack";
        return 1;
    }
    return 0;
}

}  // namespace kel
