#include "shared/internal_component.h"

#include <new>
#include <optional>

#include "shared/com_object_base.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "platform/xml.h"

namespace kel {

namespace {

class CKelInstallInternal final : public ComObjectBase<IKelInstallInternal, IID_IKelInstallInternal> {
public:
    HRESULT STDMETHODCALLTYPE GetXmlText(BSTR bstrXmlPath, BSTR bstrXPath, BSTR* pbstrText) override {
        if (!pbstrText) return E_POINTER;
        *pbstrText = nullptr;
        return ComGuard([&] {
            const WStringView path = UniqueBstr::View(bstrXmlPath);
            // Callers ask one file for several values through one object:
            // the file is read once for them.
            if (!m_document || path != m_path) {
                m_document = {};
                if (path.empty() || os::GetEntryKind(path) != os::EntryKind::File) return KEL_INTERNAL_E_NO_FILE;
                xml::Document doc = xml::Document::Create();
                if (!doc) return E_FAIL;
                if (!doc.Load(path)) return KEL_INTERNAL_E_BAD_XML;
                m_document = std::move(doc);
                m_path = path;
            }
            const std::optional<WString> text = m_document.SelectSingleText(UniqueBstr::View(bstrXPath));
            if (!text) return KEL_INTERNAL_E_NO_NODE;
            *pbstrText = UniqueBstr::From(*text).Detach();
            return *pbstrText ? S_OK : E_OUTOFMEMORY;
        });
    }

private:
    WString m_path;
    xml::Document m_document;
};

}  // namespace

HRESULT CreateInternalComponent(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* object = new (std::nothrow) CKelInstallInternal();
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

}  // namespace kel
