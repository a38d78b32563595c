#include <climits>
#include <cstdio>

#include "shared/outside_factory.h"
#include "config/configuration_files.h"
#include "shared/serial_text.h"
#include "shared/internal_component.h"
#include "options/relkey_file.h"
#include "platform/os.h"
#include "platform/raii.h"

namespace kel {

namespace {

// C _wtoi: optional blanks and sign, then digits; anything else ends the number.
int ToInt(WStringView text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

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

int CConfigurationFiles::GetProductName(WStringView releaseDir, WStringView relkeyPath, WString& text) {
    text.clear();
    WString folder(releaseDir);
    FindMediaIdFolder(folder);
    const WString versionFile = folder + u"\\version.xml";

    if (os::GetEntryKind(versionFile) == os::EntryKind::None) {
        // Without version.xml the option definition file's title names the product.
        CRelkeyFile relkey;
        WString title;
        if (relkey.GetTitle(relkeyPath.substr(0, 259), title) != S_OK) return 0;
        text = std::move(title);
        return 1;
    }

    ComPtr<IKelInstallInternal> internal;
    if (FAILED(CreateOutsideComponent(CLSID_KelInstallInternal, IID_IKelInstallInternal, internal.PutVoid())) ||
        !internal) {
        TraceError(u"CConfigurationFiles::GetProductName, Cannot init KelInstallInternal");
        return 0;
    }
    UniqueBstr path = UniqueBstr::From(versionFile);
    const auto query = [&](const char16_t* xpath, WString& value) {
        UniqueBstr expression = UniqueBstr::From(xpath);
        UniqueBstr result;
        if (!path.get() || !expression.get()) return false;
        if (FAILED(internal->GetXmlText(path.get(), expression.get(), result.Put()))) return false;
        value = result.View();
        return true;
    };
    uint16_t version[4] = {};
    const char16_t* const parts[4] = {u"//Major", u"//Minor", u"//Build", u"//Revision"};
    WString value;
    for (int i = 0; i < 4; ++i) {
        if (!query(parts[i], value)) return 0;
        version[i] = static_cast<uint16_t>(ToInt(value));
    }
    WString title;
    if (!query(u"//Title", title)) return 0;
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%d.%02d.%04d.%02d", version[0], version[1], version[2], version[3]);
    text = title + u" " + FromAscii(numbers);
    return 1;
}

}  // namespace kel
