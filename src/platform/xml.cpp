// The tree of the XML adapter, the library's own on every platform. The
// platform's parser only fills it (xml_backend.h); names, element text,
// searches and serialisation are done here, which is what makes both
// platforms give the same texts and write the same bytes for a document.
#include <algorithm>
#include <functional>
#include <new>
#include <unordered_set>

#include "platform/os.h"
#include "platform/raii.h"
#include "platform/staged_file.h"
#include "platform/xml_backend.h"

namespace kel::xml {

namespace detail {

struct AttributeNode {
    const WString* name = nullptr;
    WString value;
    AttributeNode* next = nullptr;
};

// The document, elements and the declaration branch out (children,
// attributes); the other nodes hold a text. A node holds one or the other,
// which keeps it at 64 bytes: documents run to hundreds of thousands.
struct Node {
    struct Branch {
        const WString* name;  // an element's
        Node* first;
        Node* last;
        AttributeNode* attributes;  // an element's or the declaration's
    };

    explicit Node(Kind k) : kind(k) {
        if (HoldsText()) {
            new (&text) WString();
        } else {
            branch = Branch{};
        }
    }
    ~Node() {
        if (HoldsText()) text.~WString();
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    bool HoldsText() const { return kind != Kind::Document && kind != Kind::Element && kind != Kind::Declaration; }
    Node* First() const { return HoldsText() ? nullptr : branch.first; }

    const Kind kind;
    Node* parent = nullptr;
    Node* next = nullptr;
    Node* previous = nullptr;
    union {
        Branch branch;
        WString text;  // an instruction's is "target data", as written
    };
};
static_assert(sizeof(Node) <= 64);

// Names are short: a simple hash beats a thorough one.
struct NameHash {
    using is_transparent = void;
    std::size_t operator()(WStringView name) const {
        std::size_t hash = name.size();
        for (char16_t c : name) hash = hash * 31 + c;
        return hash;
    }
};

// Grows by blocks that never move, so that a node keeps its address; much
// cheaper than a deque, whose blocks hold a handful of nodes. Blocks stay
// below the size that malloc maps, whose pages every new document would
// fault in again.
template <class T>
class Arena {
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena() { Clear(); }

    template <class... Args>
    T& Add(Args&&... args) {
        if (blocks_.empty() || blocks_.back().used == blocks_.back().size) {
            const std::size_t size = blocks_.empty() ? 16 : std::min<std::size_t>(blocks_.back().size * 2, 1024);
            blocks_.push_back({std::unique_ptr<Slot[]>(new Slot[size]), 0, size});
        }
        Block& block = blocks_.back();
        T* item = new (&block.slots[block.used]) T(std::forward<Args>(args)...);
        ++block.used;
        return *item;
    }

    void Clear() {
        for (Block& block : blocks_) {
            for (std::size_t i = 0; i < block.used; ++i) std::launder(reinterpret_cast<T*>(&block.slots[i]))->~T();
        }
        blocks_.clear();
    }

private:
    struct alignas(T) Slot {
        unsigned char bytes[sizeof(T)];
    };
    struct Block {
        std::unique_ptr<Slot[]> slots;
        std::size_t used;
        std::size_t size;
    };
    std::vector<Block> blocks_;
};

// Nodes live as long as the document's content: a removed element stays
// usable, and handles need no allocation of their own. Only nodes no handle
// can name (all but elements) are reused once taken out.
struct DocState {
    std::shared_ptr<void> session;
    // Parse and Load free every node; handles from before know it by this.
    unsigned generation = 0;
    Arena<Node> nodes;
    Arena<AttributeNode> attributes;
    // One string per distinct name: documents repeat a few names many times.
    std::unordered_set<WString, NameHash, std::equal_to<>> names;
    Node* spare = nullptr;  // linked by next
    Node* document = nullptr;

    void Reset() {
        ++generation;
        spare = nullptr;
        nodes.Clear();
        attributes.Clear();
        names.clear();
        document = &nodes.Add(Kind::Document);
    }

    // Null when no node has ever had the name.
    const WString* Find(WStringView name) const {
        const auto found = names.find(name);
        return found == names.end() ? nullptr : &*found;
    }

    const WString* Intern(WStringView name) {
        auto found = names.find(name);
        if (found == names.end()) found = names.emplace(name).first;
        return &*found;
    }

    // name: an element's.
    Node& New(Kind kind, WStringView name = {}) {
        Node* node = spare;
        if (node) {
            spare = node->next;
            node->~Node();
            new (node) Node(kind);
        } else {
            node = &nodes.Add(kind);
        }
        if (kind == Kind::Element) node->branch.name = Intern(name);
        return *node;
    }

    void AddAttribute(Node& node, WStringView name, WString value) {
        AttributeNode** end = &node.branch.attributes;
        while (*end) end = &(*end)->next;
        AttributeNode& attribute = attributes.Add();
        attribute.name = Intern(name);
        attribute.value = std::move(value);
        *end = &attribute;
    }
};

struct Access {
    static Element Make(const std::shared_ptr<DocState>& state, Node* node) {
        return node ? Element(state, node) : Element();
    }
};

}  // namespace detail

namespace {

using detail::AttributeNode;
using detail::DocState;
using detail::Kind;
using detail::Node;

bool IsNameStart(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' ||
           (c >= 0xC0 && c != 0xD7 && c != 0xF7 && (c < 0x2000 || c >= 0x2070) && c != 0xFFFE && c != 0xFFFF);
}

bool IsNameChar(char16_t c) {
    return IsNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == 0xB7 ||
           (c >= 0x0300 && c <= 0x036F) || c == 0x203F || c == 0x2040;
}

bool IsXmlSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

bool IsBlank(WStringView text) {
    for (char16_t c : text) {
        if (!IsXmlSpace(c)) return false;
    }
    return true;
}

void AppendEscaped(WString& out, WStringView text, bool attribute) {
    for (char16_t c : text) {
        switch (c) {
        case u'&': out += u"&amp;"; break;
        case u'<': out += u"&lt;"; break;
        case u'>': out += u"&gt;"; break;
        // A parser would normalise these away; the references keep them.
        case u'\r': out += u"&#13;"; break;
        case u'"': out += attribute ? u"&quot;" : u"\""; break;
        case u'\n': out += attribute ? u"&#10;" : u"\n"; break;
        case u'\t': out += attribute ? u"&#9;" : u"\t"; break;
        default: out.push_back(c);
        }
    }
}

void AppendCData(WString& out, WStringView text) {
    out += u"<![CDATA[";
    // "]]>" cannot stand inside a section: split it over two.
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(u"]]>", start);
        if (end == WStringView::npos) {
            out += text.substr(start);
            break;
        }
        out += text.substr(start, end + 2 - start);
        out += u"]]><![CDATA[";
        start = end + 2;
    }
    out += u"]]>";
}

// ---- the links ----

void InsertBefore(Node& parent, Node& child, Node* before) {
    child.parent = &parent;
    child.next = before;
    child.previous = before ? before->previous : parent.branch.last;
    (child.previous ? child.previous->next : parent.branch.first) = &child;
    (before ? before->previous : parent.branch.last) = &child;
}

void Append(Node& parent, Node& child) { InsertBefore(parent, child, nullptr); }

void Unlink(Node& node) {
    if (!node.parent) return;
    (node.previous ? node.previous->next : node.parent->branch.first) = node.next;
    (node.next ? node.next->previous : node.parent->branch.last) = node.previous;
    node.parent = node.next = node.previous = nullptr;
}

void RemoveChildren(DocState& state, Node& node) {
    while (Node* child = node.branch.first) {
        Unlink(*child);
        if (child->kind != Kind::Element) {
            child->next = state.spare;
            state.spare = child;
        }
    }
}

// name is interned: the same name is the same string.
bool IsElementNamed(const Node& node, const WString* name) {
    return node.kind == Kind::Element && node.branch.name == name;
}

// Visits the nodes below root in document order, without recursion.
template <class Visit>
void ForEachBelow(Node& root, Visit visit) {
    for (Node* current = root.First(); current;) {
        visit(*current);
        if (Node* first = current->First()) {
            current = first;
            continue;
        }
        while (current != &root && !current->next) current = current->parent;
        if (current == &root) return;
        current = current->next;
    }
}

std::vector<Element> ElementsBelow(const std::shared_ptr<DocState>& state, Node& root, WStringView wanted) {
    std::vector<Element> found;
    const WString* name = state->Find(wanted);
    if (!name) return found;
    ForEachBelow(root, [&](Node& node) {
        if (IsElementNamed(node, name)) found.push_back(detail::Access::Make(state, &node));
    });
    return found;
}

Node* RootOf(const DocState& state) {
    for (Node* child = state.document->branch.first; child; child = child->next) {
        if (child->kind == Kind::Element) return child;
    }
    return nullptr;
}

// ---- writing ----

class Writer {
public:
    // Exact writes every node as it stands, with nothing between: the text
    // that reads back into the same tree.
    enum class Mode { Indented, Compact, Exact };

    Writer(Mode mode, bool forceUtf8) : mode_(mode), forceUtf8_(forceUtf8) {}

    WString Write(const Node& document) {
        for (const Node* child = document.branch.first; child; child = child->next) {
            WriteNode(*child, 0, mode_ == Mode::Exact);
            if (mode_ != Mode::Exact) out_ += u"\r\n";
        }
        return std::move(out_);
    }

private:
    enum class Layout { Empty, Block, Inline };

    struct Open {
        const Node* element;
        const Node* next;
        int depth;
        bool inlineContent;
    };

    static Layout LayoutOf(const Node& element) {
        bool markup = false;
        bool text = false;
        bool blank = false;
        for (const Node* child = element.branch.first; child; child = child->next) {
            switch (child->kind) {
            case Kind::Text:
                if (child->text.empty()) break;
                (IsBlank(child->text) ? blank : text) = true;
                break;
            case Kind::CData: text = true; break;
            default: markup = true;
            }
        }
        if (text || (blank && !markup)) return Layout::Inline;
        return markup ? Layout::Block : Layout::Empty;
    }

    void Indent(int depth) {
        if (mode_ != Mode::Indented) return;
        out_ += u"\r\n";
        out_.append(static_cast<std::size_t>(depth), u'\t');
    }

    // An element's content is written iteratively so that deep documents
    // cannot exhaust the stack.
    void WriteNode(const Node& node, int depth, bool inlineContent) {
        if (node.kind != Kind::Element) {
            WriteLeaf(node);
            return;
        }
        const std::size_t base = stack_.size();
        OpenElement(node, depth, inlineContent);
        while (stack_.size() > base) {
            Open& top = stack_.back();
            if (!top.next) {
                if (!top.inlineContent) Indent(top.depth);
                out_ += u"</";
                out_ += *top.element->branch.name;
                out_ += u">";
                stack_.pop_back();
                continue;
            }
            const Node& child = *top.next;
            top.next = child.next;
            if (!top.inlineContent) {
                if (child.kind == Kind::Text) continue;  // formatting between elements
                Indent(top.depth + 1);
            }
            if (child.kind == Kind::Element) {
                OpenElement(child, top.depth + 1, top.inlineContent);  // may invalidate top
            } else {
                WriteLeaf(child);
            }
        }
    }

    void OpenElement(const Node& element, int depth, bool inlineContent) {
        out_ += u"<";
        out_ += *element.branch.name;
        for (const AttributeNode* attribute = element.branch.attributes; attribute; attribute = attribute->next) {
            out_ += u" ";
            out_ += *attribute->name;
            out_ += u"=\"";
            AppendEscaped(out_, attribute->value, true);
            out_ += u"\"";
        }
        const Layout layout = LayoutOf(element);
        if (layout == Layout::Empty) {
            out_ += u"/>";
            return;
        }
        out_ += u">";
        stack_.push_back({&element, element.branch.first, depth, inlineContent || layout == Layout::Inline});
    }

    void WriteLeaf(const Node& node) {
        switch (node.kind) {
        case Kind::Text: AppendEscaped(out_, node.text, false); break;
        case Kind::CData: AppendCData(out_, node.text); break;
        case Kind::Comment:
            out_ += u"<!--";
            out_ += node.text;
            out_ += u"-->";
            break;
        case Kind::Instruction:
            out_ += u"<?";
            out_ += node.text;
            out_ += u"?>";
            break;
        case Kind::Declaration:
            out_ += u"<?xml";
            for (const AttributeNode* attribute = node.branch.attributes; attribute; attribute = attribute->next) {
                out_ += u" ";
                out_ += *attribute->name;
                out_ += u"='";
                out_ += forceUtf8_ && *attribute->name == u"encoding" ? WStringView(u"UTF-8") : attribute->value;
                out_ += u"'";
            }
            out_ += u"?>";
            break;
        default: break;
        }
    }

    Mode mode_;
    bool forceUtf8_;
    WString out_;
    std::vector<Open> stack_;
};

// ---- text ----

// The xml:space of an element: 1 for "preserve", 0 for "default", -1 without one.
int SpaceOf(const Node& element) {
    for (const AttributeNode* attribute = element.branch.attributes; attribute; attribute = attribute->next) {
        if (*attribute->name != u"xml:space") continue;
        if (attribute->value == u"preserve") return 1;
        if (attribute->value == u"default") return 0;
    }
    return -1;
}

bool PreservesSpace(const Node& element, bool inherited) {
    const int space = SpaceOf(element);
    return space < 0 ? inherited : space == 1;
}

// The nearest xml:space that decides, on the node or above it.
bool PreservesSpaceAt(const Node& node) {
    for (const Node* current = &node; current; current = current->parent) {
        if (current->kind != Kind::Element) continue;
        const int space = SpaceOf(*current);
        if (space >= 0) return space == 1;
    }
    return false;
}

// Visits every node below root in document order with the xml:space in
// force for it, without recursion.
template <class Visit>
void WalkWithSpace(Node& root, bool preserve, Visit visit) {
    struct Level {
        Node* next;
        bool preserve;
    };
    std::vector<Level> stack{{root.branch.first, preserve}};
    while (!stack.empty()) {
        Node* node = stack.back().next;
        if (!node) {
            stack.pop_back();
            continue;
        }
        const bool inScope = stack.back().preserve;
        stack.back().next = node->next;
        visit(*node, inScope);
        if (node->kind == Kind::Element) stack.push_back({node->branch.first, PreservesSpace(*node, inScope)});
    }
}

// Joins the pieces of an element's text. Blanks that stood between two
// pieces become one space; trimming never cuts into a CDATA section.
class TextBuilder {
public:
    void Gap() { gap_ = true; }
    void Add(WStringView piece, bool cdata) {
        if (piece.empty()) return;
        if (gap_ && !text_.empty()) text_ += u' ';
        gap_ = false;
        if (cdata) {
            keepFrom_ = std::min(keepFrom_, text_.size());
            keepTo_ = text_.size() + piece.size();
        }
        text_ += piece;
    }
    WString Finish(bool trim) {
        if (!trim) return std::move(text_);
        std::size_t begin = 0;
        while (begin < text_.size() && begin < keepFrom_ && IsXmlSpace(text_[begin])) ++begin;
        std::size_t end = text_.size();
        while (end > begin && end > keepTo_ && IsXmlSpace(text_[end - 1])) --end;
        return text_.substr(begin, end - begin);
    }

private:
    WString text_;
    bool gap_ = false;
    std::size_t keepFrom_ = WString::npos;
    std::size_t keepTo_ = 0;
};

// The text of an element or the document, as Element::Text() describes it.
WString TextOf(Node& node) {
    // Most elements hold one piece of text that xml:space cannot change.
    if (node.kind == Kind::Element) {
        const Node* only = node.branch.first;
        if (!only) return {};
        if (only == node.branch.last && only->kind == Kind::Text && !only->text.empty() &&
            !IsXmlSpace(only->text.front()) && !IsXmlSpace(only->text.back())) {
            return only->text;
        }
    }
    const bool preserve = PreservesSpaceAt(node);
    TextBuilder text;
    WalkWithSpace(node, preserve, [&](const Node& child, bool inScope) {
        switch (child.kind) {
        case Kind::Text:
            if (!inScope && IsBlank(child.text)) {
                text.Gap();
            } else {
                text.Add(child.text, false);
            }
            break;
        case Kind::CData: text.Add(child.text, true); break;
        default: break;
        }
    });
    return text.Finish(!preserve);
}

}  // namespace

bool IsValidName(WStringView name) {
    if (name.empty() || !IsNameStart(name.front())) return false;
    for (char16_t c : name.substr(1)) {
        if (!IsNameChar(c)) return false;
    }
    return true;
}

// ---- Element ----

Element::Element(std::shared_ptr<DocState> state, Node* node)
    : state_(std::move(state)), node_(node), generation_(state_->generation) {}

Node* Element::Get() const { return node_ && generation_ == state_->generation ? node_ : nullptr; }

Element::operator bool() const { return Get() != nullptr; }

bool Element::operator==(const Element& other) const { return Get() == other.Get(); }

WString Element::Name() const {
    const Node* node = Get();
    return node ? *node->branch.name : WString();
}

WString Element::Text() const {
    Node* node = Get();
    return node ? TextOf(*node) : WString();
}

bool Element::SetText(WStringView text) {
    Node* node = Get();
    if (!node) return false;
    RemoveChildren(*state_, *node);
    if (!text.empty()) {
        Node& child = state_->New(Kind::Text);
        child.text = text;
        Append(*node, child);
    }
    return true;
}

std::optional<WString> Element::Attribute(WStringView name) const {
    const Node* node = Get();
    if (!node) return std::nullopt;
    for (const AttributeNode* attribute = node->branch.attributes; attribute; attribute = attribute->next) {
        if (*attribute->name == name) return attribute->value;
    }
    return std::nullopt;
}

bool Element::SetAttribute(WStringView name, WStringView value) {
    Node* node = Get();
    if (!node || !IsValidName(name)) return false;
    for (AttributeNode* attribute = node->branch.attributes; attribute; attribute = attribute->next) {
        if (*attribute->name == name) {
            attribute->value = value;
            return true;
        }
    }
    state_->AddAttribute(*node, name, WString(value));
    return true;
}

std::vector<std::pair<WString, WString>> Element::Attributes() const {
    std::vector<std::pair<WString, WString>> list;
    if (const Node* node = Get()) {
        for (const AttributeNode* attribute = node->branch.attributes; attribute; attribute = attribute->next) {
            list.emplace_back(*attribute->name, attribute->value);
        }
    }
    return list;
}

bool Element::AppendChild(const Element& child) {
    Node* node = Get();
    Node* moved = child.Get();
    if (!node || !moved || state_ != child.state_) return false;
    for (const Node* above = node; above; above = above->parent) {
        if (above == moved) return false;  // into its own subtree
    }
    Unlink(*moved);
    Append(*node, *moved);
    return true;
}

Element Element::AppendChild(WStringView name, WStringView text) {
    Node* node = Get();
    if (!node || !IsValidName(name)) return {};
    Node& child = state_->New(Kind::Element, name);
    Append(*node, child);
    Element element(state_, &child);
    element.SetText(text);
    return element;
}

bool Element::RemoveChild(const Element& child) {
    Node* node = Get();
    Node* removed = child.Get();
    if (!node || !removed || removed->parent != node) return false;
    Unlink(*removed);
    return true;
}

bool Element::RemoveAllChildren() {
    Node* node = Get();
    if (!node) return false;
    RemoveChildren(*state_, *node);
    return true;
}

Element Element::FirstChild(WStringView wanted) const {
    Node* node = Get();
    const WString* name = node ? state_->Find(wanted) : nullptr;
    if (!name) return {};
    for (Node* child = node->branch.first; child; child = child->next) {
        if (IsElementNamed(*child, name)) return Element(state_, child);
    }
    return {};
}

Element Element::NextSibling(WStringView wanted) const {
    Node* node = Get();
    const WString* name = node ? state_->Find(wanted) : nullptr;
    if (!name) return {};
    for (Node* sibling = node->next; sibling; sibling = sibling->next) {
        if (IsElementNamed(*sibling, name)) return Element(state_, sibling);
    }
    return {};
}

std::vector<Element> Element::Children(WStringView wanted) const {
    std::vector<Element> found;
    Node* node = Get();
    const WString* name = node ? state_->Find(wanted) : nullptr;
    if (!name) return found;
    for (Node* child = node->branch.first; child; child = child->next) {
        if (IsElementNamed(*child, name)) found.push_back(Element(state_, child));
    }
    return found;
}

std::vector<Element> Element::Descendants(WStringView name) const {
    Node* node = Get();
    if (!node || !IsValidName(name)) return {};
    return ElementsBelow(state_, *node, name);
}

Element Element::Parent() const {
    const Node* node = Get();
    if (!node || !node->parent || node->parent->kind != Kind::Element) return {};
    return Element(state_, node->parent);
}

// ---- Document ----

Document Document::Create() {
    try {
        auto state = std::make_shared<DocState>();
        state->session = detail::OpenSession();
        state->Reset();
        return Document(std::move(state));
    } catch (const std::bad_alloc&) {
        return {};
    }
}

namespace {

template <class Read>
bool ReadInto(DocState& state, Read read) {
    state.Reset();
    try {
        detail::TreeBuilder builder(state);
        if (read(builder)) return true;
    } catch (const std::bad_alloc&) {
    }
    state.Reset();
    return false;
}

}  // namespace

bool Document::Parse(WStringView text) {
    return state_ && ReadInto(*state_, [&](detail::TreeBuilder& builder) { return detail::ParseInto(text, builder); });
}

bool Document::Load(WStringView path) {
    return state_ && ReadInto(*state_, [&](detail::TreeBuilder& builder) { return detail::LoadInto(path, builder); });
}

std::optional<WString> Document::Serialize(bool indent) const {
    if (!state_) return std::nullopt;
    return Writer(indent ? Writer::Mode::Indented : Writer::Mode::Compact, false).Write(*state_->document);
}

bool Document::SavedBytes(std::string& bytes) const {
    if (!state_) return false;
    // The bytes are UTF-8 whatever the declaration said when it was loaded.
    bytes = ToUtf8(Writer(Writer::Mode::Indented, true).Write(*state_->document));
    return true;
}

bool Document::Save(WStringView path) const {
    std::string bytes;
    if (!SavedBytes(bytes)) return false;
    File file(os::OpenFile(path, "wb"));
    if (!file) return false;
    if (!os::WriteBytes(file.get(), bytes.data(), bytes.size())) return false;
    return file.Close();
}

bool Document::SaveStaged(WStringView path) const {
    std::string bytes;
    return SavedBytes(bytes) && WriteFileStaged(path, bytes);
}

Element Document::Root() const { return state_ ? detail::Access::Make(state_, RootOf(*state_)) : Element(); }

bool Document::SetRoot(const Element& element) {
    Node* node = element.Get();
    if (!state_ || !node || element.state_ != state_) return false;
    Node* old = RootOf(*state_);
    if (old == node) return true;
    Unlink(*node);
    InsertBefore(*state_->document, *node, old);
    if (old) Unlink(*old);
    return true;
}

Element Document::CreateElement(WStringView name) {
    if (!state_ || !IsValidName(name)) return {};
    return Element(state_, &state_->New(Kind::Element, name));
}

bool Document::InsertDeclaration(WStringView data) {
    if (!state_) return false;
    const auto attributes = detail::ParsePseudoAttributes(data);
    if (!attributes) return false;
    Node& document = *state_->document;
    for (Node* child = document.branch.first; child;) {
        Node* next = child->next;
        if (child->kind == Kind::Declaration) Unlink(*child);
        child = next;
    }
    Node& declaration = state_->New(Kind::Declaration);
    for (const auto& [name, value] : *attributes) state_->AddAttribute(declaration, name, value);
    InsertBefore(document, declaration, document.branch.first);
    return true;
}

std::vector<Element> Document::Descendants(WStringView name) const {
    if (!state_ || !IsValidName(name)) return {};
    return ElementsBelow(state_, *state_->document, name);
}

// The parser searches a copy read from the text, which has the same elements
// in the same places; an element found there is this tree's element there.
std::optional<WString> Document::SelectSingleText(WStringView xpath) const {
    if (!state_) return std::nullopt;
    const std::optional<detail::XPathHit> hit =
        detail::SelectFirst(Writer(Writer::Mode::Exact, false).Write(*state_->document), xpath);
    if (!hit || !hit->element) return hit ? std::optional<WString>(hit->value) : std::nullopt;
    Node* node = state_->document;
    for (std::size_t place : hit->path) {
        Node* child = node->branch.first;
        for (std::size_t skip = place + 1; child; child = child->next) {
            if (child->kind == Kind::Element && --skip == 0) break;
        }
        if (!child) return std::nullopt;
        node = child;
    }
    return TextOf(*node);
}

namespace detail {

TreeBuilder::TreeBuilder(DocState& state) : state_(state), parent_(state.document), preserve_{false} {}

void TreeBuilder::Add(Kind kind, WStringView name, WString value) {
    if ((kind == Kind::Text || kind == Kind::CData) && parent_ == state_.document) return;
    // Emptied, not left out, so that Text() still knows that blanks stood there.
    if (kind == Kind::Text && !preserve_.back() && IsBlank(value)) value.clear();
    Node& node = state_.New(kind, name);
    if (kind == Kind::Instruction) {
        node.text = name;
        if (!value.empty()) node.text.append(u" ").append(value);
    } else if (node.HoldsText()) {
        node.text = std::move(value);
    }
    Append(*parent_, node);
    last_ = &node;
}

void TreeBuilder::AddAttribute(WStringView name, WString value) {
    if (last_) state_.AddAttribute(*last_, name, std::move(value));
}

void TreeBuilder::Enter() {
    if (!last_) return;
    preserve_.push_back(PreservesSpace(*last_, preserve_.back()));
    parent_ = last_;
}

void TreeBuilder::Leave() {
    if (!parent_->parent) return;
    preserve_.pop_back();
    parent_ = parent_->parent;
    last_ = nullptr;
}

std::optional<AttributeList> ParsePseudoAttributes(WStringView data) {
    AttributeList result;
    std::size_t i = 0;
    auto skipSpace = [&] {
        while (i < data.size() && IsXmlSpace(data[i])) ++i;
    };
    for (skipSpace(); i < data.size(); skipSpace()) {
        const std::size_t nameStart = i;
        while (i < data.size() && IsNameChar(data[i])) ++i;
        WString name(data.substr(nameStart, i - nameStart));
        skipSpace();
        if (name.empty() || i >= data.size() || data[i] != u'=') return std::nullopt;
        ++i;
        skipSpace();
        if (i >= data.size() || (data[i] != u'\'' && data[i] != u'"')) return std::nullopt;
        const char16_t quote = data[i++];
        const std::size_t end = data.find(quote, i);
        if (end == WStringView::npos) return std::nullopt;
        result.emplace_back(std::move(name), WString(data.substr(i, end - i)));
        i = end + 1;
        if (i < data.size() && !IsXmlSpace(data[i])) return std::nullopt;
    }
    if (result.empty() || result.front().first != u"version") return std::nullopt;
    return result;
}

}  // namespace detail
}  // namespace kel::xml
