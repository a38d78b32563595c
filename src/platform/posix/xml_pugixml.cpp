// XML backend over pugixml: reads documents into the portable tree, with the
// rules of the Windows DOM that pugixml leaves to its user, and runs XPath.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <pugixml.hpp>
#include <string_view>
#include <vector>

#include "platform/os.h"
#include "platform/posix/xml_encoding.h"
#include "platform/xml_backend.h"

namespace kel::xml::detail {

namespace {

// As a fragment, so that text or a second element beside the root shows up
// and can be refused as MSXML refuses it.
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_declaration | pugi::parse_pi |
                                 pugi::parse_comments | pugi::parse_ws_pcdata | pugi::parse_doctype |
                                 pugi::parse_fragment;

WString Wide(const pugi::char_t* text) { return FromUtf8(text); }

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

// The well-formedness rules pugixml leaves to its user.
bool CheckDocument(const pugi::xml_document& doc) {
    int elements = 0;
    for (pugi::xml_node child = doc.first_child(); child; child = child.next_sibling()) {
        switch (child.type()) {
        case pugi::node_element: ++elements; break;
        case pugi::node_pcdata:
            if (!IsBlankUtf8(child.value())) return false;
            break;
        case pugi::node_cdata:
        case pugi::node_doctype: return false;
        default: break;
        }
    }
    // Duplicate attributes are refused as the copy meets them.
    return elements == 1;
}

// Texts are converted into buffers used again for each node: a large
// document holds hundreds of thousands of them. A buffer only grows, so
// that no conversion pays for clearing it.
class Converter {
public:
    WStringView operator()(const char* text) { return Convert(text, first_); }
    WStringView Second(const char* text) { return Convert(text, second_); }

private:
    // Most texts are a few ASCII characters: they are measured and widened
    // in one pass, and only a longer or wider one is measured apart.
    static WStringView Convert(const char* text, std::vector<char16_t>& buffer) {
        char16_t* out = buffer.data();
        for (std::size_t i = 0; i < buffer.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c == 0) return {out, i};
            if (c >= 0x80) break;
            out[i] = c;
        }
        const std::string_view narrow(text);
        if (buffer.size() < narrow.size()) buffer.resize(std::max(narrow.size(), 2 * buffer.size()));
        const std::size_t ascii = WidenAscii(narrow, buffer.data());
        if (ascii == narrow.size()) return {buffer.data(), ascii};
        const WString rest = FromUtf8(narrow.substr(ascii));
        buffer.resize(std::max(buffer.size(), ascii + rest.size()));
        std::copy(rest.begin(), rest.end(), buffer.begin() + static_cast<std::ptrdiff_t>(ascii));
        return {buffer.data(), ascii + rest.size()};
    }
    std::vector<char16_t> first_ = std::vector<char16_t>(256);
    std::vector<char16_t> second_ = std::vector<char16_t>(256);
};

// False for an element that has an attribute twice.
bool CopyAttributes(pugi::xml_node node, TreeBuilder& builder, Converter& wide) {
    const pugi::xml_attribute first = node.first_attribute();
    if (!first) return true;
    if (HasDuplicateAttribute(node)) return false;
    for (pugi::xml_attribute attribute = first; attribute; attribute = attribute.next_attribute()) {
        builder.AddAttribute(wide(attribute.name()), WString(wide.Second(attribute.value())));
    }
    return true;
}

// A document names its elements with a few dozen names: each is converted
// and looked up once, then found by its bytes. The names point into the
// parsed buffer, which outlives the copy.
class ElementNames {
public:
    explicit ElementNames(TreeBuilder& builder) : builder_(builder) {}
    std::uint32_t operator()(const char* name) {
        const std::string_view text(name);
        Slot& slot = slots_[Hash(text) % slots_.size()];
        if (!slot.handle || slot.name != text) slot = {text, builder_.NameHandle(FromUtf8(text))};
        return slot.handle;
    }

private:
    struct Slot {
        std::string_view name;
        std::uint32_t handle = 0;
    };
    static std::size_t Hash(std::string_view name) {
        if (name.empty()) return 0;
        const auto at = [&](std::size_t i) { return static_cast<unsigned char>(name[i]); };
        return ((name.size() * 31 + at(0)) * 31 + at(name.size() / 2)) * 31 + at(name.size() - 1);
    }
    TreeBuilder& builder_;
    std::array<Slot, 256> slots_{};
};

// Into the tree, without recursion; false when the document breaks a rule
// that only the copy checks.
bool Copy(const pugi::xml_document& doc, TreeBuilder& builder) {
    Converter wide;
    ElementNames names(builder);
    pugi::xml_node current = doc.first_child();
    while (current) {
        switch (current.type()) {
        case pugi::node_element: {
            const pugi::xml_node child = current.first_child();
            if (!child && !current.first_attribute()) {
                builder.AddLeaf(names(current.name()), wide(current.value()));
                break;
            }
            builder.AddElement(names(current.name()));
            if (!CopyAttributes(current, builder, wide)) return false;
            // Text that came before any child is the element's value (kEmbedText).
            const char* text = current.value();
            if (*text || child) builder.Enter();
            if (*text) builder.Add(Kind::Text, {}, wide(text));
            if (child) {
                current = child;
                continue;
            }
            if (*text) builder.Leave();
            break;
        }
        case pugi::node_pcdata: builder.Add(Kind::Text, {}, wide(current.value())); break;
        case pugi::node_cdata: builder.Add(Kind::CData, {}, wide(current.value())); break;
        case pugi::node_comment: builder.Add(Kind::Comment, {}, wide(current.value())); break;
        case pugi::node_pi: builder.Add(Kind::Instruction, wide(current.name()), wide.Second(current.value())); break;
        case pugi::node_declaration:
            builder.Add(Kind::Declaration, {});
            if (!CopyAttributes(current, builder, wide)) return false;
            break;
        default: break;
        }
        pugi::xml_node next = current.next_sibling();
        while (!next) {
            current = current.parent();
            if (current == doc) return true;
            builder.Leave();
            next = current.next_sibling();
        }
        current = next;
    }
    return true;
}

// For the copy: an element's first text, when no child comes before it, is
// kept in the element rather than in a node of its own, which spares
// pugixml a node for most elements of a large document.
constexpr unsigned kEmbedText = kParseFlags | pugi::parse_embed_pcdata;

// Explicit UTF-8: the bytes are decoded already, whatever the declaration says.
bool ParseUtf8(std::string& bytes, TreeBuilder& builder) {
    pugi::xml_document doc;
    return doc.load_buffer_inplace(bytes.data(), bytes.size(), kEmbedText, pugi::encoding_utf8) &&
           CheckDocument(doc) && Copy(doc, builder);
}

}  // namespace

bool ParseInto(WStringView text, TreeBuilder& builder) {
    std::string bytes = ToUtf8(text);
    return ParseUtf8(bytes, builder);
}

bool LoadInto(WStringView path, TreeBuilder& builder) {
    std::string bytes;
    return os::ReadWholeFile(path, bytes) && posix::DecodeToUtf8(bytes) && ParseUtf8(bytes, builder);
}

std::optional<XPathHit> SelectFirst(WStringView text, WStringView xpath) {
    std::string bytes = ToUtf8(text);
    pugi::xml_document doc;
    // A document without a root writes no text, and is searched empty.
    doc.load_buffer_inplace(bytes.data(), bytes.size(), kParseFlags, pugi::encoding_utf8);
    try {
        const pugi::xpath_node found = pugi::xpath_query(ToUtf8(xpath).c_str()).evaluate_node(doc);
        if (found.attribute()) return XPathHit{false, {}, Wide(found.attribute().value())};
        pugi::xml_node node = found.node();
        if (!node) return std::nullopt;
        if (node.type() != pugi::node_element && node.type() != pugi::node_document) {
            return XPathHit{false, {}, Wide(node.value())};
        }
        XPathHit hit{true, {}, {}};
        for (; node.type() == pugi::node_element; node = node.parent()) {
            std::size_t place = 0;
            for (pugi::xml_node before = node.previous_sibling(); before; before = before.previous_sibling()) {
                place += before.type() == pugi::node_element;
            }
            hit.path.push_back(place);
        }
        std::reverse(hit.path.begin(), hit.path.end());
        return hit;
    } catch (const pugi::xpath_exception&) {
    } catch (const std::bad_alloc&) {
    }
    return std::nullopt;
}

std::shared_ptr<void> OpenSession() { return nullptr; }

}  // namespace kel::xml::detail
