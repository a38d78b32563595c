// XML backend over pugixml.
//
// pugixml has no detached nodes and frees a node when it is removed, while
// the DOM keeps both alive for as long as someone holds them. So created and
// removed elements are parked under a hidden element of the document, and a
// handle from before a Parse or Load is recognised as stale instead of
// pointing into freed memory.
#include <cstring>
#include <new>
#include <pugixml.hpp>

#include "platform/os.h"
#include "platform/posix/xml_encoding.h"
#include "platform/xml_backend.h"

namespace kel::xml {

// As a fragment, so that text or a second element beside the root shows up
// and can be refused as MSXML refuses it.
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_declaration | pugi::parse_pi |
                                 pugi::parse_comments | pugi::parse_ws_pcdata | pugi::parse_doctype |
                                 pugi::parse_fragment;

namespace detail {

struct DocState {
    pugi::xml_document doc;
    pugi::xml_node parking;  // created lazily; never written or searched
    unsigned generation = 0;
    // The parsed text: names and values point into it, so it is not copied.
    std::string text;

    void Reset() {
        ++generation;
        doc.reset();
        parking = pugi::xml_node();
        std::string().swap(text);
    }
    pugi::xml_parse_result ParseText() {
        return doc.load_buffer_inplace(text.data(), text.size(), kParseFlags, pugi::encoding_utf8);
    }
    pugi::xml_node Parking() {
        if (!parking) {
            parking = doc.append_child(pugi::node_element);
            // Not a valid XML name, so it cannot clash with a parsed element.
            parking.set_name("#parked");
        }
        return parking;
    }
};

struct NodeRef {
    std::shared_ptr<DocState> state;
    mutable pugi::xml_node node;  // a handle: changing the node is not changing the ref
    unsigned generation = 0;

    bool Valid() const { return node && state && generation == state->generation; }

    static NodePtr Make(const std::shared_ptr<DocState>& state, pugi::xml_node node) {
        if (!node) return nullptr;
        return std::make_shared<const NodeRef>(NodeRef{state, node, state->generation});
    }
    static Element MakeElement(const std::shared_ptr<DocState>& state, pugi::xml_node node) {
        return Element(Make(state, node));
    }
    static const NodeRef* Of(const Element& element) { return element.ref_.get(); }
    static Document MakeDocument(std::shared_ptr<DocState> state) { return Document(std::move(state)); }
};

}  // namespace detail

namespace {

using detail::DocState;
using detail::NodeRef;

std::string Utf8(WStringView text) { return ToUtf8(text); }
WString Wide(const pugi::char_t* text) { return FromUtf8(text ? text : ""); }

bool IsElementNamed(pugi::xml_node node, const std::string& name) {
    return node.type() == pugi::node_element && std::strcmp(node.name(), name.c_str()) == 0;
}

// Visits the nodes below root in document order, without recursion; a
// visitor returning false skips that node's subtree.
template <class Visit>
void Walk(pugi::xml_node root, Visit visit) {
    pugi::xml_node current = root.first_child();
    while (current) {
        if (visit(current) && current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (current != root && !current.next_sibling()) current = current.parent();
        if (current == root) return;
        current = current.next_sibling();
    }
}

std::vector<Element> ElementsBelow(const std::shared_ptr<DocState>& state, pugi::xml_node root,
                                   WStringView name) {
    std::vector<Element> found;
    const std::string wanted = Utf8(name);
    Walk(root, [&](pugi::xml_node node) {
        if (node == state->parking) return false;
        if (IsElementNamed(node, wanted)) found.push_back(NodeRef::MakeElement(state, node));
        return true;
    });
    return found;
}

// Removing would free the nodes; parking keeps outstanding handles valid.
void DetachChildren(DocState& state, pugi::xml_node node) {
    while (pugi::xml_node child = node.first_child()) {
        if (child.type() == pugi::node_element) {
            state.Parking().append_move(child);
        } else {
            node.remove_child(child);
        }
    }
}

bool InParking(const DocState& state, pugi::xml_node node) {
    if (!state.parking) return false;
    for (; node; node = node.parent()) {
        if (node == state.parking) return true;
    }
    return false;
}

bool IsBlankUtf8(const char* text) {
    for (; *text; ++text) {
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') return false;
    }
    return true;
}

bool HasDuplicateAttribute(pugi::xml_node element) {
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
        for (pugi::xml_attribute b = a.next_attribute(); b; b = b.next_attribute()) {
            if (std::strcmp(a.name(), b.name()) == 0) return true;
        }
    }
    return false;
}

// The well-formedness rules pugixml leaves to its user. Blank text between
// top-level nodes is dropped.
bool CheckDocument(pugi::xml_document& doc) {
    int elements = 0;
    for (pugi::xml_node child = doc.first_child(); child;) {
        const pugi::xml_node next = child.next_sibling();
        switch (child.type()) {
        case pugi::node_element: ++elements; break;
        case pugi::node_pcdata:
            if (!IsBlankUtf8(child.value())) return false;
            doc.remove_child(child);
            break;
        case pugi::node_cdata:
        case pugi::node_doctype: return false;
        default: break;
        }
        child = next;
    }
    if (elements != 1) return false;
    bool duplicate = false;
    Walk(doc, [&](pugi::xml_node node) {
        if (node.type() == pugi::node_element && HasDuplicateAttribute(node)) duplicate = true;
        return !duplicate;
    });
    return !duplicate;
}

bool FinishParse(const std::shared_ptr<DocState>& state, const pugi::xml_parse_result& result) {
    if (result && CheckDocument(state->doc)) {
        detail::DropIgnorableWhiteSpace(detail::DocumentNode(state));
        return true;
    }
    state->Reset();
    return false;
}

}  // namespace

// ---- Element ----

Element::operator bool() const { return ref_ && ref_->Valid(); }

bool Element::operator==(const Element& other) const {
    if (!*this || !other) return !*this && !other;
    return ref_->state == other.ref_->state && ref_->node == other.ref_->node;
}

WString Element::Name() const { return *this ? Wide(ref_->node.name()) : WString(); }

bool Element::SetText(WStringView text) {
    if (!*this) return false;
    DetachChildren(*ref_->state, ref_->node);
    if (text.empty()) return true;
    return ref_->node.append_child(pugi::node_pcdata).set_value(Utf8(text).c_str());
}

std::optional<WString> Element::Attribute(WStringView name) const {
    if (!*this) return std::nullopt;
    const pugi::xml_attribute attribute = ref_->node.attribute(Utf8(name).c_str());
    if (!attribute) return std::nullopt;
    return Wide(attribute.value());
}

bool Element::SetAttribute(WStringView name, WStringView value) {
    if (!*this || !IsValidName(name)) return false;
    const std::string key = Utf8(name);
    pugi::xml_attribute attribute = ref_->node.attribute(key.c_str());
    if (!attribute) attribute = ref_->node.append_attribute(key.c_str());
    return attribute && attribute.set_value(Utf8(value).c_str());
}

std::vector<std::pair<WString, WString>> Element::Attributes() const {
    return *this ? detail::AttributesOf(*ref_) : detail::AttributeList();
}

bool Element::AppendChild(const Element& child) {
    if (!*this || !child || ref_->state != child.ref_->state) return false;
    // pugixml refuses to move a node into its own subtree.
    return static_cast<bool>(ref_->node.append_move(child.ref_->node));
}

Element Element::AppendChild(WStringView name, WStringView text) {
    if (!*this || !IsValidName(name)) return {};
    pugi::xml_node node = ref_->node.append_child(pugi::node_element);
    if (!node || !node.set_name(Utf8(name).c_str())) return {};
    Element element = NodeRef::MakeElement(ref_->state, node);
    if (!text.empty() && !element.SetText(text)) return {};
    return element;
}

bool Element::RemoveChild(const Element& child) {
    if (!*this || !child || child.ref_->node.parent() != ref_->node) return false;
    return static_cast<bool>(ref_->state->Parking().append_move(child.ref_->node));
}

bool Element::RemoveAllChildren() {
    if (!*this) return false;
    DetachChildren(*ref_->state, ref_->node);
    return true;
}

Element Element::FirstChild(WStringView name) const {
    if (!*this) return {};
    const std::string wanted = Utf8(name);
    for (pugi::xml_node child = ref_->node.first_child(); child; child = child.next_sibling()) {
        if (IsElementNamed(child, wanted)) return NodeRef::MakeElement(ref_->state, child);
    }
    return {};
}

Element Element::NextSibling(WStringView name) const {
    if (!*this) return {};
    const std::string wanted = Utf8(name);
    for (pugi::xml_node sibling = ref_->node.next_sibling(); sibling; sibling = sibling.next_sibling()) {
        if (IsElementNamed(sibling, wanted)) return NodeRef::MakeElement(ref_->state, sibling);
    }
    return {};
}

std::vector<Element> Element::Children(WStringView name) const {
    std::vector<Element> found;
    if (!*this) return found;
    const std::string wanted = Utf8(name);
    for (pugi::xml_node child = ref_->node.first_child(); child; child = child.next_sibling()) {
        if (IsElementNamed(child, wanted)) found.push_back(NodeRef::MakeElement(ref_->state, child));
    }
    return found;
}

std::vector<Element> Element::Descendants(WStringView name) const {
    if (!*this || !IsValidName(name)) return {};
    return ElementsBelow(ref_->state, ref_->node, name);
}

Element Element::Parent() const {
    if (!*this) return {};
    const pugi::xml_node parent = ref_->node.parent();
    if (parent.type() != pugi::node_element || parent == ref_->state->parking) return {};
    return NodeRef::MakeElement(ref_->state, parent);
}

// ---- Document ----

Document Document::Create() {
    try {
        return NodeRef::MakeDocument(std::make_shared<DocState>());
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool Document::Parse(WStringView text) {
    if (!state_) return false;
    state_->Reset();
    state_->text = Utf8(text);
    // Explicit UTF-8: the text is already decoded, whatever its declaration says.
    return FinishParse(state_, state_->ParseText());
}

bool Document::Load(WStringView path) {
    if (!state_) return false;
    state_->Reset();
    if (!os::ReadWholeFile(path, state_->text) || !posix::DecodeToUtf8(state_->text)) return false;
    return FinishParse(state_, state_->ParseText());
}

Element Document::Root() const {
    if (!state_) return {};
    for (pugi::xml_node child = state_->doc.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element && child != state_->parking) {
            return NodeRef::MakeElement(state_, child);
        }
    }
    return {};
}

bool Document::SetRoot(const Element& element) {
    if (!state_ || !element || NodeRef::Of(element)->state != state_) return false;
    const pugi::xml_node node = NodeRef::Of(element)->node;
    if (node.parent() == state_->doc) return true;
    for (Element old = Root(); old; old = Root()) state_->Parking().append_move(NodeRef::Of(old)->node);
    return static_cast<bool>(state_->doc.append_move(node));
}

Element Document::CreateElement(WStringView name) {
    if (!state_ || !IsValidName(name)) return {};
    pugi::xml_node node = state_->Parking().append_child(pugi::node_element);
    if (!node || !node.set_name(Utf8(name).c_str())) return {};
    return NodeRef::MakeElement(state_, node);
}

bool Document::InsertDeclaration(WStringView data) {
    if (!state_) return false;
    const auto attributes = detail::ParsePseudoAttributes(data);
    if (!attributes) return false;
    for (pugi::xml_node child = state_->doc.first_child(); child;) {
        const pugi::xml_node next = child.next_sibling();
        if (child.type() == pugi::node_declaration) state_->doc.remove_child(child);
        child = next;
    }
    pugi::xml_node declaration = state_->doc.prepend_child(pugi::node_declaration);
    if (!declaration) return false;
    for (const auto& [name, value] : *attributes) {
        declaration.append_attribute(Utf8(name).c_str()).set_value(Utf8(value).c_str());
    }
    return true;
}

std::vector<Element> Document::Descendants(WStringView name) const {
    if (!state_ || !IsValidName(name)) return {};
    return ElementsBelow(state_, state_->doc, name);
}

std::optional<WString> Document::SelectSingleText(WStringView xpath) const {
    if (!state_) return std::nullopt;
    try {
        const pugi::xpath_query query(Utf8(xpath).c_str());
        pugi::xpath_node_set nodes = query.evaluate_node_set(state_->doc);
        nodes.sort();
        for (const pugi::xpath_node& found : nodes) {
            if (found.attribute()) {
                if (InParking(*state_, found.parent())) continue;
                return Wide(found.attribute().value());
            }
            const pugi::xml_node node = found.node();
            if (InParking(*state_, node)) continue;
            if (node.type() == pugi::node_element || node.type() == pugi::node_document) {
                return detail::TextOf(*NodeRef::Make(state_, node));
            }
            return Wide(node.value());
        }
    } catch (const pugi::xpath_exception&) {
    } catch (const std::bad_alloc&) {
    }
    return std::nullopt;
}

// ---- the walk for the serialiser ----

namespace detail {

NodePtr DocumentNode(const std::shared_ptr<DocState>& state) { return NodeRef::Make(state, state->doc); }

NodePtr ParentNode(const NodeRef& node) { return NodeRef::Make(node.state, node.node.parent()); }

NodePtr FirstChildNode(const NodeRef& node) {
    pugi::xml_node child = node.node.first_child();
    if (child && child == node.state->parking) child = child.next_sibling();
    return NodeRef::Make(node.state, child);
}

NodePtr NextSiblingNode(const NodeRef& node) {
    pugi::xml_node sibling = node.node.next_sibling();
    if (sibling && sibling == node.state->parking) sibling = sibling.next_sibling();
    return NodeRef::Make(node.state, sibling);
}

Kind KindOf(const NodeRef& node) {
    switch (node.node.type()) {
    case pugi::node_element: return Kind::Element;
    case pugi::node_pcdata: return Kind::Text;
    case pugi::node_cdata: return Kind::CData;
    case pugi::node_comment: return Kind::Comment;
    case pugi::node_pi: return Kind::Instruction;
    case pugi::node_declaration: return Kind::Declaration;
    default: return Kind::Other;
    }
}

WString NameOf(const NodeRef& node) { return Wide(node.node.name()); }

WString ValueOf(const NodeRef& node) { return Wide(node.node.value()); }

void ClearValue(const NodeRef& node) { node.node.set_value(""); }

AttributeList AttributesOf(const NodeRef& node) {
    AttributeList list;
    for (const pugi::xml_attribute attribute : node.node.attributes()) {
        list.emplace_back(Wide(attribute.name()), Wide(attribute.value()));
    }
    return list;
}

bool PlainTextOf(const NodeRef& node, WString& text) {
    const pugi::xml_node child = node.node.first_child();
    if (node.node.type() != pugi::node_element) return false;
    if (!child) {
        text.clear();
        return true;
    }
    if (child.type() != pugi::node_pcdata || child.next_sibling()) return false;
    const char* value = child.value();
    const std::size_t length = std::strlen(value);
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    if (length == 0 || blank(value[0]) || blank(value[length - 1])) return false;
    text = FromUtf8(std::string_view(value, length));
    return true;
}

int SpaceOf(const NodeRef& node) {
    // Asked for every element above each text read: no strings made.
    for (pugi::xml_attribute attribute = node.node.first_attribute(); attribute; attribute = attribute.next_attribute()) {
        if (std::strcmp(attribute.name(), "xml:space") != 0) continue;
        if (std::strcmp(attribute.value(), "preserve") == 0) return 1;
        if (std::strcmp(attribute.value(), "default") == 0) return 0;
    }
    return -1;
}

}  // namespace detail
}  // namespace kel::xml
