// The portable half of the XML adapter: names, element text, serialisation
// and saving. Writing the text here, not in the DOM, is what makes both
// platforms produce the same bytes and texts for the same document.
#include <algorithm>
#include <cstdio>

#include "platform/os.h"
#include "platform/raii.h"
#include "platform/staged_file.h"
#include "platform/xml_backend.h"

namespace kel::xml {

namespace {

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

using detail::Kind;
using detail::NodePtr;

class Writer {
public:
    Writer(bool forceUtf8, bool indent) : forceUtf8_(forceUtf8), indent_(indent) {}

    WString Write(const NodePtr& document) {
        for (NodePtr child = detail::FirstChildNode(*document); child; child = detail::NextSiblingNode(*child)) {
            const Kind kind = detail::KindOf(*child);
            if (kind == Kind::Text || kind == Kind::CData || kind == Kind::Other) continue;
            WriteNode(child, 0, false);
            out_ += u"\r\n";
        }
        return std::move(out_);
    }

private:
    enum class Layout { Empty, Block, Inline };

    struct Open {
        NodePtr element;
        NodePtr next;
        int depth;
        bool inlineContent;
    };

    static Layout LayoutOf(const detail::NodeRef& element) {
        bool markup = false;
        bool text = false;
        bool blank = false;
        for (NodePtr child = detail::FirstChildNode(element); child; child = detail::NextSiblingNode(*child)) {
            switch (detail::KindOf(*child)) {
            case Kind::Text: {
                const WString value = detail::ValueOf(*child);
                if (value.empty()) break;
                (IsBlank(value) ? blank : text) = true;
                break;
            }
            case Kind::CData: text = true; break;
            case Kind::Other: break;
            default: markup = true;
            }
        }
        if (text || (blank && !markup)) return Layout::Inline;
        return markup ? Layout::Block : Layout::Empty;
    }

    void Indent(int depth) {
        if (!indent_) return;
        out_ += u"\r\n";
        out_.append(static_cast<std::size_t>(depth), u'\t');
    }

    // Writes one node; an element's content is written iteratively so that
    // deep documents cannot exhaust the stack.
    void WriteNode(const NodePtr& node, int depth, bool inlineContent) {
        if (detail::KindOf(*node) != Kind::Element) {
            WriteLeaf(*node);
            return;
        }
        const std::size_t base = stack_.size();
        OpenElement(node, depth, inlineContent);
        while (stack_.size() > base) {
            Open& top = stack_.back();
            if (!top.next) {
                if (!top.inlineContent) Indent(top.depth);
                out_ += u"</";
                out_ += detail::NameOf(*top.element);
                out_ += u">";
                stack_.pop_back();
                continue;
            }
            const NodePtr child = top.next;
            top.next = detail::NextSiblingNode(*child);
            const Kind kind = detail::KindOf(*child);
            if (kind == Kind::Other) continue;
            if (!top.inlineContent) {
                if (kind == Kind::Text) continue;  // formatting between elements
                Indent(top.depth + 1);
            }
            if (kind == Kind::Element) {
                OpenElement(child, top.depth + 1, top.inlineContent);  // may invalidate top
            } else {
                WriteLeaf(*child);
            }
        }
    }

    void OpenElement(const NodePtr& element, int depth, bool inlineContent) {
        const WString name = detail::NameOf(*element);
        out_ += u"<";
        out_ += name;
        for (const auto& [attribute, value] : detail::AttributesOf(*element)) {
            out_ += u" ";
            out_ += attribute;
            out_ += u"=\"";
            AppendEscaped(out_, value, true);
            out_ += u"\"";
        }
        const Layout layout = LayoutOf(*element);
        if (layout == Layout::Empty) {
            out_ += u"/>";
            return;
        }
        out_ += u">";
        stack_.push_back({element, detail::FirstChildNode(*element), depth, inlineContent || layout == Layout::Inline});
    }

    void WriteLeaf(const detail::NodeRef& node) {
        switch (detail::KindOf(node)) {
        case Kind::Text: AppendEscaped(out_, detail::ValueOf(node), false); break;
        case Kind::CData: AppendCData(out_, detail::ValueOf(node)); break;
        case Kind::Comment:
            out_ += u"<!--";
            out_ += detail::ValueOf(node);
            out_ += u"-->";
            break;
        case Kind::Instruction: {
            out_ += u"<?";
            out_ += detail::NameOf(node);
            const WString data = detail::ValueOf(node);
            if (!data.empty()) {
                out_ += u" ";
                out_ += data;
            }
            out_ += u"?>";
            break;
        }
        case Kind::Declaration:
            out_ += u"<?xml";
            for (auto [name, value] : detail::AttributesOf(node)) {
                if (forceUtf8_ && name == u"encoding") value = u"UTF-8";
                out_ += u" ";
                out_ += name;
                out_ += u"='";
                out_ += value;
                out_ += u"'";
            }
            out_ += u"?>";
            break;
        default: break;
        }
    }

    bool forceUtf8_;
    bool indent_;
    WString out_;
    std::vector<Open> stack_;
};

// xml:space on an element: true for "preserve", false for "default", else
// what the parent had.
bool PreservesSpace(const detail::NodeRef& element, bool inherited) {
    const int space = detail::SpaceOf(element);
    return space < 0 ? inherited : space == 1;
}

// The nearest xml:space that decides, on the node or above it.
bool PreservesSpaceAt(const detail::NodeRef& node) {
    if (detail::KindOf(node) == Kind::Element && detail::SpaceOf(node) >= 0) return detail::SpaceOf(node) == 1;
    for (NodePtr current = detail::ParentNode(node); current; current = detail::ParentNode(*current)) {
        if (detail::KindOf(*current) != Kind::Element) continue;
        const int space = detail::SpaceOf(*current);
        if (space >= 0) return space == 1;
    }
    return false;
}

// Visits every node below root in document order with the xml:space in
// force for it, without recursion.
template <class Visit>
void WalkWithSpace(const detail::NodeRef& root, bool preserve, Visit visit) {
    struct Level {
        NodePtr next;
        bool preserve;
    };
    std::vector<Level> stack{{detail::FirstChildNode(root), preserve}};
    while (!stack.empty()) {
        if (!stack.back().next) {
            stack.pop_back();
            continue;
        }
        const NodePtr node = stack.back().next;
        const bool inScope = stack.back().preserve;
        stack.back().next = detail::NextSiblingNode(*node);
        visit(*node, inScope);
        if (detail::KindOf(*node) == Kind::Element) {
            stack.push_back({detail::FirstChildNode(*node), PreservesSpace(*node, inScope)});
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

}  // namespace

WString Element::Text() const { return *this ? detail::TextOf(*ref_) : WString(); }

bool IsValidName(WStringView name) {
    if (name.empty() || !IsNameStart(name.front())) return false;
    for (char16_t c : name.substr(1)) {
        if (!IsNameChar(c)) return false;
    }
    return true;
}

std::optional<WString> Document::Serialize(bool indent) const {
    if (!state_) return std::nullopt;
    const NodePtr document = detail::DocumentNode(state_);
    if (!document) return std::nullopt;
    return Writer(false, indent).Write(document);
}

bool Document::SavedBytes(std::string& bytes) const {
    if (!state_) return false;
    const NodePtr document = detail::DocumentNode(state_);
    if (!document) return false;
    // The bytes are UTF-8 whatever the declaration said when it was loaded.
    bytes = ToUtf8(Writer(true, true).Write(document));
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

namespace detail {

void DropIgnorableWhiteSpace(const NodePtr& document) {
    if (!document) return;
    WalkWithSpace(*document, false, [](const NodeRef& node, bool preserve) {
        if (preserve || KindOf(node) != Kind::Text) return;
        const WString value = ValueOf(node);
        if (!value.empty() && IsBlank(value)) ClearValue(node);
    });
}

WString TextOf(const NodeRef& node) {
    WString plain;
    if (PlainTextOf(node, plain)) return plain;
    const bool preserve = PreservesSpaceAt(node);
    TextBuilder text;
    WalkWithSpace(node, preserve, [&](const NodeRef& child, bool inScope) {
        switch (KindOf(child)) {
        case Kind::Text: {
            const WString value = ValueOf(child);
            if (!inScope && IsBlank(value)) {
                text.Gap();
            } else {
                text.Add(value, false);
            }
            break;
        }
        case Kind::CData: text.Add(ValueOf(child), true); break;
        default: break;
        }
    });
    return text.Finish(!preserve);
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
