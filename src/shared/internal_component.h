// KelInstallInternal: reads one text out of an XML file by XPath (the
// product texts of version.xml are read this way).
#pragma once

#include "KelCom.h"

namespace kel {

inline constexpr CLSID CLSID_KelInstallInternal = {
    0xF31B9995, 0x9B3A, 0x4DA6, {0x98, 0xCC, 0xFC, 0x1B, 0xD3, 0x9A, 0xC6, 0x41}};
inline constexpr IID IID_IKelInstallInternal = {
    0x98B93D25, 0x4C73, 0x46F7, {0x80, 0x19, 0x1C, 0xD0, 0x9C, 0x22, 0x0E, 0x9A}};

inline constexpr HRESULT KEL_INTERNAL_E_NO_FILE = static_cast<HRESULT>(0x80070002);    // missing or not a file
inline constexpr HRESULT KEL_INTERNAL_E_BAD_XML = static_cast<HRESULT>(0x8007000D);    // unreadable or not XML
inline constexpr HRESULT KEL_INTERNAL_E_NO_NODE = static_cast<HRESULT>(0x80070490);    // nothing selected

struct IKelInstallInternal : IUnknown {
    // The text of the first node that bstrXPath selects in the file.
    virtual HRESULT STDMETHODCALLTYPE GetXmlText(BSTR bstrXmlPath, BSTR bstrXPath, BSTR* pbstrText) = 0;
};

// A new instance with one reference (the factory's entry point).
HRESULT CreateInternalComponent(REFIID iid, void** out);

}  // namespace kel
