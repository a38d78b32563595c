#include "shared/system_options_component.h"

#include <array>
#include <deque>
#include <map>
#include <set>
#include <new>
#include <utility>
#include <vector>

#include "shared/com_object_base.h"
#include "shared/option_choice.h"
#include "platform/raii.h"

namespace kel {

namespace {

// The platform's DOM is missing.
constexpr HRESULT kNoDom = static_cast<HRESULT>(0x80040154);

WString ProgramOf(const xml::Element& entry) { return entry.FirstChild(u"ProgramNr").Text(); }

// The ZD of the program, else its last EXT.
xml::Element FindEntry(const xml::Element& root, WStringView program) {
    for (const xml::Element& zd : root.Children(u"ZD")) {
        if (ProgramOf(zd) == program) return zd;
    }
    xml::Element found;
    for (const xml::Element& ext : root.Children(u"EXT")) {
        if (ProgramOf(ext) == program) found = ext;
    }
    return found;
}

// The chosen items' descriptions and selection files, each list joined by "*".
class OptionsWalk {
public:
    explicit OptionsWalk(const xml::Element& entry)
        : texts_{entry.Lookup(u"LineSelectionDescription"), entry.Lookup(u"DatFile"), entry.Lookup(u"RefSubGUID")} {
        for (const xml::Element& group : entry.FirstChild(u"SubGroups").Children(u"Group")) {
            subGroups_.emplace(group.FirstChild(u"SubGUID").Text(), group);  // the first of a GUID wins
        }
    }

    void Group(const xml::Element& group, const WString* subTitle) {
        std::size_t beforeUnselected = 0;
        std::array<WString, 3> spares;
        // One list for each depth of sub groups, kept for the groups that follow.
        if (chosen_.size() <= depth_) chosen_.emplace_back();
        std::vector<xml::Element>& chosen = chosen_[depth_];
        ChosenItems(group, beforeUnselected, chosen);
        for (const xml::Element& item : chosen) {
            const auto [description, datFile, referenceText] = item.ChildTexts(texts_, spares);
            if (items_++ > 0) {
                result_.selections += u'*';
                result_.selectionFiles += u'*';
            }
            if (subTitle) result_.selections.append(*subTitle).append(u":");
            result_.selections += description;
            if (!datFile.empty() && !description.empty() && description.front() == u';') result_.selectionFiles += u';';
            result_.selectionFiles += datFile;
            if (referenceText.empty()) continue;
            const WString reference(referenceText);
            const auto sub = subGroups_.find(reference);
            if (sub == subGroups_.end() || onPath_.count(reference)) continue;  // a cycle adds nothing
            onPath_.insert(reference);
            const WString title = sub->second.FirstChild(u"SubTitle").Text();
            ++depth_;
            Group(sub->second, &title);
            --depth_;
            onPath_.erase(reference);
        }
    }

    OptionsInfo Result() && { return std::move(result_); }

private:
    // An item's description, selection file and sub group reference; the
    // document does not change during the walk.
    std::array<xml::NameId, 3> texts_;
    std::map<WString, xml::Element> subGroups_;
    std::set<WString> onPath_;
    std::deque<std::vector<xml::Element>> chosen_;  // stays put while deeper lists are added
    std::size_t depth_ = 0;
    OptionsInfo result_;
    std::size_t items_ = 0;
};

HRESULT PutString(WStringView text, BSTR* out) {
    *out = UniqueBstr::From(text).Detach();
    return *out ? S_OK : E_OUTOFMEMORY;
}

class CKelInstallSystemOptions final
    : public ComObjectBase<IKelInstallSystemOptions, IID_IKelInstallSystemOptions> {
public:
    HRESULT Init() {
        doc_ = xml::Document::Create();
        return doc_ ? S_OK : kNoDom;
    }

    HRESULT STDMETHODCALLTYPE GetXml(BSTR* pbstrXml) override {
        if (!pbstrXml) return E_POINTER;
        *pbstrXml = nullptr;
        return ComGuard([&] {
            // Without indentation the text is a fifth smaller, and a copy loaded
            // from it has no blank text nodes.
            const std::optional<WString> text = doc_.Serialize(false);
            return text ? PutString(*text, pbstrXml) : E_FAIL;
        });
    }

    HRESULT STDMETHODCALLTYPE LoadXml(BSTR bstrXml) override {
        indexes_.clear();
        return ComGuard([&] { return doc_.Parse(UniqueBstr::View(bstrXml)) ? S_OK : E_FAIL; });
    }

    HRESULT STDMETHODCALLTYPE GetOptionsInfo(BSTR bstrProgram, BSTR* pbstrSelections,
                                             BSTR* pbstrSelectionFiles) override {
        if (!pbstrSelections || !pbstrSelectionFiles) return E_POINTER;
        *pbstrSelections = nullptr;
        *pbstrSelectionFiles = nullptr;
        return ComGuard([&] {
            OptionsInfo info;
            const bool found = ComputeOptionsInfo(doc_.Root(), UniqueBstr::View(bstrProgram), info);
            UniqueBstr selections = UniqueBstr::From(info.selections);
            UniqueBstr files = UniqueBstr::From(info.selectionFiles);
            if (!selections.get() || !files.get()) return E_OUTOFMEMORY;
            *pbstrSelections = selections.Detach();
            *pbstrSelectionFiles = files.Detach();
            return found ? S_OK : S_FALSE;
        });
    }

    HRESULT STDMETHODCALLTYPE GetSubLabelInstance(BSTR, BSTR, BSTR* pbstrValue) override {
        if (!pbstrValue) return E_POINTER;
        return PutString(u"", pbstrValue);
    }

    HRESULT STDMETHODCALLTYPE GetSubGroupInstance(BSTR bstrSubGuid, BSTR bstrProgram,
                                                  VARIANT_BOOL* pvarbExists) override {
        if (!pvarbExists) return E_POINTER;
        *pvarbExists = VARIANT_FALSE;
        return ComGuard([&] {
            const xml::Element subGroups = FindEntry(doc_.Root(), UniqueBstr::View(bstrProgram)).FirstChild(u"SubGroups");
            if (!subGroups) return KEL_OPTIONS_E_NOT_FOUND;
            if (!KnownSubGroups(subGroups).count(WString(UniqueBstr::View(bstrSubGuid)))) return KEL_OPTIONS_E_NOT_FOUND;
            *pvarbExists = VARIANT_TRUE;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE HasContent(VARIANT_BOOL* pvarbHasContent) override {
        if (!pvarbHasContent) return E_POINTER;
        return ComGuard([&] {
            *pvarbHasContent = doc_.HasRoot() ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE PutRoot(const xml::Element& root, xml::Element* pRoot) override {
        return ComGuard([&] {
            indexes_.clear();
            if (!doc_.SetRoot(root)) return E_INVALIDARG;
            if (pRoot) *pRoot = doc_.Root();
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE CreateNode(LONG nodeType, BSTR bstrName, BSTR bstrNamespace,
                                         xml::Element* pNode) override {
        if (!pNode) return E_POINTER;
        return ComGuard([&] {
            *pNode = xml::Element();
            // The document has no namespaces and holds nothing but elements.
            if (nodeType != KEL_NODE_ELEMENT || !UniqueBstr::View(bstrNamespace).empty()) return E_INVALIDARG;
            *pNode = doc_.CreateElement(UniqueBstr::View(bstrName));
            return *pNode ? S_OK : E_INVALIDARG;
        });
    }

    HRESULT STDMETHODCALLTYPE CreateAttribute(BSTR bstrName, KelOptionAttribute* pAttribute) override {
        if (!pAttribute) return E_POINTER;
        return ComGuard([&] {
            const WStringView name = UniqueBstr::View(bstrName);
            if (!xml::IsValidName(name)) return E_INVALIDARG;
            *pAttribute = KelOptionAttribute{WString(name), WString()};
            return S_OK;
        });
    }

private:
    // Option building asks once per sub group reference while it appends
    // groups, so the GUIDs are indexed as the container grows rather than
    // searched from the start each time. Groups are only ever appended there.
    struct SubGroupIndex {
        xml::Element container;
        xml::Element last;  // the last group indexed
        std::set<WString> guids;
    };

    const std::set<WString>& KnownSubGroups(const xml::Element& subGroups) {
        SubGroupIndex* index = nullptr;
        for (SubGroupIndex& candidate : indexes_) {
            if (candidate.container == subGroups) index = &candidate;
        }
        if (!index || (index->last && index->last.Parent() != subGroups)) {
            if (!index) index = &indexes_.emplace_back();
            *index = SubGroupIndex{subGroups, {}, {}};
        }
        for (xml::Element group = index->last ? index->last.NextSibling(u"Group") : subGroups.FirstChild(u"Group");
             group; group = group.NextSibling(u"Group")) {
            index->guids.insert(group.FirstChild(u"SubGUID").Text());
            index->last = group;
        }
        return index->guids;
    }

    xml::Document doc_;
    std::vector<SubGroupIndex> indexes_;
};

}  // namespace

bool ComputeOptionsInfo(const xml::Element& root, WStringView program, OptionsInfo& info) {
    info = OptionsInfo();
    const xml::Element entry = FindEntry(root, program);
    if (!entry) return false;
    OptionsWalk walk(entry);
    for (const xml::Element& group : entry.FirstChild(u"MainGroups").Children(u"Group")) walk.Group(group, nullptr);
    info = std::move(walk).Result();
    return true;
}

HRESULT CreateSystemOptionsComponent(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* object = new (std::nothrow) CKelInstallSystemOptions();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->Init();
    if (SUCCEEDED(hr)) hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

}  // namespace kel
