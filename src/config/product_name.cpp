#include "config/configuration_files.h"
#include "config/serial_text.h"
#include "platform/os.h"

namespace kel {

int CConfigurationFiles::SerialNr_LongToStr(int32_t serial, WString& text) {
    text = serial < 0 ? WString() : SerialNrToText(static_cast<uint32_t>(serial));
    if (text.empty()) {
        TraceError(u"CConfigurationFiles::SerialNr_LongToStr, Serial number outside valid interval\n");
        return -1;
    }
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
