// The tree of the XML adapter, the library's own on every platform. The
// platform's parser only fills it (xml_backend.h); names, element text,
// searches and serialisation are done here, which is what makes both
// platforms give the same texts and write the same bytes for a document.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <new>
#include <type_traits>

#include "platform/os.h"
#include "platform/raii.h"
#include "platform/staged_file.h"
#include "platform/xml_backend.h"

namespace kel::xml {

namespace detail {

// Links are 32-bit places in the document's arenas rather than pointers,
// which halves a node: documents run to hundreds of thousands of them.
// Place 0 is never used, so 0 stands for none.
using Index = std::uint32_t;

// The document, elements and the declaration branch out (children,
// attributes); the other nodes hold a text, which lives in the document's
// text pool. An element whose only child would be one piece of text keeps
// it in place of its child links: most elements of a large document do,
// and a third fewer nodes is a third less memory for every walk to touch.
struct Node {
    struct Branch {
        Index name;  // an element's
        Index attributes;  // an element's or the declaration's
        Index first;
        Index last;
    };
    // Shares name and attributes with Branch.
    struct OwnText {
        Index name;
        Index attributes;
        const char16_t* data;
    };
    struct Text {
        const char16_t* data;
        Index size;
    };
    static constexpr std::size_t kMaxOwnText = 0xFFFF;

    bool HoldsText() const { return kind != Kind::Document && kind != Kind::Element && kind != Kind::Declaration; }
    bool OwnsText() const { return ownSize != 0; }
    Index First() const { return HoldsText() || OwnsText() ? 0 : branch.first; }
    // An instruction's is "target data", as written.
    WStringView TextView() const { return {text.data, text.size}; }
    Text OwnedText() const { return {own.data, ownSize}; }
    WStringView OwnTextView() const { return {own.data, ownSize}; }

    Kind kind;
    std::uint16_t ownSize;  // an element's own text; 0 when it has none
    Index self;
    Index parent;
    Index next;
    union {
        Branch branch;
        OwnText own;
        Text text;
    };
};
static_assert(sizeof(Node) <= 32);

// A value lives in the text pool, as texts do: nothing is freed per
// attribute, and a large document's thousands of them free at once.
struct AttributeNode {
    const WString* name = nullptr;
    Node::Text value{nullptr, 0};
    AttributeNode* next = nullptr;
    WStringView Value() const { return {value.data, value.size}; }
};

// One string per distinct name, found by open addressing: documents use a
// few dozen names hundreds of thousands of times, and a parse asks for each
// element's name once.
class NameTable {
public:
    const WString& operator[](Index index) const { return *list_[index]; }
    Index Size() const { return static_cast<Index>(list_.size()); }

    // 0 when the table has no such name.
    Index Find(WStringView name) const { return slots_[SlotOf(name)]; }

    // The name's index, and whether it was added.
    std::pair<Index, bool> Add(WStringView name) {
        std::size_t slot = SlotOf(name);
        if (slots_[slot]) return {slots_[slot], false};
        const Index index = Size();
        store_.emplace_back(name);
        list_.push_back(&store_.back());
        slots_[slot] = index;
        if (list_.size() * 2 > slots_.size()) Grow();
        return {index, true};
    }

    void Clear() {
        store_.clear();
        list_.assign(1, nullptr);
        slots_.assign(kFirstSize, 0);
    }

private:
    static constexpr std::size_t kFirstSize = 64;

    // Length and three characters tell a document's few dozen names apart;
    // hashing every character cost more than the rest of a parse's look-up.
    static std::size_t Hash(WStringView name) {
        if (name.empty()) return 0;
        return ((name.size() * 31 + name[0]) * 31 + name[name.size() / 2]) * 31 + name.back();
    }
    // The slot that holds the name, or the empty one where it would go.
    std::size_t SlotOf(WStringView name) const {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = Hash(name) & mask;; slot = (slot + 1) & mask) {
            if (!slots_[slot] || SameText(*list_[slots_[slot]], name)) return slot;
        }
    }
    void Grow() {
        slots_.assign(slots_.size() * 2, 0);
        for (Index index = 1; index < Size(); ++index) slots_[SlotOf(*list_[index])] = index;
    }

    std::deque<WString> store_;  // never moves a name
    std::vector<const WString*> list_{nullptr};  // by Index; 0 is none
    std::vector<Index> slots_ = std::vector<Index>(kFirstSize, 0);
};

// Grows by blocks that never move, so that a node keeps its address for the
// handles; much cheaper than a deque, whose blocks hold a handful of nodes.
// Blocks stay below the size that malloc maps, whose pages every new
// document would fault in again.
template <class T>
class Arena {
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena() { Clear(); }

    template <class... Args>
    Index Add(Args&&... args) {
        const Index index = size_ + 1;
        if (index / kBlockSize == blocks_.size()) blocks_.push_back(std::unique_ptr<Slot[]>(new Slot[kBlockSize]));
        new (Place(index)) T(std::forward<Args>(args)...);
        size_ = index;
        return index;
    }

    T& operator[](Index index) const { return *std::launder(reinterpret_cast<T*>(Place(index))); }

    Index Size() const { return size_; }

    void Clear() {
        if constexpr (!std::is_trivially_destructible_v<T>) {
            for (Index index = 1; index <= size_; ++index) (*this)[index].~T();
        }
        blocks_.clear();
        size_ = 0;
    }

private:
    static constexpr Index kBlockSize = 256;
    struct alignas(T) Slot {
        unsigned char bytes[sizeof(T)];
    };
    Slot* Place(Index index) const { return &blocks_[index / kBlockSize][index % kBlockSize]; }
    std::vector<std::unique_ptr<Slot[]>> blocks_;
    Index size_ = 0;
};

// Texts are appended and never freed one by one: a replaced text leaves its
// characters behind until the content is dropped, which is cheap because
// documents are built or read whole, not edited at length. Most texts are a
// few characters, far less than a string object.
class TextPool {
public:
    Node::Text Add(WStringView text) {
        if (text.empty()) return {nullptr, 0};
        if (text.size() > left_) {
            const std::size_t size = std::max(text.size(), kChunkSize);
            chunks_.push_back(std::unique_ptr<char16_t[]>(new char16_t[size]));
            end_ = chunks_.back().get();
            left_ = size;
        }
        char16_t* data = std::copy(text.begin(), text.end(), end_) - text.size();
        end_ += text.size();
        left_ -= text.size();
        return {data, static_cast<Index>(text.size())};
    }

    void Clear() {
        chunks_.clear();
        end_ = nullptr;
        left_ = 0;
    }

private:
    static constexpr std::size_t kChunkSize = 4096;
    std::vector<std::unique_ptr<char16_t[]>> chunks_;
    char16_t* end_ = nullptr;
    std::size_t left_ = 0;
};

// Nodes live as long as the document's content: a removed element stays
// usable, and handles need no allocation of their own. Only nodes no handle
// can name (all but elements) are reused once taken out.
struct DocState {
    std::shared_ptr<void> session;
    // Parse and Load free every node; handles and name ids from before know
    // it by this, which no other content in the process has had.
    std::uint64_t generation = 0;
    Arena<Node> nodes;
    Arena<AttributeNode> attributes;
    TextPool texts;
    NameTable names;
    std::vector<char> checked{0};  // by Index: a valid name, checked once
    std::vector<std::size_t> made{0};  // by Index: elements ever made with the name
    Index spare = 0;  // linked by next
    Node* document = nullptr;

    void Reset() {
        static std::atomic<std::uint64_t> contents{0};
        generation = ++contents;
        spare = 0;
        nodes.Clear();
        attributes.Clear();
        texts.Clear();
        names.Clear();
        checked.resize(1);
        made.resize(1);
        Forget();
        document = &New(Kind::Document);
    }

    Node& operator[](Index index) const { return nodes[index]; }
    Node* At(Index index) const { return index ? &nodes[index] : nullptr; }
    AttributeNode* FirstAttribute(const Node& node) const {
        return node.branch.attributes ? &attributes[node.branch.attributes] : nullptr;
    }
    const WString& NameOf(const Node& element) const { return names[element.branch.name]; }

    // 0 when no node has ever had the name.
    Index Find(WStringView name) const {
        if (const Index known = Recent(name)) return known;
        return FindAndRemember(name);
    }
    // Apart, so that the common case above saves no registers.
    [[gnu::noinline]] Index FindAndRemember(WStringView name) const {
        const Index found = names.Find(name);
        if (found) Remember(name, found);
        return found;
    }

    Index Intern(WStringView name) {
        if (const Index known = Recent(name)) return known;
        const auto [index, added] = names.Add(name);
        if (added) {
            checked.push_back(0);
            made.push_back(0);
        }
        Remember(name, index);
        return index;
    }

    // Callers name elements with literals, so a name asked for again mostly
    // lies where it lay: a slot by that place, its text compared, spares the
    // table's hash. Threads that only read a document share it, so a slot's
    // two halves may come from different readers: the text compare catches a
    // mismatched pair.
    // Enough for the literals of a builder and two readers of one document.
    static constexpr std::size_t kRecentSlots = 64;
    struct RecentName {
        std::atomic<const char16_t*> data{nullptr};
        std::atomic<Index> index{0};
    };
    mutable std::array<RecentName, kRecentSlots> recent{};
    static std::size_t SlotOf(const char16_t* data) {
        return (reinterpret_cast<std::uintptr_t>(data) >> 1) % kRecentSlots;
    }
    Index Recent(WStringView name) const {
        const RecentName& slot = recent[SlotOf(name.data())];
        const Index index = slot.index.load(std::memory_order_relaxed);
        return slot.data.load(std::memory_order_relaxed) == name.data() && index && SameText(names[index], name)
                   ? index
                   : 0;
    }
    void Remember(WStringView name, Index index) const {
        RecentName& slot = recent[SlotOf(name.data())];
        slot.data.store(name.data(), std::memory_order_relaxed);
        slot.index.store(index, std::memory_order_relaxed);
    }
    void Forget() {
        for (RecentName& slot : recent) slot.index.store(0, std::memory_order_relaxed);
    }

    // The interned name, or 0 when it is not a valid name. Builders append
    // the same few names hundreds of thousands of times.
    Index ValidName(WStringView name) {
        if (const Index known = Find(name); known && checked[known]) return known;
        if (!IsValidName(name)) return 0;
        const Index index = Intern(name);
        checked[index] = 1;
        return index;
    }

    // name: an element's.
    Node& New(Kind kind, WStringView name = {}) { return New(kind, kind == Kind::Element ? Intern(name) : 0); }
    Node& New(Kind kind, Index name) {
        Index index = spare;
        if (index) {
            spare = nodes[index].next;
            nodes[index] = Node{};
        } else {
            index = nodes.Add();
        }
        Node& node = nodes[index];
        node.kind = kind;
        node.self = index;
        if (node.HoldsText()) node.text = {nullptr, 0};
        if (kind == Kind::Element) {
            node.branch.name = name;
            ++made[name];
        }
        return node;
    }

    void SetText(Node& node, WStringView text) { node.text = texts.Add(text); }

    // text: not empty, at most kMaxOwnText; the element has no children.
    void Own(Node& element, WStringView text) {
        element.own = {element.branch.name, element.branch.attributes, texts.Add(text).data};
        element.ownSize = static_cast<std::uint16_t>(text.size());
    }

    // The element's links stand for children again, none yet.
    static Node::Text TakeOwnText(Node& element) {
        const Node::Text text = element.OwnedText();
        element.ownSize = 0;
        element.branch = {element.own.name, element.own.attributes, 0, 0};
        return text;
    }

    // Before an element that holds its own text gets a further child, the
    // text becomes a child node like any other.
    void Spill(Node& element) {
        if (!element.OwnsText()) return;
        const Node::Text text = TakeOwnText(element);
        Node& child = New(Kind::Text);
        child.text = text;
        child.parent = element.self;
        element.branch.first = element.branch.last = child.self;
    }

    void AddAttribute(Node& node, WStringView name, WStringView value) { AddAttribute(node, Intern(name), value); }
    void AddAttribute(Node& node, Index name, WStringView value) {
        const Index index = attributes.Add();
        AttributeNode& attribute = attributes[index];
        attribute.name = &names[name];
        attribute.value = texts.Add(value);
        if (AttributeNode* last = FirstAttribute(node)) {
            while (last->next) last = last->next;
            last->next = &attribute;
        } else {
            node.branch.attributes = index;
        }
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
using detail::Index;
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

// before: a child of parent, or null to append.
void InsertBefore(DocState& state, Node& parent, Node& child, Node* before) {
    state.Spill(parent);
    child.parent = parent.self;
    child.next = before ? before->self : 0;
    if (!parent.branch.first || parent.branch.first == child.next) {
        parent.branch.first = child.self;
    } else {
        Node* previous = &state[parent.branch.first];
        while (previous->next != child.next) previous = &state[previous->next];
        previous->next = child.self;
    }
    if (!before) parent.branch.last = child.self;
}

// Appending is what building does: it needs no walk.
void Append(DocState& state, Node& parent, Node& child) {
    state.Spill(parent);
    child.parent = parent.self;
    child.next = 0;
    (parent.branch.last ? state[parent.branch.last].next : parent.branch.first) = child.self;
    parent.branch.last = child.self;
}

// Removals are rare and leave documents small, so a node keeps no link back
// and its siblings are walked to find the one before it.
void Unlink(DocState& state, Node& node) {
    if (!node.parent) return;
    Node& parent = state[node.parent];
    Node* previous = nullptr;
    for (Index at = parent.branch.first; at != node.self; at = state[at].next) previous = &state[at];
    (previous ? previous->next : parent.branch.first) = node.next;
    if (parent.branch.last == node.self) parent.branch.last = previous ? previous->self : 0;
    node.parent = node.next = 0;
}

void RemoveChildren(DocState& state, Node& node) {
    if (node.OwnsText()) {
        DocState::TakeOwnText(node);
        return;
    }
    while (Node* child = state.At(node.branch.first)) {
        Unlink(state, *child);
        if (child->kind != Kind::Element) {
            child->next = state.spare;
            state.spare = child->self;
        }
    }
}

// The element's only content: in its node when it fits, else a text child.
void PlaceText(DocState& state, Node& element, WStringView text) {
    if (text.size() > Node::kMaxOwnText) {
        Node& child = state.New(Kind::Text);
        state.SetText(child, text);
        Append(state, element, child);
    } else if (!text.empty()) {
        state.Own(element, text);
    }
}

// name is interned: the same name is the same index.
bool IsElementNamed(const Node& node, Index name) { return node.kind == Kind::Element && node.branch.name == name; }

// Visits the nodes below root in document order, without recursion, until
// visit returns false.
template <class Visit>
void ForEachBelow(DocState& state, Node& root, Visit visit) {
    for (Node* current = state.At(root.First()); current;) {
        if (!visit(*current)) return;
        if (Node* first = state.At(current->First())) {
            current = first;
            continue;
        }
        while (current != &root && !current->next) current = &state[current->parent];
        if (current == &root) return;
        current = &state[current->next];
    }
}

std::vector<Element> ElementsBelow(const std::shared_ptr<DocState>& state, Node& root, WStringView wanted) {
    std::vector<Element> found;
    const Index name = state->Find(wanted);
    if (!name) return found;
    ForEachBelow(*state, root, [&](Node& node) {
        if (IsElementNamed(node, name)) found.push_back(detail::Access::Make(state, &node));
        return true;
    });
    return found;
}

Node* RootOf(const DocState& state) {
    for (Node* child = state.At(state.document->branch.first); child; child = state.At(child->next)) {
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

    Writer(const DocState& state, Mode mode, bool forceUtf8) : state_(state), mode_(mode), forceUtf8_(forceUtf8) {}

    WString Write() {
        for (const Node* child = state_.At(state_.document->branch.first); child; child = state_.At(child->next)) {
            WriteNode(*child, 0, mode_ == Mode::Exact);
            if (mode_ != Mode::Exact) out_ += u"\r\n";
        }
        return std::move(out_);
    }

private:
    enum class Layout { Empty, Block, Inline };

    struct Open {
        const Node* element;
        Index next;
        int depth;
        bool inlineContent;
    };

    Layout LayoutOf(const Node& element) const {
        bool markup = false;
        bool text = false;
        bool blank = false;
        if (element.OwnsText()) return Layout::Inline;
        for (const Node* child = state_.At(element.First()); child; child = state_.At(child->next)) {
            switch (child->kind) {
            case Kind::Text:
                if (!child->text.size) break;
                (IsBlank(child->TextView()) ? blank : text) = true;
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
                out_ += state_.NameOf(*top.element);
                out_ += u">";
                stack_.pop_back();
                continue;
            }
            const Node& child = state_[top.next];
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
        out_ += state_.NameOf(element);
        for (const AttributeNode* attribute = state_.FirstAttribute(element); attribute; attribute = attribute->next) {
            out_ += u" ";
            out_ += *attribute->name;
            out_ += u"=\"";
            AppendEscaped(out_, attribute->Value(), true);
            out_ += u"\"";
        }
        const Layout layout = LayoutOf(element);
        if (layout == Layout::Empty) {
            out_ += u"/>";
            return;
        }
        out_ += u">";
        if (element.OwnsText()) AppendEscaped(out_, element.OwnTextView(), false);
        stack_.push_back({&element, element.First(), depth, inlineContent || layout == Layout::Inline});
    }

    void WriteLeaf(const Node& node) {
        switch (node.kind) {
        case Kind::Text: AppendEscaped(out_, node.TextView(), false); break;
        case Kind::CData: AppendCData(out_, node.TextView()); break;
        case Kind::Comment:
            out_ += u"<!--";
            out_ += node.TextView();
            out_ += u"-->";
            break;
        case Kind::Instruction:
            out_ += u"<?";
            out_ += node.TextView();
            out_ += u"?>";
            break;
        case Kind::Declaration:
            out_ += u"<?xml";
            for (const AttributeNode* attribute = state_.FirstAttribute(node); attribute; attribute = attribute->next) {
                out_ += u" ";
                out_ += *attribute->name;
                out_ += u"='";
                out_ += forceUtf8_ && *attribute->name == u"encoding" ? WStringView(u"UTF-8") : attribute->Value();
                out_ += u"'";
            }
            out_ += u"?>";
            break;
        default: break;
        }
    }

    const DocState& state_;
    Mode mode_;
    bool forceUtf8_;
    WString out_;
    std::vector<Open> stack_;
};

// ---- text ----

// The xml:space of an element: 1 for "preserve", 0 for "default", -1 without one.
int SpaceOf(const DocState& state, const Node& element) {
    for (const AttributeNode* attribute = state.FirstAttribute(element); attribute; attribute = attribute->next) {
        if (*attribute->name != u"xml:space") continue;
        if (attribute->Value() == u"preserve") return 1;
        if (attribute->Value() == u"default") return 0;
    }
    return -1;
}

bool PreservesSpace(const DocState& state, const Node& element, bool inherited) {
    const int space = SpaceOf(state, element);
    return space < 0 ? inherited : space == 1;
}

// The nearest xml:space that decides, on the node or above it.
bool PreservesSpaceAt(const DocState& state, const Node& node) {
    for (const Node* current = &node; current; current = state.At(current->parent)) {
        if (current->kind != Kind::Element) continue;
        const int space = SpaceOf(state, *current);
        if (space >= 0) return space == 1;
    }
    return false;
}

// Visits every node below root in document order with the xml:space in
// force for it, without recursion.
template <class Visit>
void WalkWithSpace(DocState& state, Node& root, bool preserve, Visit visit) {
    struct Level {
        Index next;
        bool preserve;
    };
    // An element's own text is visited as the text node it stands for.
    const auto visitOwn = [&](const Node& element, bool inScope) {
        Node piece{};
        piece.kind = Kind::Text;
        piece.text = element.OwnedText();
        visit(piece, inScope);
    };
    if (root.OwnsText()) return visitOwn(root, preserve);
    std::vector<Level> stack{{root.First(), preserve}};
    while (!stack.empty()) {
        if (!stack.back().next) {
            stack.pop_back();
            continue;
        }
        Node* node = &state[stack.back().next];
        const bool inScope = stack.back().preserve;
        stack.back().next = node->next;
        visit(*node, inScope);
        if (node->kind != Kind::Element) continue;
        const bool below = PreservesSpace(state, *node, inScope);
        if (node->OwnsText()) {
            visitOwn(*node, below);
        } else {
            stack.push_back({node->branch.first, below});
        }
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

// Most elements hold one piece of text that xml:space cannot change: that
// piece, or null.
std::optional<WStringView> PlainTextOf(DocState& state, Node& node) {
    if (node.kind != Kind::Element) return std::nullopt;
    WStringView text;
    if (node.OwnsText()) {
        text = node.OwnTextView();
    } else {
        const Node* only = state.At(node.branch.first);
        if (!only) return WStringView();
        if (only->self != node.branch.last || only->kind != Kind::Text) return std::nullopt;
        text = only->TextView();
    }
    if (text.empty() || IsXmlSpace(text.front()) || IsXmlSpace(text.back())) return std::nullopt;
    return text;
}

// The text of an element or the document, as Element::Text() describes it.
WString TextOf(DocState& state, Node& node) {
    if (const std::optional<WStringView> plain = PlainTextOf(state, node)) return WString(*plain);
    const bool preserve = PreservesSpaceAt(state, node);
    TextBuilder text;
    WalkWithSpace(state, node, preserve, [&](const Node& child, bool inScope) {
        switch (child.kind) {
        case Kind::Text:
            if (!inScope && IsBlank(child.TextView())) {
                text.Gap();
            } else {
                text.Add(child.TextView(), false);
            }
            break;
        case Kind::CData: text.Add(child.TextView(), true); break;
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
    return node ? state_->NameOf(*node) : WString();
}

WString Element::Text() const {
    Node* node = Get();
    return node ? TextOf(*state_, *node) : WString();
}

namespace {

WStringView TextViewOf(DocState& state, Node& node, WString& spare) {
    if (const std::optional<WStringView> plain = PlainTextOf(state, node)) return *plain;
    spare = TextOf(state, node);
    return spare;
}

}  // namespace

WStringView Element::TextView(WString& spare) const {
    Node* node = Get();
    return node ? TextViewOf(*state_, *node, spare) : WStringView();
}

bool Element::SetText(WStringView text) {
    Node* node = Get();
    if (!node) return false;
    RemoveChildren(*state_, *node);
    PlaceText(*state_, *node, text);
    return true;
}

std::optional<WString> Element::Attribute(WStringView name) const {
    const Node* node = Get();
    if (!node) return std::nullopt;
    for (const AttributeNode* attribute = state_->FirstAttribute(*node); attribute; attribute = attribute->next) {
        if (*attribute->name == name) return WString(attribute->Value());
    }
    return std::nullopt;
}

bool Element::SetAttribute(WStringView name, WStringView value) {
    Node* node = Get();
    // Names are interned: the same name is the same string.
    const Index valid = node ? state_->ValidName(name) : 0;
    if (!valid) return false;
    for (AttributeNode* attribute = state_->FirstAttribute(*node); attribute; attribute = attribute->next) {
        if (attribute->name == &state_->names[valid]) {
            attribute->value = state_->texts.Add(value);
            return true;
        }
    }
    state_->AddAttribute(*node, valid, value);
    return true;
}

std::vector<std::pair<WString, WString>> Element::Attributes() const {
    std::vector<std::pair<WString, WString>> list;
    if (const Node* node = Get()) {
        for (const AttributeNode* attribute = state_->FirstAttribute(*node); attribute; attribute = attribute->next) {
            list.emplace_back(*attribute->name, attribute->Value());
        }
    }
    return list;
}

bool Element::AppendChild(const Element& child) {
    Node* node = Get();
    Node* moved = child.Get();
    if (!node || !moved || state_ != child.state_) return false;
    for (const Node* above = node; above; above = state_->At(above->parent)) {
        if (above == moved) return false;  // into its own subtree
    }
    Unlink(*state_, *moved);
    Append(*state_, *node, *moved);
    return true;
}

Element Element::AppendChild(WStringView name, WStringView text) {
    Node* child = NewLeaf(name, text);
    return child ? Element(state_, child) : Element();
}

bool Element::AddLeaf(WStringView name, WStringView text) { return NewLeaf(name, text) != nullptr; }

NameId Element::Intern(WStringView name) {
    NameId id;
    if (Get() && (id.index_ = state_->ValidName(name)) != 0) id.content_ = state_->generation;
    return id;
}

NameId Element::Lookup(WStringView name) const {
    NameId id;
    if (Get() && (id.index_ = state_->Find(name)) != 0) id.content_ = state_->generation;
    return id;
}

bool Element::Accepts(const NameId& name) const { return name.index_ && Get() && name.content_ == generation_; }

Element Element::AppendChild(const NameId& name) {
    if (!Accepts(name)) return {};
    Node& child = state_->New(Kind::Element, name.index_);
    Append(*state_, *node_, child);
    return Element(state_, &child);
}

bool Element::AddLeaves(std::initializer_list<Leaf> leaves) {
    for (const Leaf& leaf : leaves) {
        if (!Accepts(leaf.name)) return false;
    }
    // Appended as Append does, each after the one before, which is at hand.
    DocState& state = *state_;
    Node& parent = *node_;
    state.Spill(parent);
    Node* previous = state.At(parent.branch.last);
    for (const Leaf& leaf : leaves) {
        Node& child = state.New(Kind::Element, leaf.name.index_);
        child.parent = parent.self;
        (previous ? previous->next : parent.branch.first) = child.self;
        parent.branch.last = child.self;
        previous = &child;
        PlaceText(state, child, leaf.text);
    }
    return true;
}

Node* Element::NewLeaf(WStringView name, WStringView text) {
    Node* node = Get();
    const Index valid = node ? state_->ValidName(name) : 0;
    if (!valid) return nullptr;
    Node& child = state_->New(Kind::Element, valid);
    Append(*state_, *node, child);
    PlaceText(*state_, child, text);
    return &child;
}

bool Element::RemoveChild(const Element& child) {
    Node* node = Get();
    Node* removed = child.Get();
    if (!node || !removed || removed->parent != node->self) return false;
    Unlink(*state_, *removed);
    return true;
}

bool Element::RemoveAllChildren() {
    Node* node = Get();
    if (!node) return false;
    RemoveChildren(*state_, *node);
    return true;
}

Element Element::FirstChild(WStringView wanted) const {
    const Node* node = Get();
    const Index name = node ? state_->Find(wanted) : 0;
    return name ? NamedFrom(node->First(), name) : Element();
}

std::optional<WStringView> Element::ChildText(WStringView wanted, WString& spare) const {
    return ChildText(Lookup(wanted), spare);
}

std::optional<WStringView> Element::ChildText(const NameId& name, WString& spare) const {
    if (!Accepts(name)) return std::nullopt;
    for (Node* child = state_->At(node_->First()); child; child = state_->At(child->next)) {
        if (IsElementNamed(*child, name.index_)) return TextViewOf(*state_, *child, spare);
    }
    return std::nullopt;
}

void Element::ChildTexts(const NameId* names, std::size_t count, WStringView* texts, WString* spares) const {
    std::fill_n(texts, count, WStringView());
    // A name no node ever had is found by nobody (0).
    std::array<Index, kMaxChildTexts> wanted{};
    std::size_t left = 0;
    for (std::size_t i = 0; i < count; ++i) left += (wanted[i] = Accepts(names[i]) ? names[i].index_ : 0) != 0;
    if (left == 0) return;
    for (Node* child = state_->At(node_->First()); child && left > 0; child = state_->At(child->next)) {
        for (std::size_t i = 0; i < count; ++i) {
            if (!wanted[i] || !IsElementNamed(*child, wanted[i])) continue;
            texts[i] = TextViewOf(*state_, *child, spares[i]);
            wanted[i] = 0;
            --left;
        }
    }
}

Element Element::NextSibling(WStringView wanted) const {
    const Node* node = Get();
    const Index name = node ? state_->Find(wanted) : 0;
    return name ? NamedFrom(node->next, name) : Element();
}

ChildElements Element::Children(WStringView wanted) const { return Children(Lookup(wanted)); }

ChildElements Element::Children(const NameId& name) const {
    return Accepts(name) ? ChildElements(NamedFrom(node_->First(), name.index_), name.index_) : ChildElements();
}

void Element::MoveToNextNamed(std::uint32_t name) {
    const Node* node = Get();
    for (Node* next = node ? state_->At(node->next) : nullptr; next; next = state_->At(next->next)) {
        if (IsElementNamed(*next, name)) {
            node_ = next;
            return;
        }
    }
    *this = Element();
}

Element Element::NamedFrom(std::uint32_t from, std::uint32_t name) const {
    for (Node* node = state_->At(from); node; node = state_->At(node->next)) {
        if (IsElementNamed(*node, name)) return Element(state_, node);
    }
    return {};
}

std::vector<Element> ChildElements::List() const {
    std::vector<Element> list;
    for (const Element& element : *this) list.push_back(element);
    return list;
}

std::vector<std::vector<Element>> Element::SelfAndDescendants(std::initializer_list<WStringView> names) const {
    std::vector<std::vector<Element>> found(names.size());
    Node* node = Get();
    if (!node) return found;
    std::vector<Index> wanted;
    // The walk ends once every element ever made with a wanted name is found:
    // in a built option document that is after a few nodes of hundreds of thousands.
    std::size_t left = 0;
    for (WStringView name : names) {
        wanted.push_back(IsValidName(name) ? state_->Find(name) : 0);
        left += state_->made[wanted.back()];
    }
    const auto visit = [&](Node& candidate) {
        if (candidate.kind != Kind::Element) return true;
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            if (wanted[i] && IsElementNamed(candidate, wanted[i])) {
                found[i].push_back(detail::Access::Make(state_, &candidate));
                --left;
            }
        }
        return left > 0;
    };
    if (visit(*node)) ForEachBelow(*state_, *node, visit);
    return found;
}

std::vector<Element> Element::Descendants(WStringView name) const {
    Node* node = Get();
    if (!node || !IsValidName(name)) return {};
    return ElementsBelow(state_, *node, name);
}

Element Element::Parent() const {
    const Node* node = Get();
    Node* parent = node ? state_->At(node->parent) : nullptr;
    if (!parent || parent->kind != Kind::Element) return {};
    return Element(state_, parent);
}

Element Element::ForReader() const {
    if (!Get()) return {};
    auto own = std::make_shared<std::shared_ptr<DocState>>(state_);
    return Element(std::shared_ptr<DocState>(own, state_.get()), node_);
}

std::size_t Element::DocumentNodes() const { return Get() ? state_->nodes.Size() : 0; }

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
    return Writer(*state_, indent ? Writer::Mode::Indented : Writer::Mode::Compact, false).Write();
}

bool Document::SavedBytes(std::string& bytes) const {
    if (!state_) return false;
    // The bytes are UTF-8 whatever the declaration said when it was loaded.
    bytes = ToUtf8(Writer(*state_, Writer::Mode::Indented, true).Write());
    return true;
}

bool Document::Save(WStringView path) const {
    std::string bytes;
    return SavedBytes(bytes) && os::WriteWholeFile(path, bytes);
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
    Unlink(*state_, *node);
    InsertBefore(*state_, *state_->document, *node, old);
    if (old) Unlink(*state_, *old);
    return true;
}

Element Document::CreateElement(WStringView name) {
    const Index valid = state_ ? state_->ValidName(name) : 0;
    if (!valid) return {};
    return Element(state_, &state_->New(Kind::Element, valid));
}

bool Document::InsertDeclaration(WStringView data) {
    if (!state_) return false;
    const auto attributes = detail::ParsePseudoAttributes(data);
    if (!attributes) return false;
    Node& document = *state_->document;
    for (Node* child = state_->At(document.branch.first); child;) {
        Node* next = state_->At(child->next);
        if (child->kind == Kind::Declaration) Unlink(*state_, *child);
        child = next;
    }
    Node& declaration = state_->New(Kind::Declaration);
    for (const auto& [name, value] : *attributes) state_->AddAttribute(declaration, name, value);
    InsertBefore(*state_, document, declaration, state_->At(document.branch.first));
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
    // "//Name", which is how version files are read, several times an
    // operation, is answered from the tree: the general path writes the
    // document out for the platform's XPath. A default namespace in scope
    // (which the platforms' XPath treat apart) takes the general path.
    if (xpath.starts_with(u"//") && xpath.find(u':') == WStringView::npos && IsValidName(xpath.substr(2))) {
        const Index name = state_->Find(xpath.substr(2));
        Node* found = nullptr;
        if (name) {
            ForEachBelow(*state_, *state_->document, [&](Node& node) {
                if (IsElementNamed(node, name)) found = &node;
                return !found;
            });
        }
        if (!found) return std::nullopt;
        bool namespaced = false;
        for (Node* element = found; element && element->kind == Kind::Element; element = state_->At(element->parent)) {
            for (AttributeNode* attribute = state_->FirstAttribute(*element); attribute; attribute = attribute->next) {
                namespaced = namespaced || *attribute->name == u"xmlns";
            }
        }
        if (!namespaced) return TextOf(*state_, *found);
    }
    const std::optional<detail::XPathHit> hit =
        detail::SelectFirst(Writer(*state_, Writer::Mode::Exact, false).Write(), xpath);
    if (!hit || !hit->element) return hit ? std::optional<WString>(hit->value) : std::nullopt;
    Node* node = state_->document;
    for (std::size_t place : hit->path) {
        Node* child = state_->At(node->First());
        for (std::size_t skip = place + 1; child; child = state_->At(child->next)) {
            if (child->kind == Kind::Element && --skip == 0) break;
        }
        if (!child) return std::nullopt;
        node = child;
    }
    return TextOf(*state_, *node);
}

namespace detail {

TreeBuilder::TreeBuilder(DocState& state) : state_(state), parent_(state.document), preserve_{false} {}

void TreeBuilder::Add(Kind kind, WStringView name, WStringView value) {
    if ((kind == Kind::Text || kind == Kind::CData) && parent_ == state_.document) return;
    // Emptied, not left out, so that Text() still knows that blanks stood there.
    if (kind == Kind::Text && !preserve_.back() && IsBlank(value)) value = {};
    if (kind == Kind::Text && parent_->kind == Kind::Element && !parent_->First() && !parent_->OwnsText() &&
        !value.empty() && value.size() <= Node::kMaxOwnText) {
        state_.Own(*parent_, value);
        last_ = nullptr;
        return;
    }
    Node& node = state_.New(kind, name);
    if (kind == Kind::Instruction) {
        WString text(name);
        if (!value.empty()) text.append(u" ").append(value);
        state_.SetText(node, text);
    } else if (node.HoldsText()) {
        state_.SetText(node, value);
    }
    Place(node);
}

std::uint32_t TreeBuilder::NameHandle(WStringView name) { return state_.Intern(name); }

void TreeBuilder::AddElement(std::uint32_t name) { Place(state_.New(Kind::Element, Index{name})); }

void TreeBuilder::AddLeaf(std::uint32_t name, WStringView text) {
    Node& element = state_.New(Kind::Element, Index{name});
    Place(element);
    if (text.empty()) return;
    // Blanks and long texts take the general way: a blank text stays a node.
    if (text.size() <= Node::kMaxOwnText && !IsBlank(text)) {
        state_.Own(element, text);
        last_ = nullptr;
        return;
    }
    Enter();
    Add(Kind::Text, {}, text);
    Leave();
}

void TreeBuilder::Place(Node& node) {
    Append(state_, *parent_, node);
    last_ = &node;
}

void TreeBuilder::AddAttribute(WStringView name, WStringView value) {
    if (last_) state_.AddAttribute(*last_, name, value);
}

void TreeBuilder::Enter() {
    if (!last_) return;
    preserve_.push_back(PreservesSpace(state_, *last_, preserve_.back()));
    parent_ = last_;
}

void TreeBuilder::Leave() {
    if (!parent_->parent) return;
    preserve_.pop_back();
    parent_ = &state_[parent_->parent];
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
