#include "options/relkey_parser.h"

#include <algorithm>
#include <array>
#include <deque>
#include <future>
#include <unordered_map>
#include <vector>

#include "options/relkey_file.h"
#include "platform/trace.h"
#include "platform/xml.h"
#include "shared/guid.h"

namespace kel {

namespace {

// Texts pass through 260-character buffers on their way into the document.
constexpr std::size_t kMaxText = 259;

void TraceParser(WStringView message) { Trace(u"RelkeyParser", message); }

// The text after the first ampersand; empty without one.
WStringView AfterAmpersand(WStringView text) {
    text = text.substr(0, kMaxText);
    const std::size_t at = text.find(u'&');
    return at == WStringView::npos ? WStringView() : text.substr(at + 1);
}

// A text-form remark starts with "//"; the document keeps what follows.
WStringView RemarkText(WStringView text) {
    text = text.substr(0, kMaxText);
    const std::size_t slash = text.find(u'/');
    if (slash == WStringView::npos || slash + 2 > text.size()) return {};
    return text.substr(slash + 2);
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

enum class Form { None, Text, Xml };

Form FormOf(WStringView path) {
    const std::size_t n = path.size();
    if (n <= 4) return Form::None;
    const WStringView last = path.substr(n - 4);
    if (last[0] == u'.' && IsDigit(last[1]) && IsDigit(last[2]) && IsDigit(last[3])) return Form::Text;
    if (last == u".opt") return Form::Text;
    if (last == u".xml") return Form::Xml;
    return Form::None;
}

WString ChildText(const xml::Element& element, WStringView name) {
    const xml::Element child = element.FirstChild(name);
    return child ? child.Text() : WString();
}

// A text as the document would give it back: cleaned of what XML cannot
// hold (as the group's setters do), stored as UTF-8 up to any NUL, read with
// its blanks at either end trimmed. In scratch only where it had to change.
WStringView AsStored(WStringView raw, WString& scratch) {
    WStringView text = raw;
    if (PlainXmlPrefix(text) < text.size()) {
        if (!HasOnlyXmlCharacters(text)) {
            scratch = WithoutNonXmlCharacters(text);
            text = scratch;
        }
        if (std::any_of(text.begin(), text.end(), [](char16_t c) { return c == 0 || (c >= 0xD800 && c <= 0xDFFF); })) {
            WString stored = FromUtf8(ToUtf8(text).c_str());
            scratch = std::move(stored);
            text = scratch;
        }
    }
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; };
    std::size_t end = text.size();
    while (end > 0 && blank(text[end - 1])) --end;
    std::size_t begin = 0;
    while (begin < end && blank(text[begin])) ++begin;
    return text.substr(begin, end - begin);
}

// The group with each text as the document would give it back. Most texts
// already are: then the group or option keeps its own (a view of the same
// place). False when no instance GUID can be made. Touches nothing shared.
bool AsRead(CRelkeyGroup& group) {
    const auto unchanged = [](WStringView own, WStringView stored) {
        return own.size() == stored.size() && (own.empty() || own.data() == stored.data());
    };
    std::vector<CRelkeyOption> options = group.TakeOptions();
    WString title, label, code, subTitle, category;
    const std::array<WStringView, 6> head{group.TitleView(), group.LabelView(), group.CodeView(), group.SubTitleView(),
                                          group.SubGUIDView(), group.CategoryView()};
    const std::array<WStringView, 6> storedHead{AsStored(head[0], title), AsStored(head[1], label),
                                                AsStored(head[2], code), AsStored(AfterAmpersand(head[3]), subTitle),
                                                {}, AsStored(head[5], category)};
    if (!std::equal(head.begin(), head.end(), storedHead.begin(), unchanged)) {
        CRelkeyGroup read;
        read.SetTexts(storedHead[0], storedHead[1], storedHead[2], storedHead[3], storedHead[4], storedHead[5],
                      TextSource::Clean);
        group = std::move(read);
    }
    CGUID guid;
    WString description, datFile, subLabelText, instanceText, remark;
    for (CRelkeyOption& option : options) {
        const WStringView subLabel = AfterAmpersand(option.RefSubLabelView());
        // Every load gives each sub group reference its own instance.
        WString instance;
        if (!subLabel.empty() && !guid.GenerateGUID(CGUID::kRegistryFormat, instance)) return false;
        const std::array<WStringView, 5> own{option.LineSelectionDescriptionView(), option.DatFileView(),
                                             option.RefSubLabelView(), option.RefSubGUIDView(), option.RemarkView()};
        const std::array<WStringView, 5> stored{
            AsStored(own[0], description), AsStored(own[1], datFile), AsStored(subLabel, subLabelText),
            AsStored(instance, instanceText), AsStored(RemarkText(own[4]), remark)};
        if (!std::equal(own.begin(), own.end(), stored.begin(), unchanged)) {
            CRelkeyOption item;
            item.SetTexts(stored[0], stored[1], stored[2], stored[3], stored[4], TextSource::Clean);
            option = std::move(item);
        }
    }
    group.SetOptions(std::move(options));
    return true;
}

// The groups a reader reads, as read; the list ends early where a GUID fails.
struct ReadGroups {
    std::vector<CRelkeyGroup> groups;
    bool failed = false;
};
ReadGroups ReadAll(CRelkeyFile& reader) {
    ReadGroups read;
    CRelkeyGroup group;
    while (reader.GetNextGroup(group) == 0) {
        if (!AsRead(group)) {
            read.failed = true;
            break;
        }
        read.groups.push_back(std::move(group));
        group.Clear();
    }
    return read;
}

bool AppendGroupElement(xml::Element& root, const CRelkeyGroup& group) {
    xml::Element element = root.AppendChild(u"Group");
    if (!element) return false;
    bool ok = element.AppendChild(u"SubTitle", group.GetSubTitle()) && element.AppendChild(u"Title", group.GetTitle()) &&
              element.AppendChild(u"Label", group.GetLabel()) && element.AppendChild(u"Code", group.GetCode()) &&
              element.AppendChild(u"Category", group.GetCategory());
    for (const CRelkeyOption& option : group.Options()) {
        if (!ok) break;
        xml::Element item = element.AppendChild(u"GroupItem");
        ok = item && item.AppendChild(u"LineSelectionDescription", option.GetLineSelectionDescription()) &&
             item.AppendChild(u"DatFile", option.GetDatFile()) && item.AppendChild(u"RefSubLabel", option.GetRefSubLabel()) &&
             item.AppendChild(u"RefSubGUID", option.GetRefSubGUID()) && item.AppendChild(u"Remark", option.GetRemark());
    }
    return ok;
}

void ReadGroup(const xml::Element& element, CRelkeyGroup& group) {
    group.SetSubTitle(ChildText(element, u"SubTitle"));
    group.SetTitle(ChildText(element, u"Title"));
    group.SetLabel(ChildText(element, u"Label"));
    group.SetCode(ChildText(element, u"Code"));
    group.SetCategory(ChildText(element, u"Category"));
    for (const xml::Element& item : element.Children(u"GroupItem")) {
        CRelkeyOption option;
        option.SetLineSelectionDescription(ChildText(item, u"LineSelectionDescription"));
        option.SetDatFile(ChildText(item, u"DatFile"));
        option.SetRefSubLabel(ChildText(item, u"RefSubLabel"));
        option.SetRefSubGUID(ChildText(item, u"RefSubGUID"));
        option.SetRemark(ChildText(item, u"Remark"));
        group.AddOption(option);
    }
}

}  // namespace

struct CRelkeyParser::Impl {
    xml::Document document;
    xml::Element root;  // where the text conversion writes
    std::vector<xml::Element> groups;  // collected by FirstGroup
    std::size_t next = 0;

    // A text file's content is kept as groups, each as the document would
    // give it back; the document is written only when a search needs it
    // (what it gives back for these texts is the same).
    struct TextForm {
        bool active = false;
        bool appendable = false;  // until the next load
        bool inDocument = false;
        WString title;
        WString owner;
        std::deque<CRelkeyGroup> read;  // grows without copying what it holds
    };
    TextForm text;

    // Lookups by label and sub title: element text -> first group in document
    // order, built once per load and dropped whenever the document changes.
    struct Index {
        bool built = false;
        std::unordered_map<WString, xml::Element> groups;  // null: the match has no parent element
        // Views of the groups' own texts, which stay put while the file is loaded.
        TextIndex textGroups;  // into text.read
        std::vector<std::uint32_t> firstPlaces;  // by place: the first with the same text
    };
    Index byLabel;
    Index bySubTitle;

    void BuildTextIndex(Index& index) {
        index.textGroups.Reserve(text.read.size());
        index.firstPlaces.resize(text.read.size());
        for (std::size_t i = 0; i < text.read.size(); ++i) {
            const CRelkeyGroup& group = text.read[i];
            index.firstPlaces[i] = static_cast<std::uint32_t>(
                index.textGroups.Add(&index == &byLabel ? group.LabelView() : group.SubTitleView(), i));
        }
        index.built = true;
    }

    // Loading appends thousands of groups, before any search has built an index.
    void Invalidate() {
        if (byLabel.built) byLabel = Index();
        if (bySubTitle.built) bySubTitle = Index();
    }

    // The text form's groups in the document, as the searches of any element see them.
    bool WriteTextForm() {
        if (!text.active || text.inDocument) return true;
        text.inDocument = true;
        root = document.CreateElement(u"RelkeyFile");
        if (!root || !document.SetRoot(root) || !root.AppendChild(u"RelkeyTitle", text.title) ||
            !root.AppendChild(u"Owner", text.owner)) {
            return false;
        }
        for (const CRelkeyGroup& group : text.read) {
            if (!AppendGroupElement(root, group)) return false;
        }
        return true;
    }
};

CRelkeyParser::CRelkeyParser() : m_impl(std::make_unique<Impl>()) {
    m_impl->document = xml::Document::Create();
    if (!m_impl->document) TraceParser(u"CRelkeyParser::CRelkeyParser, Failure initialize XMLDOMDocument");
}

CRelkeyParser::~CRelkeyParser() = default;

bool CRelkeyParser::HasDocument() const { return static_cast<bool>(m_impl->document); }

int CRelkeyParser::Load(WStringView path, uint16_t driveModuleNumber) {
    Impl& impl = *m_impl;
    impl.root = xml::Element();
    impl.text.appendable = false;
    if (!impl.document) return -1;
    const Form form = FormOf(path);
    if (form == Form::None) return 0;
    // Loading replaces the whole content (the text form's root replaces any other).
    impl.groups.clear();
    impl.next = 0;
    impl.Invalidate();
    impl.text = Impl::TextForm();

    if (form == Form::Xml) {
        if (!impl.document.Load(path)) {
            TraceParser(u"CRelkeyParser::Load, failed loading XML.\n");
            return -1;
        }
        return 0;
    }

    CRelkeyFile reader;
    impl.text.active = true;
    impl.text.appendable = true;
    if (reader.GetTitle(path, impl.text.title) != S_OK) impl.text.title.clear();
    int owner = 0;
    int type = 0;
    reader.GetOwner(path, owner);
    reader.GetType(path, type);
    reader.SetSubstitutionNumber(driveModuleNumber);
    impl.text.owner = owner == 1 ? u"NOFAC" : u"SEROP";

    CRelkeyGroup group;
    if (reader.GetFirstGroup(path, group) != 0) {
        TraceParser(u"CRelkeyParser::Load, failed reading a relkey group.\n");
        return -1;
    }
    // A large file's second half is read on a second core meanwhile; it
    // counts only where the first half ends cleanly, as one reader would.
    CRelkeyFile rest;
    HeldTraces traces;
    std::future<ReadGroups> second;
    if (reader.SplitOff(rest)) {
        second = std::async(std::launch::async | std::launch::deferred,
                            [&] { return traces.Hold([&] { return ReadAll(rest); }); });
    }
    int next = 0;
    do {
        if (AppendGroup(std::move(group)) != 0) return -1;
        group.Clear();
    } while ((next = reader.GetNextGroup(group)) == 0);
    if (!second.valid()) return 0;
    ReadGroups read = second.get();
    traces.Release();
    if (next != -1) return 0;  // a malformed line ends the file there
    for (CRelkeyGroup& later : read.groups) impl.text.read.push_back(std::move(later));
    return read.failed ? -1 : 0;
}

int CRelkeyParser::AppendGroup(CRelkeyGroup group) {
    Impl& impl = *m_impl;
    if (!impl.document || !impl.text.appendable) return -1;
    impl.Invalidate();
    if (!AsRead(group)) return -1;
    if (impl.text.inDocument && !AppendGroupElement(impl.root, group)) return -1;
    impl.text.read.push_back(std::move(group));
    return 0;
}

std::deque<CRelkeyGroup> CRelkeyParser::TakeGroups() {
    Impl& impl = *m_impl;
    impl.Invalidate();  // the indexes view the groups' texts
    impl.next = 0;
    std::deque<CRelkeyGroup> taken = std::move(impl.text.read);
    impl.text = Impl::TextForm();
    return taken;
}

const CRelkeyGroup* CRelkeyParser::FirstGroup(CRelkeyGroup& scratch, std::size_t* place) {
    Impl& impl = *m_impl;
    scratch.Clear();
    if (place) *place = npos;
    if (!impl.document) return nullptr;
    if (impl.text.active) {
        // A text file's groups are in file order: main groups, then sub groups.
        const std::deque<CRelkeyGroup>& read = impl.text.read;
        for (std::size_t i = 0; i < read.size(); ++i) {
            if (read[i].SubTitleView().empty()) {
                impl.next = i + 1;
                if (place) *place = i;
                return &read[i];
            }
        }
        impl.next = read.size();
        return nullptr;
    }
    impl.groups = impl.document.Descendants(u"Group");
    impl.next = 0;
    // A group without a SubTitle counts as a main group.
    for (std::size_t i = 0; i < impl.groups.size(); ++i) {
        if (ChildText(impl.groups[i], u"SubTitle").empty()) {
            ReadGroup(impl.groups[i], scratch);
            impl.next = i + 1;
            return &scratch;
        }
    }
    return nullptr;
}

const CRelkeyGroup* CRelkeyParser::NextGroup(CRelkeyGroup& scratch, std::size_t* place) {
    Impl& impl = *m_impl;
    scratch.Clear();
    if (place) *place = npos;
    if (impl.document && impl.text.active) {
        const std::deque<CRelkeyGroup>& read = impl.text.read;
        if (impl.next >= read.size() || !read[impl.next].SubTitleView().empty()) return nullptr;
        if (place) *place = impl.next;
        return &read[impl.next++];
    }
    if (!impl.document || impl.next >= impl.groups.size()) return nullptr;
    const xml::Element& element = impl.groups[impl.next];
    if (!ChildText(element, u"SubTitle").empty()) return nullptr;
    ReadGroup(element, scratch);
    ++impl.next;
    return &scratch;
}

int CRelkeyParser::GetGroup(WStringView elementName, WStringView text, CRelkeyGroup* group) {
    if (!m_impl->document) return -1;
    if (elementName.empty()) {
        TraceParser(u"CRelkeyParser::GetGroup: No group specified!");
        return -1;
    }
    if (!group) return -1;
    group->Clear();
    const CRelkeyGroup* found = FindGroup(elementName, text, *group);
    if (!found) return -1;
    if (found != group) *group = *found;
    return 0;
}

const CRelkeyGroup* CRelkeyParser::FindGroup(WStringView elementName, WStringView text, CRelkeyGroup& scratch,
                                             std::size_t* place) {
    Impl& impl = *m_impl;
    if (place) *place = npos;
    if (!impl.document || elementName.empty()) return nullptr;
    Impl::Index* index = elementName == u"Label" ? &impl.byLabel : elementName == u"SubTitle" ? &impl.bySubTitle : nullptr;
    if (index && impl.text.active) {
        if (!index->built) impl.BuildTextIndex(*index);
        const std::size_t found = index->textGroups.Find(text);
        if (found == TextIndex::npos) return nullptr;
        if (place) *place = found;
        return &impl.text.read[found];
    }
    if (!impl.WriteTextForm()) return nullptr;
    if (!index) {
        for (const xml::Element& element : impl.document.Descendants(elementName)) {
            if (element.Text() != text) continue;
            const xml::Element parent = element.Parent();
            if (!parent) return nullptr;
            scratch.Clear();
            ReadGroup(parent, scratch);
            return &scratch;
        }
        return nullptr;
    }
    if (!index->built) {
        for (const xml::Element& element : impl.document.Descendants(elementName)) {
            index->groups.try_emplace(element.Text(), element.Parent());
        }
        index->built = true;
    }
    const auto found = index->groups.find(WString(text));
    if (found == index->groups.end() || !found->second) return nullptr;
    scratch.Clear();
    ReadGroup(found->second, scratch);
    return &scratch;
}

std::size_t CRelkeyParser::FirstWithLabel(std::size_t place) {
    Impl& impl = *m_impl;
    if (!impl.text.active || place >= impl.text.read.size()) return npos;
    if (!impl.byLabel.built) impl.BuildTextIndex(impl.byLabel);
    return impl.byLabel.firstPlaces[place];
}

std::size_t CRelkeyParser::FirstWithLabel(WStringView label) {
    if (!m_impl->text.active) return npos;
    CRelkeyGroup unused;  // a text file's group is never read into it
    std::size_t place = npos;
    FindGroup(u"Label", label, unused, &place);
    return place;
}

const CRelkeyGroup& CRelkeyParser::GroupAt(std::size_t place) const { return m_impl->text.read[place]; }

std::vector<std::deque<CRelkeyGroup>> CRelkeyCache::TakeGroupsAndClear() {
    std::vector<std::deque<CRelkeyGroup>> groups;
    for (auto& [file, entry] : m_parsers) {
        if (entry.parser) groups.push_back(entry.parser->TakeGroups());
    }
    Clear();
    return groups;
}

CRelkeyParser& CRelkeyCache::Parser(WStringView path, uint16_t driveModuleNumber, int& loaded) {
    Entry& entry = m_parsers[{WString(path), driveModuleNumber}];
    if (!entry.parser) {
        entry.parser = std::make_unique<CRelkeyParser>();
        entry.loaded = entry.parser->Load(path, driveModuleNumber);
    }
    loaded = entry.loaded;
    return *entry.parser;
}

}  // namespace kel
