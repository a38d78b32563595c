#include "shared/media_component.h"

#include <climits>
#include <cstdio>
#include <new>
#include <optional>
#include <string>

#include "shared/com_object_base.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "platform/xml.h"

namespace kel {

namespace {

// media.id is a handful of lines; anything this large is not one.
constexpr std::size_t kMaxMediaIdBytes = 64 * 1024;

WString Join(WStringView directory, WStringView name) {
    WString path(directory);
    if (!path.empty() && path.back() != u'\\') path += u'\\';
    path += name;
    return path;
}

bool ReadSmallFile(WStringView path, std::string& bytes) {
    File file(os::OpenFile(path, "rb"));
    if (!file) return false;
    // Read as it comes, not into a zeroed buffer of the largest size:
    // every operation reads its releases' media.id.
    bytes.clear();
    char buffer[4096];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
        bytes.append(buffer, n);
        if (bytes.size() > kMaxMediaIdBytes) return false;
        if (n < sizeof buffer) return !std::ferror(file.get());
    }
}

WStringView Trim(WStringView text) {
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool IsReleaseName(WStringView name) {
    if (name.empty() || name.size() > 64) return false;
    for (char16_t c : name) {
        const bool ok = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
                        c == u'_' || c == u'.' || c == u'-';
        if (!ok) return false;
    }
    return true;
}

std::optional<LONG> ParseType(WStringView text) {
    if (text.empty() || text.size() > 2) return std::nullopt;
    LONG value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    if (value != 1 && value != 2 && value != 4 && value != 8 && value != 16) return std::nullopt;
    return value;
}

// Like the C runtime's _wtoi, kept as a 16-bit value: text that is no number is 0.
uint16_t ToVersionPart(WStringView text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > INT_MAX) {
            value = negative ? static_cast<long long>(INT_MAX) + 1 : INT_MAX;
            break;
        }
    }
    return static_cast<uint16_t>(negative ? -value : value);
}

HRESULT ParseMediaId(std::string_view bytes, MediaInfo& info) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::optional<WString> name;
    std::optional<LONG> type;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        const WString wide = FromAnsi(line);
        const WStringView text = Trim(wide);
        if (text.empty() || text.front() == u'#') continue;
        const std::size_t equals = text.find(u'=');
        if (equals == WStringView::npos) return KEL_MEDIA_E_INVALID_MEDIA_ID;
        const WStringView key = Trim(text.substr(0, equals));
        const WStringView value = Trim(text.substr(equals + 1));
        if (EqualsNoCase(key, u"Name")) {
            if (!IsReleaseName(value)) return KEL_MEDIA_E_INVALID_MEDIA_ID;
            name = WString(value);
        } else if (EqualsNoCase(key, u"Type")) {
            type = ParseType(value);
            if (!type) return KEL_MEDIA_E_INVALID_MEDIA_ID;
        }
    }
    if (!name || !type) return KEL_MEDIA_E_INVALID_MEDIA_ID;
    info.name = std::move(*name);
    info.type = *type;
    return S_OK;
}

// version.xml is optional; without a readable one the version is 0.0.0.0.
void ReadVersion(WStringView path, MediaInfo& info) {
    if (os::GetEntryKind(path) != os::EntryKind::File) return;
    xml::Document doc = xml::Document::Create();
    if (!doc || !doc.Load(path)) return;
    const auto part = [&](WStringView xpath) { return ToVersionPart(doc.SelectSingleText(xpath).value_or(u"")); };
    info.major = part(u"//Major");
    info.minor = part(u"//Minor");
    info.build = part(u"//Build");
    info.revision = part(u"//Revision");
}

class CKelInstallMedia final : public ComObjectBase<IKelInstallMedia, IID_IKelInstallMedia> {
public:
    HRESULT STDMETHODCALLTYPE OpenMedia(BSTR bstrMediaPath) override {
        try {
            MediaInfo info;
            const HRESULT hr = ReadMediaInfo(UniqueBstr::View(bstrMediaPath), info);
            if (FAILED(hr)) return hr;  // the previous release stays current
            current_ = std::move(info);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT STDMETHODCALLTYPE GetThirdVersion(uint16_t* pThird) override {
        if (!pThird) return E_POINTER;
        *pThird = current_ ? current_->revision : 0;
        return current_ ? S_OK : KEL_MEDIA_E_NOT_OPEN;
    }

    HRESULT STDMETHODCALLTYPE GetMediaType(LONG* pType) override {
        if (!pType) return E_POINTER;
        *pType = current_ ? current_->type : 0;
        return current_ ? S_OK : KEL_MEDIA_E_NOT_OPEN;
    }

    HRESULT STDMETHODCALLTYPE GetMediaName(BSTR* pbstrName) override {
        if (!pbstrName) return E_POINTER;
        *pbstrName = nullptr;
        if (!current_) return KEL_MEDIA_E_NOT_OPEN;
        *pbstrName = UniqueBstr::From(current_->name).Detach();
        return *pbstrName ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE GetVersion(uint16_t* pMajor, uint16_t* pMinor) override {
        if (!pMajor || !pMinor) return E_POINTER;
        *pMajor = current_ ? current_->major : 0;
        *pMinor = current_ ? current_->minor : 0;
        return current_ ? S_OK : KEL_MEDIA_E_NOT_OPEN;
    }

    HRESULT STDMETHODCALLTYPE GetFourthVersion(uint16_t* pFourth) override {
        if (!pFourth) return E_POINTER;
        *pFourth = current_ ? current_->build : 0;
        return current_ ? S_OK : KEL_MEDIA_E_NOT_OPEN;
    }

    HRESULT STDMETHODCALLTYPE GetMediaDescription(KelMediaDescription* pDescription) override {
        if (!pDescription) return E_POINTER;
        *pDescription = KelMediaDescription{};
        if (!current_) return KEL_MEDIA_E_NOT_OPEN;
        pDescription->first = current_->major;
        pDescription->second = current_->minor;
        pDescription->third = current_->revision;
        pDescription->fourth = current_->build;
        pDescription->name = UniqueBstr::From(current_->name).Detach();
        return pDescription->name ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::optional<MediaInfo> current_;
};

}  // namespace

// The release described by folder's media.id and version.xml.
HRESULT ReadMediaFolder(const WString& folder, MediaInfo& info) {
    if (os::GetEntryKind(Join(folder, u"media.id")) != os::EntryKind::File) return KEL_MEDIA_E_NO_MEDIA_ID;
    std::string bytes;
    if (!ReadSmallFile(Join(folder, u"media.id"), bytes)) return KEL_MEDIA_E_INVALID_MEDIA_ID;
    MediaInfo read;
    const HRESULT hr = ParseMediaId(bytes, read);
    if (FAILED(hr)) return hr;
    ReadVersion(Join(folder, u"version.xml"), read);
    info = std::move(read);
    return S_OK;
}

HRESULT ReadMediaInfo(WStringView directory, MediaInfo& info) {
    if (directory.empty() || os::GetEntryKind(directory) != os::EntryKind::Directory) return KEL_MEDIA_E_NO_DIRECTORY;
    // sys_pack stands in when the top-level media.id is missing or invalid.
    const WString folder(directory);
    const HRESULT top = ReadMediaFolder(folder, info);
    if (SUCCEEDED(top)) return top;
    const HRESULT sysPack = ReadMediaFolder(Join(folder, u"sys_pack"), info);
    // With neither usable, an invalid top-level file is the reason to give.
    return SUCCEEDED(sysPack) || top == KEL_MEDIA_E_NO_MEDIA_ID ? sysPack : top;
}

HRESULT CreateMediaComponent(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* object = new (std::nothrow) CKelInstallMedia();
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

}  // namespace kel
