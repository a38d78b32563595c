// What an XML backend gives the portable serialiser: a walk over every node.
// Only xml.cpp and the two backends include this.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/xml.h"

namespace kel::xml::detail {

enum class Kind { Element, Text, CData, Comment, Instruction, Declaration, Other };

using NodePtr = std::shared_ptr<const NodeRef>;
using AttributeList = std::vector<std::pair<WString, WString>>;

NodePtr DocumentNode(const std::shared_ptr<DocState>& state);
NodePtr ParentNode(const NodeRef& node);
NodePtr FirstChildNode(const NodeRef& node);
NodePtr NextSiblingNode(const NodeRef& node);
Kind KindOf(const NodeRef& node);
WString NameOf(const NodeRef& node);   // element name or instruction target
WString ValueOf(const NodeRef& node);  // text, comment or instruction data
AttributeList AttributesOf(const NodeRef& node);  // of an element or the declaration
// An element's text when xml:space cannot change it: no children, or one
// text child with no blank at either end. False: ask TextOf.
bool PlainTextOf(const NodeRef& element, WString& text);
// The first xml:space of an element that says "preserve" (1) or "default" (0); -1 without one.
int SpaceOf(const NodeRef& element);
void ClearValue(const NodeRef& node);  // of a text node

// Shared by the backends.
// After a parse: white-space-only text outside xml:space="preserve" is
// emptied, not removed, so that Text() still knows that blanks stood there.
void DropIgnorableWhiteSpace(const NodePtr& document);
// The text of an element or the document, as Element::Text() describes it.
WString TextOf(const NodeRef& node);
std::optional<AttributeList> ParsePseudoAttributes(WStringView data);

}  // namespace kel::xml::detail
