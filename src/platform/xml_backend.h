// What a platform's parser does for the portable tree: read a text or a file
// into it, and run XPath. Only xml.cpp and the backends include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/xml.h"

namespace kel::xml::detail {

enum class Kind : std::uint8_t { Document, Element, Text, CData, Comment, Instruction, Declaration };

using AttributeList = std::vector<std::pair<WString, WString>>;

// Appends a parser's nodes below the document node, in document order.
// White-space-only text outside xml:space="preserve" is emptied.
class TreeBuilder {
public:
    explicit TreeBuilder(DocState& state);
    // name: an element's, or an instruction's target; value: the text of the
    // others. Text beside the root is not kept.
    void Add(Kind kind, WStringView name, WStringView value = {});
    // An element by its name's handle: a parser that meets the same few names
    // hundreds of thousands of times converts and looks up each once.
    std::uint32_t NameHandle(WStringView name);
    void AddElement(std::uint32_t name);
    // An element without attributes whose content is this text alone, which
    // is most elements of a large document: as AddElement, Enter, Add, Leave.
    void AddLeaf(std::uint32_t name, WStringView text);
    // To the element or declaration added last.
    void AddAttribute(WStringView name, WStringView value);
    // Below the element added last, and back up.
    void Enter();
    void Leave();

private:
    void Place(Node& node);

    DocState& state_;
    Node* parent_;
    Node* last_ = nullptr;
    std::vector<bool> preserve_;  // xml:space="preserve" in force, per open element
};

// Each refuses what the Windows DOM refuses (a document type declaration
// among it); on false the caller drops whatever was added.
bool ParseInto(WStringView text, TreeBuilder& builder);
bool LoadInto(WStringView path, TreeBuilder& builder);  // Windows-form path

// The first node an XPath expression selects in a document's text: an
// element (by its place among its sibling elements, from the root down) or
// the document (no place), else the value of what was selected.
struct XPathHit {
    bool element = false;
    std::vector<std::size_t> path;
    WString value;
};
std::optional<XPathHit> SelectFirst(WStringView text, WStringView xpath);

// Held by a document for its lifetime: what the parser needs on the thread
// that made the document (COM on Windows).
std::shared_ptr<void> OpenSession();

std::optional<AttributeList> ParsePseudoAttributes(WStringView data);

}  // namespace kel::xml::detail
