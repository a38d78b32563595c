// XML backend over MSXML 6 (IXMLDOMDocument2).
//
// MSXML hands out a new wrapper object for a node on every query (Wine does),
// so nodes are never compared by pointer.
#include <windows.h>
#include <msxml2.h>

#include <new>

#include "platform/raii.h"
#include "platform/xml_backend.h"

namespace kel::xml {

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
    WString String() const {
        if (value_.vt != VT_BSTR) return {};
        return WString(UniqueBstr::View(value_.bstrVal));
    }

private:
    VARIANT value_;
};

WString TakeString(UniqueBstr& text) { return WString(text.View()); }

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

ComPtr<IXMLDOMNode> ParentOf(IXMLDOMNode* node) {
    ComPtr<IXMLDOMNode> parent;
    if (node->get_parentNode(parent.Put()) != S_OK) parent.Reset();
    return parent;
}

WString NodeName(IXMLDOMNode* node) {
    UniqueBstr name;
    if (FAILED(node->get_nodeName(name.Put()))) return {};
    return TakeString(name);
}

WString NodeValue(IXMLDOMNode* node) {
    Variant value;
    if (FAILED(node->get_nodeValue(&value))) return {};
    return value.String();
}

ComPtr<IXMLDOMElement> AsElement(IXMLDOMNode* node) {
    ComPtr<IXMLDOMElement> element;
    if (FAILED(node->QueryInterface(IID_IXMLDOMElement, element.PutVoid()))) element.Reset();
    return element;
}

ComPtr<IXMLDOMNode> AsNode(IUnknown* object) {
    ComPtr<IXMLDOMNode> node;
    if (!object || FAILED(object->QueryInterface(IID_IXMLDOMNode, node.PutVoid()))) node.Reset();
    return node;
}

bool IsDeclaration(IXMLDOMNode* node) {
    return TypeOf(node) == NODE_PROCESSING_INSTRUCTION && NodeName(node) == u"xml";
}

// Without node identity, a temporary attribute tells whether candidate is
// node or one of its ancestors. An element that already carries the probe
// counts as an ancestor, which only refuses a move.
bool IsSelfOrAncestor(IXMLDOMNode* candidate, IXMLDOMNode* node) {
    static constexpr wchar_t kProbe[] = L"kel-ancestor-probe-5c1e";
    ComPtr<IXMLDOMElement> marked = AsElement(candidate);
    UniqueBstr probe(SysAllocString(kProbe));
    if (!marked || !probe.get()) return true;
    Variant existing;
    if (marked->getAttribute(probe.get(), &existing) == S_OK) return true;
    Variant mark;
    mark.SetString(UniqueBstr(SysAllocString(L"")));
    if (FAILED(marked->setAttribute(probe.get(), mark.get()))) return true;
    bool found = false;
    for (ComPtr<IXMLDOMNode> current = AsNode(node); current && !found; current = ParentOf(current.get())) {
        ComPtr<IXMLDOMElement> element = AsElement(current.get());
        Variant value;
        found = element && element->getAttribute(probe.get(), &value) == S_OK;
    }
    marked->removeAttribute(probe.get());
    return found;
}

bool RemoveChildren(IXMLDOMNode* node) {
    while (ComPtr<IXMLDOMNode> child = FirstChildOf(node)) {
        ComPtr<IXMLDOMNode> removed;
        if (FAILED(node->removeChild(child.get(), removed.Put()))) return false;
    }
    return true;
}

}  // namespace

namespace detail {

struct DocState {
    ComApartment apartment;  // declared first: left after the document is released
    ComPtr<IXMLDOMDocument2> doc;
    unsigned generation = 0;

    // After a failed parse the document must be empty, whatever the parser left.
    void Clear() {
        ComPtr<IXMLDOMNode> node = AsNode(doc.get());
        if (node) RemoveChildren(node.get());
    }
};

struct NodeRef {
    std::shared_ptr<DocState> state;
    ComPtr<IXMLDOMNode> node;
    unsigned generation = 0;

    bool Valid() const { return node && state && generation == state->generation; }

    static NodePtr Make(const std::shared_ptr<DocState>& state, ComPtr<IXMLDOMNode> node) {
        if (!node) return nullptr;
        return std::make_shared<const NodeRef>(NodeRef{state, std::move(node), state->generation});
    }
    static Element MakeElement(const std::shared_ptr<DocState>& state, ComPtr<IXMLDOMNode> node) {
        return Element(Make(state, std::move(node)));
    }
    static const NodeRef* Of(const Element& element) { return element.ref_.get(); }
    static Document MakeDocument(std::shared_ptr<DocState> state) { return Document(std::move(state)); }
};

}  // namespace detail

namespace {

using detail::DocState;
using detail::NodeRef;

std::vector<Element> ElementList(const std::shared_ptr<DocState>& state, IXMLDOMNodeList* list) {
    std::vector<Element> found;
    LONG length = 0;
    if (!list || FAILED(list->get_length(&length))) return found;
    for (LONG i = 0; i < length; ++i) {
        ComPtr<IXMLDOMNode> item;
        if (list->get_item(i, item.Put()) == S_OK) found.push_back(NodeRef::MakeElement(state, item));
    }
    return found;
}

ComPtr<IXMLDOMNode> NewElement(DocState& state, WStringView name) {
    UniqueBstr bstr = UniqueBstr::From(name);
    ComPtr<IXMLDOMElement> element;
    if (!bstr.get() || FAILED(state.doc->createElement(bstr.get(), element.Put()))) return {};
    return AsNode(element.get());
}

bool FinishParse(const std::shared_ptr<DocState>& state, HRESULT result, VARIANT_BOOL ok) {
    ComPtr<IXMLDOMDocumentType> doctype;
    const bool hasDoctype = SUCCEEDED(state->doc->get_doctype(doctype.Put())) && doctype;
    if (result == S_OK && ok == VARIANT_TRUE && !hasDoctype) {
        detail::DropIgnorableWhiteSpace(detail::DocumentNode(state));
        return true;
    }
    state->Clear();
    return false;
}

}  // namespace

// ---- Element ----

Element::operator bool() const { return ref_ && ref_->Valid(); }

bool Element::operator==(const Element& other) const {
    if (!*this || !other) return !*this && !other;
    // COM identity: the IUnknown of one node is always the same pointer.
    ComPtr<IUnknown> mine;
    ComPtr<IUnknown> theirs;
    return ref_->state == other.ref_->state &&
           SUCCEEDED(ref_->node->QueryInterface(IID_IUnknown, mine.PutVoid())) &&
           SUCCEEDED(other.ref_->node->QueryInterface(IID_IUnknown, theirs.PutVoid())) && mine.get() == theirs.get();
}

WString Element::Name() const { return *this ? NodeName(ref_->node.get()) : WString(); }

bool Element::SetText(WStringView text) {
    if (!*this || !RemoveChildren(ref_->node.get())) return false;
    if (text.empty()) return true;
    UniqueBstr bstr = UniqueBstr::From(text);
    ComPtr<IXMLDOMText> node;
    if (!bstr.get() || FAILED(ref_->state->doc->createTextNode(bstr.get(), node.Put()))) return false;
    ComPtr<IXMLDOMNode> added;
    return SUCCEEDED(ref_->node->appendChild(AsNode(node.get()).get(), added.Put()));
}

std::optional<WString> Element::Attribute(WStringView name) const {
    if (!*this) return std::nullopt;
    ComPtr<IXMLDOMElement> element = AsElement(ref_->node.get());
    UniqueBstr bstr = UniqueBstr::From(name);
    Variant value;
    if (!element || !bstr.get() || element->getAttribute(bstr.get(), &value) != S_OK || value.get().vt != VT_BSTR) {
        return std::nullopt;
    }
    return value.String();
}

bool Element::SetAttribute(WStringView name, WStringView value) {
    if (!*this || !IsValidName(name)) return false;
    ComPtr<IXMLDOMElement> element = AsElement(ref_->node.get());
    UniqueBstr bstr = UniqueBstr::From(name);
    UniqueBstr text = UniqueBstr::From(value);
    if (!element || !bstr.get() || !text.get()) return false;
    Variant variant;
    variant.SetString(std::move(text));
    return SUCCEEDED(element->setAttribute(bstr.get(), variant.get()));
}

std::vector<std::pair<WString, WString>> Element::Attributes() const {
    return *this ? detail::AttributesOf(*ref_) : detail::AttributeList();
}

bool Element::AppendChild(const Element& child) {
    if (!*this || !child || ref_->state != child.ref_->state) return false;
    // MSXML refuses to move a node into its own subtree; Wine does not.
    if (IsSelfOrAncestor(child.ref_->node.get(), ref_->node.get())) return false;
    ComPtr<IXMLDOMNode> added;
    return SUCCEEDED(ref_->node->appendChild(child.ref_->node.get(), added.Put()));
}

Element Element::AppendChild(WStringView name, WStringView text) {
    if (!*this || !IsValidName(name)) return {};
    ComPtr<IXMLDOMNode> node = NewElement(*ref_->state, name);
    ComPtr<IXMLDOMNode> added;
    if (!node || FAILED(ref_->node->appendChild(node.get(), added.Put()))) return {};
    Element element = NodeRef::MakeElement(ref_->state, node);
    if (!text.empty() && !element.SetText(text)) return {};
    return element;
}

bool Element::RemoveChild(const Element& child) {
    if (!*this || !child) return false;
    ComPtr<IXMLDOMNode> removed;
    return ref_->node->removeChild(child.ref_->node.get(), removed.Put()) == S_OK;
}

bool Element::RemoveAllChildren() { return *this && RemoveChildren(ref_->node.get()); }

Element Element::FirstChild(WStringView name) const {
    if (!*this) return {};
    for (ComPtr<IXMLDOMNode> child = FirstChildOf(ref_->node.get()); child; child = NextSiblingOf(child.get())) {
        if (TypeOf(child.get()) == NODE_ELEMENT && NodeName(child.get()) == name) {
            return NodeRef::MakeElement(ref_->state, child);
        }
    }
    return {};
}

Element Element::NextSibling(WStringView name) const {
    if (!*this) return {};
    for (ComPtr<IXMLDOMNode> sibling = NextSiblingOf(ref_->node.get()); sibling; sibling = NextSiblingOf(sibling.get())) {
        if (TypeOf(sibling.get()) == NODE_ELEMENT && NodeName(sibling.get()) == name) {
            return NodeRef::MakeElement(ref_->state, sibling);
        }
    }
    return {};
}

std::vector<Element> Element::Children(WStringView name) const {
    std::vector<Element> found;
    if (!*this) return found;
    for (ComPtr<IXMLDOMNode> child = FirstChildOf(ref_->node.get()); child; child = NextSiblingOf(child.get())) {
        if (TypeOf(child.get()) == NODE_ELEMENT && NodeName(child.get()) == name) {
            found.push_back(NodeRef::MakeElement(ref_->state, child));
        }
    }
    return found;
}

std::vector<Element> Element::Descendants(WStringView name) const {
    if (!*this || !IsValidName(name)) return {};
    ComPtr<IXMLDOMElement> element = AsElement(ref_->node.get());
    UniqueBstr bstr = UniqueBstr::From(name);
    ComPtr<IXMLDOMNodeList> list;
    if (!element || !bstr.get() || FAILED(element->getElementsByTagName(bstr.get(), list.Put()))) return {};
    return ElementList(ref_->state, list.get());
}

Element Element::Parent() const {
    if (!*this) return {};
    ComPtr<IXMLDOMNode> parent = ParentOf(ref_->node.get());
    if (!parent || TypeOf(parent.get()) != NODE_ELEMENT) return {};
    return NodeRef::MakeElement(ref_->state, parent);
}

// ---- Document ----

Document Document::Create() {
    try {
        auto state = std::make_shared<DocState>();
        if (FAILED(CoCreateInstance(kClsidDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2,
                                    state->doc.PutVoid()))) {
            return {};
        }
        IXMLDOMDocument2* doc = state->doc.get();
        doc->put_async(VARIANT_FALSE);
        // The default load drops white-space-only text and keeps where it
        // stood only in flags that cannot be read. Loading it and emptying it
        // afterwards gives the same tree, and Text() can still put the one
        // space there that the DOM's own text would.
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
        return NodeRef::MakeDocument(std::move(state));
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool Document::Parse(WStringView text) {
    if (!state_) return false;
    ++state_->generation;
    UniqueBstr bstr = UniqueBstr::From(text);
    if (!bstr.get()) {
        state_->Clear();
        return false;
    }
    VARIANT_BOOL ok = VARIANT_FALSE;
    const HRESULT result = state_->doc->loadXML(bstr.get(), &ok);
    return FinishParse(state_, result, ok);
}

bool Document::Load(WStringView path) {
    if (!state_) return false;
    ++state_->generation;
    Variant source;
    UniqueBstr bstr = UniqueBstr::From(path);
    if (!bstr.get()) {
        state_->Clear();
        return false;
    }
    source.SetString(std::move(bstr));
    VARIANT_BOOL ok = VARIANT_FALSE;
    const HRESULT result = state_->doc->load(source.get(), &ok);
    return FinishParse(state_, result, ok);
}

Element Document::Root() const {
    if (!state_) return {};
    ComPtr<IXMLDOMElement> root;
    if (state_->doc->get_documentElement(root.Put()) != S_OK) return {};
    return NodeRef::MakeElement(state_, AsNode(root.get()));
}

bool Document::SetRoot(const Element& element) {
    if (!state_ || !element || NodeRef::Of(element)->state != state_) return false;
    ComPtr<IXMLDOMElement> root = AsElement(NodeRef::Of(element)->node.get());
    return root && SUCCEEDED(state_->doc->putref_documentElement(root.get()));
}

Element Document::CreateElement(WStringView name) {
    if (!state_ || !IsValidName(name)) return {};
    return NodeRef::MakeElement(state_, NewElement(*state_, name));
}

bool Document::InsertDeclaration(WStringView data) {
    if (!state_ || !detail::ParsePseudoAttributes(data)) return false;
    ComPtr<IXMLDOMNode> document = AsNode(state_->doc.get());
    if (!document) return false;
    for (ComPtr<IXMLDOMNode> child = FirstChildOf(document.get()); child;) {
        ComPtr<IXMLDOMNode> next = NextSiblingOf(child.get());
        ComPtr<IXMLDOMNode> removed;
        if (IsDeclaration(child.get()) && FAILED(document->removeChild(child.get(), removed.Put()))) return false;
        child = next;
    }
    UniqueBstr target(SysAllocString(L"xml"));
    UniqueBstr text = UniqueBstr::From(data);
    ComPtr<IXMLDOMProcessingInstruction> declaration;
    if (!target.get() || !text.get() ||
        FAILED(state_->doc->createProcessingInstruction(target.get(), text.get(), declaration.Put()))) {
        return false;
    }
    ComPtr<IXMLDOMNode> first = FirstChildOf(document.get());
    Variant before;
    if (first) {
        (&before)->vt = VT_UNKNOWN;
        (&before)->punkVal = first.Detach();
    }
    ComPtr<IXMLDOMNode> added;
    return SUCCEEDED(document->insertBefore(AsNode(declaration.get()).get(), before.get(), added.Put()));
}

std::vector<Element> Document::Descendants(WStringView name) const {
    if (!state_ || !IsValidName(name)) return {};
    UniqueBstr bstr = UniqueBstr::From(name);
    ComPtr<IXMLDOMNodeList> list;
    if (!bstr.get() || FAILED(state_->doc->getElementsByTagName(bstr.get(), list.Put()))) return {};
    return ElementList(state_, list.get());
}

std::optional<WString> Document::SelectSingleText(WStringView xpath) const {
    if (!state_) return std::nullopt;
    UniqueBstr query = UniqueBstr::From(xpath);
    ComPtr<IXMLDOMNode> node;
    if (!query.get() || state_->doc->selectSingleNode(query.get(), node.Put()) != S_OK || !node) return std::nullopt;
    const DOMNodeType type = TypeOf(node.get());
    if (type == NODE_ELEMENT || type == NODE_DOCUMENT) return detail::TextOf(*NodeRef::Make(state_, node));
    return NodeValue(node.get());
}

// ---- the walk for the serialiser ----

namespace detail {

NodePtr DocumentNode(const std::shared_ptr<DocState>& state) { return NodeRef::Make(state, AsNode(state->doc.get())); }

NodePtr ParentNode(const NodeRef& node) { return NodeRef::Make(node.state, ParentOf(node.node.get())); }

NodePtr FirstChildNode(const NodeRef& node) { return NodeRef::Make(node.state, FirstChildOf(node.node.get())); }

NodePtr NextSiblingNode(const NodeRef& node) { return NodeRef::Make(node.state, NextSiblingOf(node.node.get())); }

Kind KindOf(const NodeRef& node) {
    switch (TypeOf(node.node.get())) {
    case NODE_ELEMENT: return Kind::Element;
    case NODE_TEXT: return Kind::Text;
    case NODE_CDATA_SECTION: return Kind::CData;
    case NODE_COMMENT: return Kind::Comment;
    case NODE_PROCESSING_INSTRUCTION: return IsDeclaration(node.node.get()) ? Kind::Declaration : Kind::Instruction;
    default: return Kind::Other;
    }
}

WString NameOf(const NodeRef& node) { return NodeName(node.node.get()); }

WString ValueOf(const NodeRef& node) { return NodeValue(node.node.get()); }

void ClearValue(const NodeRef& node) {
    Variant empty;
    empty.SetString(UniqueBstr(SysAllocString(L"")));
    node.node->put_nodeValue(empty.get());
}

AttributeList AttributesOf(const NodeRef& node) {
    if (IsDeclaration(node.node.get())) return ParsePseudoAttributes(NodeValue(node.node.get())).value_or(AttributeList());
    AttributeList list;
    ComPtr<IXMLDOMNamedNodeMap> map;
    LONG length = 0;
    if (node.node->get_attributes(map.Put()) != S_OK || !map || FAILED(map->get_length(&length))) return list;
    for (LONG i = 0; i < length; ++i) {
        ComPtr<IXMLDOMNode> attribute;
        if (map->get_item(i, attribute.Put()) != S_OK) continue;
        list.emplace_back(NodeName(attribute.get()), NodeValue(attribute.get()));
    }
    return list;
}

bool PlainTextOf(const NodeRef&, WString&) { return false; }

int SpaceOf(const NodeRef& node) {
    for (const auto& [name, value] : AttributesOf(node)) {
        if (name != u"xml:space") continue;
        if (value == u"preserve") return 1;
        if (value == u"default") return 0;
    }
    return -1;
}

}  // namespace detail
}  // namespace kel::xml
