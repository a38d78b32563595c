// XML backend over MSXML 6 (IXMLDOMDocument2). A document is read by the
// Windows DOM, with its rules, copied into the portable tree and released:
// the DOM's per-node COM calls stay off the paths that build, search and
// write documents.
#include <windows.h>
#include <msxml2.h>

#include <algorithm>
#include <new>
#include <string>

#include "platform/os.h"
#include "platform/raii.h"
#include "platform/xml_backend.h"

namespace kel::xml::detail {

namespace {

constexpr CLSID kClsidDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
constexpr IID kIidXmlDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// The library may be called on threads with or without COM; it joins the
// multithreaded apartment when it can and leaves only what it entered.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)), thread_(GetCurrentThreadId()) {}
    ~ComApartment() {
        // On another thread the call would unbalance that thread's count; the
        // creating thread keeps one reference instead.
        if (SUCCEEDED(result_) && GetCurrentThreadId() == thread_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT result_;
    DWORD thread_;
};

class Variant {
public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* operator&() { return &value_; }
    const VARIANT& get() const { return value_; }
    // Takes ownership of the string.
    void SetString(UniqueBstr text) {
        VariantClear(&value_);
        value_.vt = VT_BSTR;
        value_.bstrVal = text.Detach();
    }
    // A copy, as VT_ARRAY | VT_UI1; false without the memory.
    bool SetBytes(const std::string& bytes) {
        VariantClear(&value_);
        if (bytes.size() > MAXDWORD) return false;
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        void* data = nullptr;
        if (!array || FAILED(SafeArrayAccessData(array, &data))) {
            if (array) SafeArrayDestroy(array);
            return false;
        }
        std::copy(bytes.begin(), bytes.end(), static_cast<char*>(data));
        SafeArrayUnaccessData(array);
        value_.vt = VT_ARRAY | VT_UI1;
        value_.parray = array;
        return true;
    }
    WString String() const {
        if (value_.vt != VT_BSTR) return {};
        return WString(UniqueBstr::View(value_.bstrVal));
    }

private:
    VARIANT value_;
};

DOMNodeType TypeOf(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    if (FAILED(node->get_nodeType(&type))) return NODE_INVALID;
    return type;
}

ComPtr<IXMLDOMNode> FirstChildOf(IXMLDOMNode* node) {
    ComPtr<IXMLDOMNode> child;
    if (node->get_firstChild(child.Put()) != S_OK) child.Reset();
    return child;
}

ComPtr<IXMLDOMNode> NextSiblingOf(IXMLDOMNode* node) {
    ComPtr<IXMLDOMNode> sibling;
    if (node->get_nextSibling(sibling.Put()) != S_OK) sibling.Reset();
    return sibling;
}

ComPtr<IXMLDOMNode> PreviousSiblingOf(IXMLDOMNode* node) {
    ComPtr<IXMLDOMNode> sibling;
    if (node->get_previousSibling(sibling.Put()) != S_OK) sibling.Reset();
    return sibling;
}

ComPtr<IXMLDOMNode> ParentOf(IXMLDOMNode* node) {
    ComPtr<IXMLDOMNode> parent;
    if (node->get_parentNode(parent.Put()) != S_OK) parent.Reset();
    return parent;
}

WString NodeName(IXMLDOMNode* node) {
    UniqueBstr name;
    if (FAILED(node->get_nodeName(name.Put()))) return {};
    return WString(name.View());
}

WString NodeValue(IXMLDOMNode* node) {
    Variant value;
    if (FAILED(node->get_nodeValue(&value))) return {};
    return value.String();
}

ComPtr<IXMLDOMNode> AsNode(IUnknown* object) {
    ComPtr<IXMLDOMNode> node;
    if (!object || FAILED(object->QueryInterface(IID_IXMLDOMNode, node.PutVoid()))) node.Reset();
    return node;
}

ComPtr<IXMLDOMDocument2> NewDocument() {
    ComPtr<IXMLDOMDocument2> doc;
    if (FAILED(CoCreateInstance(kClsidDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2,
                                doc.PutVoid()))) {
        return {};
    }
    doc->put_async(VARIANT_FALSE);
    // The default load drops white-space-only text and keeps where it stood
    // only in flags that cannot be read. Loading it and emptying it
    // afterwards gives the same tree, and Text() can still put the one space
    // there that the DOM's own text would.
    doc->put_preserveWhiteSpace(VARIANT_TRUE);
    doc->put_validateOnParse(VARIANT_FALSE);
    doc->put_resolveExternals(VARIANT_FALSE);
    const struct {
        const wchar_t* name;
        bool isString;
        const wchar_t* text;
        bool flag;
    } properties[] = {{L"SelectionLanguage", true, L"XPath", false}, {L"ProhibitDTD", false, nullptr, true}};
    for (const auto& property : properties) {
        UniqueBstr name(SysAllocString(property.name));
        Variant value;
        if (property.isString) {
            value.SetString(UniqueBstr(SysAllocString(property.text)));
        } else {
            (&value)->vt = VT_BOOL;
            (&value)->boolVal = property.flag ? VARIANT_TRUE : VARIANT_FALSE;
        }
        if (name.get()) doc->setProperty(name.get(), value.get());  // older parsers lack some; fine
    }
    return doc;
}

void CopyAttributes(IXMLDOMNode* node, TreeBuilder& builder) {
    ComPtr<IXMLDOMNamedNodeMap> map;
    LONG length = 0;
    if (node->get_attributes(map.Put()) != S_OK || !map || FAILED(map->get_length(&length))) return;
    for (LONG i = 0; i < length; ++i) {
        ComPtr<IXMLDOMNode> attribute;
        if (map->get_item(i, attribute.Put()) == S_OK) builder.AddAttribute(NodeName(attribute.get()), NodeValue(attribute.get()));
    }
}

// Into the tree, without recursion.
void Copy(IXMLDOMNode* document, TreeBuilder& builder) {
    std::vector<ComPtr<IXMLDOMNode>> open;
    ComPtr<IXMLDOMNode> current = FirstChildOf(document);
    while (current) {
        IXMLDOMNode* node = current.get();
        switch (TypeOf(node)) {
        case NODE_ELEMENT:
            builder.Add(Kind::Element, NodeName(node));
            CopyAttributes(node, builder);
            if (ComPtr<IXMLDOMNode> child = FirstChildOf(node)) {
                builder.Enter();
                open.push_back(std::move(current));
                current = std::move(child);
                continue;
            }
            break;
        case NODE_TEXT: builder.Add(Kind::Text, {}, NodeValue(node)); break;
        case NODE_CDATA_SECTION: builder.Add(Kind::CData, {}, NodeValue(node)); break;
        case NODE_COMMENT: builder.Add(Kind::Comment, {}, NodeValue(node)); break;
        case NODE_PROCESSING_INSTRUCTION: {
            const WString target = NodeName(node);
            if (target != u"xml") {
                builder.Add(Kind::Instruction, target, NodeValue(node));
                break;
            }
            builder.Add(Kind::Declaration, {});
            for (auto& [name, value] : ParsePseudoAttributes(NodeValue(node)).value_or(AttributeList())) {
                builder.AddAttribute(name, std::move(value));
            }
            break;
        }
        default: break;
        }
        ComPtr<IXMLDOMNode> next = NextSiblingOf(node);
        while (!next && !open.empty()) {
            next = NextSiblingOf(open.back().get());
            open.pop_back();
            builder.Leave();
        }
        current = std::move(next);
    }
}

bool CopyRead(IXMLDOMDocument2* doc, HRESULT result, VARIANT_BOOL ok, TreeBuilder& builder) {
    ComPtr<IXMLDOMDocumentType> doctype;
    const bool hasDoctype = SUCCEEDED(doc->get_doctype(doctype.Put())) && doctype;
    ComPtr<IXMLDOMNode> document = AsNode(doc);
    if (result != S_OK || ok != VARIANT_TRUE || hasDoctype || !document) return false;
    Copy(document.get(), builder);
    return true;
}

}  // namespace

bool ParseInto(WStringView text, TreeBuilder& builder) {
    ComApartment apartment;  // first: left after the document is released
    ComPtr<IXMLDOMDocument2> doc = NewDocument();
    UniqueBstr bstr = UniqueBstr::From(text);
    if (!doc || !bstr.get()) return false;
    VARIANT_BOOL ok = VARIANT_FALSE;
    const HRESULT result = doc->loadXML(bstr.get(), &ok);
    return CopyRead(doc.get(), result, ok, builder);
}

bool LoadInto(WStringView path, TreeBuilder& builder) {
    ComApartment apartment;
    ComPtr<IXMLDOMDocument2> doc = NewDocument();
    // The file's bytes, not its path: the DOM decodes them as it decodes the
    // file, but a path is bound as a URL, whose notification window makes
    // Wine start its desktop process (tens of milliseconds) in every process.
    std::string bytes;
    if (!doc || !os::ReadWholeFile(path, bytes)) return false;
    Variant source;
    if (!source.SetBytes(bytes)) return false;
    VARIANT_BOOL ok = VARIANT_FALSE;
    const HRESULT result = doc->load(source.get(), &ok);
    return CopyRead(doc.get(), result, ok, builder);
}

std::optional<XPathHit> SelectFirst(WStringView text, WStringView xpath) {
    ComApartment apartment;
    ComPtr<IXMLDOMDocument2> doc = NewDocument();
    UniqueBstr bstr = UniqueBstr::From(text);
    UniqueBstr query = UniqueBstr::From(xpath);
    if (!doc || !bstr.get() || !query.get()) return std::nullopt;
    // A document without a root writes no text, and is searched empty.
    VARIANT_BOOL ok = VARIANT_FALSE;
    doc->loadXML(bstr.get(), &ok);
    ComPtr<IXMLDOMNode> node;
    if (doc->selectSingleNode(query.get(), node.Put()) != S_OK || !node) return std::nullopt;
    const DOMNodeType type = TypeOf(node.get());
    if (type != NODE_ELEMENT && type != NODE_DOCUMENT) return XPathHit{false, {}, NodeValue(node.get())};
    XPathHit hit{true, {}, {}};
    for (; node && TypeOf(node.get()) == NODE_ELEMENT; node = ParentOf(node.get())) {
        std::size_t place = 0;
        for (ComPtr<IXMLDOMNode> before = PreviousSiblingOf(node.get()); before; before = PreviousSiblingOf(before.get())) {
            place += TypeOf(before.get()) == NODE_ELEMENT;
        }
        hit.path.push_back(place);
    }
    std::reverse(hit.path.begin(), hit.path.end());
    return hit;
}

// Keeps COM entered on the document's thread between reads: leaving it last
// would unload the DOM's library each time.
std::shared_ptr<void> OpenSession() { return std::make_shared<ComApartment>(); }

}  // namespace kel::xml::detail
