// KelInstallSystemOptions: holds the option selection document of a system
// ("OptionSelection" with one "ZD" and any number of "EXT" entries) and
// answers the queries the system asks of it.
#pragma once

#include "KelCom.h"
#include "platform/text.h"
#include "platform/xml.h"

namespace kel {

inline constexpr CLSID CLSID_KelInstallSystemOptions = {
    0x3C96A6E3, 0x9C06, 0x4A02, {0x82, 0x75, 0x7B, 0x0F, 0x0B, 0x47, 0x8A, 0xC7}};
inline constexpr IID IID_IKelInstallSystemOptions = {
    0x21A8D9D1, 0x37C8, 0x4ED3, {0x87, 0xB8, 0x4E, 0x50, 0xF5, 0xF5, 0x75, 0x23}};

// The instance query's answer when the sub group is not there.
inline constexpr HRESULT KEL_OPTIONS_E_NOT_FOUND = static_cast<HRESULT>(0x80070490);

// The node type that CreateNode accepts (the DOM's element).
inline constexpr LONG KEL_NODE_ELEMENT = 1;

// An attribute made by CreateAttribute: the caller sets the value and adds it
// to an element with Element::SetAttribute(name, value).
struct KelOptionAttribute {
    WString name;
    WString value;
};

// The operations the system uses, in slot order. Nodes are the XML adapter's
// elements of the held document.
struct IKelInstallSystemOptions : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetXml(BSTR* pbstrXml) = 0;
    // A text that does not parse fails and leaves the document empty.
    virtual HRESULT STDMETHODCALLTYPE LoadXml(BSTR bstrXml) = 0;
    // S_FALSE and two empty texts when the program has no entry.
    virtual HRESULT STDMETHODCALLTYPE GetOptionsInfo(BSTR bstrProgram, BSTR* pbstrSelections,
                                                     BSTR* pbstrSelectionFiles) = 0;
    // Always S_OK with an empty value.
    virtual HRESULT STDMETHODCALLTYPE GetSubLabelInstance(BSTR bstrSubLabel, BSTR bstrProgram, BSTR* pbstrValue) = 0;
    // S_OK when the program's entry has a sub group with that SubGUID, else KEL_OPTIONS_E_NOT_FOUND.
    virtual HRESULT STDMETHODCALLTYPE GetSubGroupInstance(BSTR bstrSubGuid, BSTR bstrProgram,
                                                          VARIANT_BOOL* pvarbExists) = 0;
    virtual HRESULT STDMETHODCALLTYPE HasContent(VARIANT_BOOL* pvarbHasContent) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutRoot(const xml::Element& root, xml::Element* pRoot) = 0;
    // nodeType must be KEL_NODE_ELEMENT and the namespace empty.
    virtual HRESULT STDMETHODCALLTYPE CreateNode(LONG nodeType, BSTR bstrName, BSTR bstrNamespace,
                                                 xml::Element* pNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateAttribute(BSTR bstrName, KelOptionAttribute* pAttribute) = 0;
};

// The two "*"-joined texts of GetOptionsInfo, computed on a document's root.
struct OptionsInfo {
    WString selections;
    WString selectionFiles;
};
// False when the document has no entry for the program.
bool ComputeOptionsInfo(const xml::Element& root, WStringView program, OptionsInfo& info);

// A new instance with one reference (the factory's entry point).
HRESULT CreateSystemOptionsComponent(REFIID iid, void** out);

}  // namespace kel
