// A small XML document object model. The tree is the library's own on every
// platform; the platform's parser (MSXML 6 on Windows, pugixml elsewhere) only
// reads documents into it and runs XPath, so both platforms treat a document
// alike and write the same bytes.
//
// Handles are references: copying an Element or a Document shares the node or
// the document, as DOM pointers do. Nothing throws; failures are false, null
// elements or empty optionals.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace kel::xml {

namespace detail {
struct DocState;
struct Node;
struct Access;
}  // namespace detail

class Document;
class ChildElements;

// An element name looked up in one document's content once: a builder
// appends the same few names hundreds of thousands of times. It names
// nothing in another document, nor after a Parse or Load of its own.
class NameId {
public:
    NameId() = default;
    explicit operator bool() const { return index_ != 0; }

private:
    friend class Element;
    std::uint64_t content_ = 0;  // the content it was made for: unique in the process
    std::uint32_t index_ = 0;
};

class Element {
public:
    Element() = default;

    explicit operator bool() const;
    // The same node of the same document (null elements are equal).
    bool operator==(const Element& other) const;

    WString Name() const;
    // The text below the element as the Windows DOM reads it: text and CDATA
    // in document order, where blanks between two pieces count as one space.
    // Outside xml:space="preserve" leading and trailing white space is
    // dropped, but never a CDATA section's. White space inside is kept.
    WString Text() const;
    // Text() without a copy where the element holds one plain piece of text
    // (most do), else in spare; valid until the document or spare changes.
    WStringView TextView(WString& spare) const;
    // Replaces every child by one text node; an empty text leaves no child.
    bool SetText(WStringView text);

    std::optional<WString> Attribute(WStringView name) const;
    bool HasAttribute(WStringView name) const { return Attribute(name).has_value(); }
    bool SetAttribute(WStringView name, WStringView value);
    // In document order.
    std::vector<std::pair<WString, WString>> Attributes() const;

    // Moves an element of the same document to the end of this one's children.
    bool AppendChild(const Element& child);
    // Appends a new element with the given text; null on failure.
    Element AppendChild(WStringView name, WStringView text = {});
    // The same for a leaf nobody changes later: no handle is made for it.
    bool AddLeaf(WStringView name, WStringView text);
    // The document's id for a name; null when the name is not valid.
    NameId Intern(WStringView name);
    // The id for a walk that does not change the document: null when the
    // document has never held the name, and then nothing is found by it.
    NameId Lookup(WStringView name) const;
    // Whether name is an id of this element's document as it stands.
    bool Accepts(const NameId& name) const;
    Element AppendChild(const NameId& name);
    // Leaves appended in one go; false, with none appended, when a name is
    // not one this element accepts.
    struct Leaf {
        const NameId& name;
        WStringView text;
    };
    bool AddLeaves(std::initializer_list<Leaf> leaves);
    // A removed element stays usable, detached from the tree.
    bool RemoveChild(const Element& child);
    bool RemoveAllChildren();

    // Child elements by exact name; descendants in document order.
    Element FirstChild(WStringView name) const;
    // FirstChild(name).TextView(spare) without making a handle; nullopt when
    // there is no such child. Walks of large documents ask it per item.
    std::optional<WStringView> ChildText(WStringView name, WString& spare) const;
    std::optional<WStringView> ChildText(const NameId& name, WString& spare) const;
    // FirstChild(names[i]).TextView(spares[i]) for every i, in one walk over
    // the children.
    static constexpr std::size_t kMaxChildTexts = 8;
    template <std::size_t N>
    std::array<WStringView, N> ChildTexts(const std::array<WStringView, N>& names,
                                          std::array<WString, N>& spares) const {
        static_assert(N <= kMaxChildTexts);
        std::array<NameId, N> ids;
        for (std::size_t i = 0; i < N; ++i) ids[i] = Lookup(names[i]);
        return ChildTexts(ids, spares);
    }
    template <std::size_t N>
    std::array<WStringView, N> ChildTexts(const std::array<NameId, N>& names, std::array<WString, N>& spares) const {
        static_assert(N <= kMaxChildTexts);
        std::array<WStringView, N> texts;
        ChildTexts(names.data(), N, texts.data(), spares.data());
        return texts;
    }
    ChildElements Children(WStringView name) const;
    ChildElements Children(const NameId& name) const;
    // The next element after this one, among its siblings, with that name.
    Element NextSibling(WStringView name) const;
    std::vector<Element> Descendants(WStringView name) const;
    // Several names in one walk: the i-th list holds the i-th name's, the
    // element itself counted first when it has that name.
    std::vector<std::vector<Element>> SelfAndDescendants(std::initializer_list<WStringView> names) const;
    // Null for the root element and for detached elements.
    Element Parent() const;
    // The same element for a thread that reads the document beside others:
    // the handles made from it count their references apart, so that threads
    // do not contend for one counter. Readers only; nobody may change the
    // document meanwhile.
    Element ForReader() const;
    // How many nodes the element's document has made: what a walk of it costs.
    std::size_t DocumentNodes() const;

private:
    friend class Document;
    friend class ChildElements;
    friend struct detail::Access;
    Element(std::shared_ptr<detail::DocState> state, detail::Node* node);
    void ChildTexts(const NameId* names, std::size_t count, WStringView* texts, WString* spares) const;
    // By interned name: this handle moved to the next sibling (null when
    // there is none), without touching the document's count of handles; and
    // the first element from a node on.
    void MoveToNextNamed(std::uint32_t name);
    Element NamedFrom(std::uint32_t from, std::uint32_t name) const;
    // A new child element with the text; null when the name is not valid.
    detail::Node* NewLeaf(WStringView name, WStringView text);
    // Null for a null handle and for one from before the last Parse or Load.
    detail::Node* Get() const;
    std::shared_ptr<detail::DocState> state_;
    detail::Node* node_ = nullptr;
    std::uint64_t generation_ = 0;
};

// The child elements of one name, walked in place: long lists (the groups of
// a large selection) are not gathered first. List() gathers them, for a
// caller that changes the children while it goes through them.
class ChildElements {
public:
    class Iterator {
    public:
        const Element& operator*() const { return current_; }
        const Element* operator->() const { return &current_; }
        Iterator& operator++() {
            current_.MoveToNextNamed(name_);
            return *this;
        }
        bool operator==(const Iterator& other) const { return current_ == other.current_; }

    private:
        friend class ChildElements;
        Element current_;
        std::uint32_t name_ = 0;
    };

    ChildElements() = default;
    Iterator begin() const { return first_; }
    Iterator end() const { return {}; }
    bool empty() const { return !first_.current_; }
    std::size_t size() const { return List().size(); }
    std::vector<Element> List() const;

private:
    friend class Element;
    ChildElements(Element first, std::uint32_t name) {
        first_.current_ = std::move(first);
        first_.name_ = name;
    }
    Iterator first_;
};

class Document {
public:
    // An empty document; false only when memory runs out.
    static Document Create();
    Document() = default;

    explicit operator bool() const { return state_ != nullptr; }

    // Both replace the content; on failure the document is left empty.
    // Documents with a document type declaration are refused. As with the
    // Windows DOM's default, text of white space only is dropped outside
    // xml:space="preserve".
    bool Parse(WStringView text);
    bool Load(WStringView path);  // Windows-form path

    // UTF-8 without byte order mark; the layout of Serialize.
    bool Save(WStringView path) const;
    // As Save, but written beside path and renamed over it in one step: a
    // failure leaves the file that was there.
    bool SaveStaged(WStringView path) const;
    // The bytes Save writes, for a caller that writes them later.
    bool SavedBytes(std::string& bytes) const;
    // Declaration, comments and instructions each on a line; elements that
    // hold only elements are indented with tabs; elements with text are
    // written as they are. Lines end with CR LF. Without indent, elements
    // follow each other with nothing between them.
    std::optional<WString> Serialize(bool indent = true) const;

    bool HasRoot() const { return static_cast<bool>(Root()); }
    Element Root() const;
    // The element (of this document) becomes the root, replacing any other.
    bool SetRoot(const Element& element);
    // A detached element, to be appended or made the root.
    Element CreateElement(WStringView name);
    // Puts "<?xml data?>" first; data is pseudo-attributes such as
    // "version='1.0' encoding='UTF-8'". Replaces an existing declaration.
    bool InsertDeclaration(WStringView data);

    std::vector<Element> Descendants(WStringView name) const;
    // The text of the first node an XPath 1.0 expression selects: Text()
    // for an element, the value as it stands for other nodes.
    std::optional<WString> SelectSingleText(WStringView xpath) const;

private:
    friend class Element;
    explicit Document(std::shared_ptr<detail::DocState> state) : state_(std::move(state)) {}
    std::shared_ptr<detail::DocState> state_;
};

// An XML 1.0 name (element or attribute).
bool IsValidName(WStringView name);

}  // namespace kel::xml
