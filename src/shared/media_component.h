// KelInstallMedia: identifies a program release ("media") directory by its
// media.id and reads its version from version.xml.
#pragma once

#include <cstdint>

#include "KelCom.h"
#include "platform/text.h"

namespace kel {

inline constexpr CLSID CLSID_KelInstallMedia = {
    0x225A894A, 0x4BA2, 0x4CB5, {0xAC, 0xC7, 0x14, 0x77, 0x90, 0x4F, 0xB1, 0x3D}};
inline constexpr IID IID_IKelInstallMedia = {
    0xBA5E53B4, 0x972F, 0x4505, {0x97, 0x53, 0x42, 0x8E, 0x80, 0x27, 0x08, 0x72}};

// Why an open failed; each is distinct so that tools can tell the user.
inline constexpr HRESULT KEL_MEDIA_E_NO_DIRECTORY = static_cast<HRESULT>(0x80070003);  // path not found
inline constexpr HRESULT KEL_MEDIA_E_NO_MEDIA_ID = static_cast<HRESULT>(0x80070002);   // file not found
inline constexpr HRESULT KEL_MEDIA_E_INVALID_MEDIA_ID = static_cast<HRESULT>(0x8007000D);  // invalid data
// A query before any successful open.
inline constexpr HRESULT KEL_MEDIA_E_NOT_OPEN = E_UNEXPECTED;

// The description record: an unused word, the four version parts and the
// release name (allocated by the component, freed by the caller).
struct KelMediaDescription {
    uint32_t reserved;
    uint16_t first;   // Major
    uint16_t second;  // Minor
    uint16_t third;   // Revision
    uint16_t fourth;  // Build
    BSTR name;
};

struct IKelInstallMedia : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OpenMedia(BSTR bstrMediaPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetThirdVersion(uint16_t* pThird) = 0;
    // 1 main release, 2 or 4 external with or without options, 8 boot server, 16 fail-safe.
    virtual HRESULT STDMETHODCALLTYPE GetMediaType(LONG* pType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaName(BSTR* pbstrName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVersion(uint16_t* pMajor, uint16_t* pMinor) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFourthVersion(uint16_t* pFourth) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaDescription(KelMediaDescription* pDescription) = 0;
};

// What media.id and version.xml of one release say.
struct MediaInfo {
    WString name;
    LONG type = 0;
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t build = 0;
    uint16_t revision = 0;
};

// Reads the release at directory; S_OK or one of the KEL_MEDIA_E_ statuses.
HRESULT ReadMediaInfo(WStringView directory, MediaInfo& info);

// A new instance with one reference (the factory's entry point).
HRESULT CreateMediaComponent(REFIID iid, void** out);

}  // namespace kel
