#include "description/system_xml.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "config/configuration_files.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "platform/trace.h"
#include "shared/key_info.h"
#include "shared/keystring.h"
#include "shared/media_component.h"
#include "shared/option_choice.h"
#include "shared/outside_factory.h"

namespace kel {

namespace {

// Sub options nest through references; a document that refers back to one of
// its own groups must not recurse without end.
constexpr int kMaxNesting = 256;

WString AfterLastBackslash(WStringView path) {
    const std::size_t slash = path.rfind(u'\\');
    return WString(slash == WStringView::npos ? path : path.substr(slash + 1));
}

WString Decimal(long long value) { return Format(u"%d", value); }

}  // namespace

void CSystemXml::TraceError(WStringView message) { Trace(u"SystemXml", message); }

CSystemXml::CSystemXml() : m_document(xml::Document::Create()) {
    if (!m_document) TraceError(u"CSystemXml::CreateSystemXml, Failure initialize XMLDOMDocument");
}

bool CSystemXml::CreateSystemXml(WStringView systemPath, WStringView targetDir, const CKeyList& keys,
                                 int32_t serialNumber, WStringView serialText, WStringView optionSelection) {
    xml::Document selection = xml::Document::Create();
    if (!selection) {
        TraceError(u"CSystemXml::CreateSystemXml, Failure initialize temporary XMLDOMDocument");
        return false;
    }
    const xml::Element root = selection.Parse(optionSelection) ? selection.Root() : xml::Element();
    return CreateSystemXml(systemPath, targetDir, keys, serialNumber, serialText, root);
}

bool CSystemXml::CreateSystemXml(WStringView systemPath, WStringView targetDir, const CKeyList& keys,
                                 int32_t serialNumber, WStringView serialText, const xml::Element& optionSelection) {
    return Build(systemPath, keys, serialNumber, serialText, optionSelection) && Save(targetDir);
}

bool CSystemXml::Build(WStringView systemPath, const CKeyList& keys, int32_t serialNumber, WStringView serialText,
                       const xml::Element& optionSelection) {
    if (!m_document) {
        TraceError(u"CSystemXml::CreateSystemXml, Failure initialize temporary XMLDOMDocument");
        return false;
    }
    const WString systemName = AfterLastBackslash(systemPath);
    if (keys.Empty()) {
        TraceError(u"CSystemXml::CreateSystemXml, Key(s) missing\n");
        return false;
    }
    const WString mainKey = keys.At(0).GetKeystring();
    m_root = m_document.CreateElement(u"SystemProperties");
    if (!m_document.InsertDeclaration(u"version='1.0' encoding='UTF-8'") || !m_root || !m_document.SetRoot(m_root)) {
        return false;
    }
    m_root.AppendChild(u"SystemName", systemName);

    WString serial;
    if (CConfigurationFiles().SerialNr_LongToStr(serialNumber, serial) == 0) {
        if (serialText.size() > serial.size()) serial = serialText;
    } else {
        TraceError(u"CSystemXml::CreateSystemXML, failed retrieving the Serial Number string.\n");
    }
    m_root.AppendChild(u"SerialNo", serial);

    m_usedMedia = m_root.AppendChild(u"UsedMedia");
    if (!m_usedMedia) {
        TraceError(u"CBackupSupport::CreateSystemXML, XML-file corrupt");
        return false;
    }
    if (!optionSelection) {
        TraceError(u"CSystemXml::CreateSystemXML, Unable to load system options.\n");
        return false;
    }

    // The program's key, and its signature when the key can be described.
    const auto addKey = [](xml::Element& parent, const WString& keystring) {
        parent.AppendChild(u"Key", keystring);
        KeyDescription description;
        if (DescribeKey(keystring, description)) parent.AppendChild(u"SignatureNr", Decimal(description.signatureNumber));
    };
    xml::Element controlModule = m_root.AppendChild(u"ControlModule");
    addKey(controlModule, mainKey);
    m_choicesEntry = xml::Element();
    m_mainChoices.Clear();
    // As a document's search would find them (the root itself counts), in one walk.
    std::vector<std::vector<xml::Element>> found = optionSelection.SelfAndDescendants({u"ZD", u"ProgramNr", u"EXT"});
    const std::vector<xml::Element>& zd = found[0];
    if (!zd.empty()) {
        HandleCategories(zd.front(), controlModule);
    } else {
        TraceError(u"CSystemXml::CreateSystemXML, <ZD> node missing.\n");
    }
    m_programNumbers = std::move(found[1]);
    m_programPosition = 0;
    HandleOptions(u"Zendara", controlModule);

    // Each entry with its own program's key: a drive module by its number,
    // another program by its name. Programs without options (boot server,
    // fail-safe) have no entry, so counting entries would shift the keys.
    const auto keyOf = [&](bool driveModule, const WString& name) {
        for (std::size_t i = 1; i < keys.Size(); ++i) {
            const CKeyInfo& key = keys.At(i);
            KeyDescription description;
            const bool match = driveModule ? key.GetDriveModuleNr() != 0 &&
                                                 name == u"DriveModule" + Decimal(key.GetDriveModuleNr())
                                           : key.GetDriveModuleNr() == 0 && DescribeKey(key.GetKeystring(), description) &&
                                                 description.programName == name;
            if (match) return key.GetKeystring();
        }
        return WString();
    };
    for (const xml::Element& entry : found[2]) {
        const bool driveModule = IsDriveModule(entry);
        xml::Element program = m_root.AppendChild(driveModule ? u"DriveModule" : u"AdditionalOption");
        const xml::Element programNr = entry.FirstChild(u"ProgramNr");
        const WString name = programNr.Text();
        if (programNr) program.AppendChild(u"Name", name);
        addKey(program, keyOf(driveModule, name));
        HandleCategories(entry, program);
        HandleOptions(name, program);
    }
    return true;
}

bool CSystemXml::Save(WStringView targetDir) {
    std::vector<WString> programs;
    if (CConfigurationFiles().ReadProgramId(targetDir, programs) != 0) {
        TraceError(u"CSystemXml::CreateSystemXML, failed storing media info to system.xml.\n");
        return false;
    }
    return Complete(DescribeMedia(programs)) && Write(targetDir);
}

bool CSystemXml::Complete(const std::vector<Media>& media) {
    if (FAILED(AddMedia(m_usedMedia, media))) {
        TraceError(u"CSystemXml::CreateSystemXML, failed storing media info to system.xml.\n");
        return false;
    }
    if (!m_document.SavedBytes(m_bytes)) {
        TraceError(u"CSystemXml::CreateSystemXML, Unable to save system.xml document.\n");
        return false;
    }
    return true;
}

bool CSystemXml::Write(WStringView targetDir) {
    const WString path = WString(targetDir) + u"\\system.xml";
    if (!os::WriteWholeFile(path, m_bytes)) {
        TraceError(u"CSystemXml::CreateSystemXML, Unable to save system.xml document.\n");
        os::RemoveFile(path);
        return false;
    }
    return true;
}

void CSystemXml::Choices::Add(const xml::Element& group) {
    std::size_t beforeUnselected = 0;
    ChosenItems(group, beforeUnselected, taken_);
    groups_.push_back({group, items_.size(), taken_.size(), beforeUnselected});
    items_.insert(items_.end(), std::make_move_iterator(taken_.begin()), std::make_move_iterator(taken_.end()));
}

void CSystemXml::Choices::Clear() {
    groups_.clear();
    items_.clear();
}

const CSystemXml::Choices& CSystemXml::MainChoices(const xml::Element& entry, const xml::Element& mainGroups) {
    if (m_choicesEntry && m_choicesEntry == entry) return m_mainChoices;
    m_choicesEntry = entry;
    m_mainChoices.Clear();
    for (const xml::Element& group : mainGroups.Children(u"Group")) m_mainChoices.Add(group);
    return m_mainChoices;
}

bool CSystemXml::HandleCategories(const xml::Element& entry, xml::Element& target) {
    const xml::Element mainGroups = entry.FirstChild(u"MainGroups");
    if (!mainGroups) return true;
    const Choices& main = MainChoices(entry, mainGroups);
    if (!AddCategories(main, target)) {
        TraceError(u"CSystemXml::HandleCategories, unable to add categories for MainGroup\n");
        return false;
    }
    // Only the sub groups that chosen options open: those of unchosen options
    // carry defaults that nobody chose.
    std::unordered_set<WString, TextHash, SameTextAs> opened;
    std::vector<xml::Element> pending;
    WString spare;
    const xml::NameId referenceName = entry.Lookup(u"RefSubGUID");
    const auto open = [&](std::span<const xml::Element> chosen) {
        for (const xml::Element& item : chosen) {
            const WStringView reference = item.ChildText(referenceName, spare).value_or(WStringView());
            xml::Element subGroup;
            if (reference.empty() || opened.contains(reference) || !GetSubGroupPtr(item, subGroup)) continue;
            opened.emplace(reference);
            pending.push_back(subGroup);
        }
    };
    for (const Choices::Group& group : main.Groups()) open(main.Chosen(group));
    std::vector<xml::Element> chosen;
    while (!pending.empty()) {
        const xml::Element group = pending.back();
        pending.pop_back();
        std::size_t beforeUnselected = 0;
        ChosenItems(group, beforeUnselected, chosen);
        open(chosen);
    }
    Choices subGroups;
    for (const xml::Element& group : entry.FirstChild(u"SubGroups").Children(u"Group")) {
        if (opened.contains(group.ChildText(u"SubGUID", spare).value_or(WStringView()))) subGroups.Add(group);
    }
    if (!AddCategories(subGroups, target)) {
        TraceError(u"CSystemXml::HandleCategories, unable to add categories for MainGroup\n");
        return false;
    }
    return true;
}

bool CSystemXml::AddCategories(const Choices& choices, xml::Element& target) {
    WString categorySpare;
    WString spare;
    const std::vector<Choices::Group>& groups = choices.Groups();
    if (groups.empty()) return true;
    // The names of the selection's document, which does not change meanwhile.
    const xml::NameId categoryName = groups.front().group.Lookup(u"Category");
    const xml::NameId descriptionName = groups.front().group.Lookup(u"LineSelectionDescription");
    for (const Choices::Group& group : groups) {
        const std::optional<WStringView> category = group.group.ChildText(categoryName, categorySpare);
        if (!category) {
            TraceError(u"CSystemXml::HandleCategories, unable to find <Category> node.\n");
            return false;
        }
        if (category->empty()) continue;
        // Defaults count: key.id records them as choices, and the
        // description must not change with the system's history.
        for (const xml::Element& item : choices.Chosen(group)) {
            xml::Element element =
                target.AppendChild(u"Category", item.ChildText(descriptionName, spare).value_or(WStringView()));
            element.SetAttribute(u"descr", *category);
        }
    }
    return true;
}

bool CSystemXml::HandleOptions(WStringView programName, xml::Element& target) {
    xml::Element entry;
    while (m_programPosition < m_programNumbers.size()) {
        const xml::Element& programNr = m_programNumbers[m_programPosition++];
        if (programNr.Text() != programName) continue;
        entry = programNr.Parent();
        if (!entry) TraceError(u"CSystemXml::GetParentNode, unable to access the parent node.\n");
        break;
    }
    if (!entry) {
        m_lastError = Format(u"CSystemXml::HandleOptions, unable to access %s.\n", programName);
        TraceError(m_lastError);
        return false;
    }
    const xml::Element mainGroups = entry.FirstChild(u"MainGroups");
    if (!mainGroups) return true;
    const Choices& main = MainChoices(entry, mainGroups);
    for (const Choices::Group& group : main.Groups()) {
        // An item without Selected ends the options there.
        const std::span<const xml::Element> chosen = main.Chosen(group);
        const std::size_t end = std::min(chosen.size(), group.beforeUnselected);
        for (std::size_t i = 0; i < end; ++i) {
            WriteOption(chosen[i], u"LineSelectionDescription", target);
            m_optionNesting = 1;
        }
        if (group.beforeUnselected != WString::npos) return false;
    }
    return true;
}

bool CSystemXml::GetSubOptionList(const xml::Element& item, WStringView descriptionName, xml::Element& parent) {
    const xml::Element selected = item.FirstChild(u"Selected");
    if (!selected) {
        TraceError(u"CSystemXml::GetSubOptionList, unable to find <Selected>-node.\n");
        return false;
    }
    return !IsChosenItem(item) || WriteOption(item, descriptionName, parent);
}

bool CSystemXml::WriteOption(const xml::Element& item, WStringView descriptionName, xml::Element& parent) {
    // A view of the selection's text: only system.xml changes below.
    WString spare;
    const std::optional<WStringView> described = item.ChildText(descriptionName, spare);
    if (!described) {
        TraceError(u"CSystemXml::GetSubOptionList, unable to find required XML node.\n");
        return false;
    }
    const WStringView text = *described;
    // An item without a text writes no element; its sub options go under its
    // parent, each as if it stood in the item's place.
    const int nesting = m_optionNesting;
    xml::Element element = parent;
    if (!text.empty()) {
        element = parent.AppendChild(m_optionNesting == 1 ? u"Option" : u"SubOption");
        m_optionNesting = 0;
        element.SetAttribute(u"descr", text);
    }
    xml::Element group;
    if (GetSubGroupPtr(item, group)) {
        if (++m_depth > kMaxNesting) {
            TraceError(u"CSystemXml::GetSubOptionList, sub options nest too deep.\n");
        } else {
            for (const xml::Element& subItem : group.Children(u"GroupItem")) {
                if (text.empty()) m_optionNesting = nesting;
                GetSubOptionList(subItem, descriptionName, element);
            }
        }
        --m_depth;
    }
    return true;
}

bool CSystemXml::GetSubGroupPtr(const xml::Element& item, xml::Element& group) {
    WString spare;
    const std::optional<WStringView> reference = item.ChildText(u"RefSubGUID", spare);
    if (!reference) {
        TraceError(u"CSystemXml::GetSubGroupPtr, unable to find <RefSubLabel>-node.\n");
        return false;
    }
    const WStringView guid = *reference;
    if (guid.empty()) return false;
    const xml::Element entry = item.Parent().Parent().Parent();
    const xml::Element subGroups = entry.FirstChild(u"SubGroups");
    if (!subGroups) {
        TraceError(u"CSystemXml::GetSubGroupPtr, unable to find <SubGroups>-node.\n");
        return false;
    }
    // Indexed once per entry: a large system refers to thousands of sub groups.
    SubGroupIndex* index = nullptr;
    for (SubGroupIndex& candidate : m_subGroupIndexes) {
        if (candidate.subGroups == subGroups) index = &candidate;
    }
    if (!index) {
        index = &m_subGroupIndexes.emplace_back();
        index->subGroups = subGroups;
        const std::vector<xml::Element> groups = subGroups.Children(u"Group").List();
        for (std::size_t i = 0; i < groups.size(); ++i) {
            const xml::Element subGuid = groups[i].FirstChild(u"SubGUID");
            if (!subGuid) {
                index->firstWithoutGuid = i;
                break;
            }
            index->groups.emplace(subGuid.Text(), std::make_pair(i, groups[i]));
        }
    }
    const auto found = index->groups.find(guid);
    if (found != index->groups.end() && found->second.first < index->firstWithoutGuid) {
        group = found->second.second;
        return true;
    }
    if (index->firstWithoutGuid != SubGroupIndex::kNone) {
        TraceError(u"CSystemXml::GetSubGroupPtr, unable to find <SubTitle>-node.\n");
    }
    return false;
}

bool CSystemXml::IsDriveModule(const xml::Element& entry) {
    const std::optional<WString> instance = entry.Attribute(u"Instance");
    if (!instance) {
        TraceError(u"CSystemXml::IsDriveModule, unable to get any instances.\n");
        return false;
    }
    return ToAnsi(*instance).rfind("DriveModule", 0) == 0;
}

HRESULT CSystemXml::PopulateUsedMediaNode(xml::Element& usedMedia, WStringView systemDir) {
    std::vector<WString> programs;
    if (CConfigurationFiles().ReadProgramId(systemDir, programs) != 0) return E_UNEXPECTED;
    return AddMedia(usedMedia, DescribeMedia(programs));
}

std::vector<CSystemXml::Media> CSystemXml::DescribeMedia(const std::vector<WString>& programs) {
    std::vector<Media> described;
    ComPtr<IKelInstallMedia> media;
    if (FAILED(CreateOutsideComponent(CLSID_KelInstallMedia, IID_IKelInstallMedia, media.PutVoid()))) media.Reset();
    for (const WString& path : programs) {
        Media& entry = described.emplace_back();
        entry.path = path;
        UniqueBstr bstrPath = UniqueBstr::From(path);
        KelMediaDescription record{};
        if (!media || !bstrPath.get() || FAILED(media->OpenMedia(bstrPath.get())) ||
            FAILED(media->GetMediaDescription(&record))) {
            continue;
        }
        UniqueBstr name(record.name);
        char version[64];
        std::snprintf(version, sizeof version, "%d.%02d.%04d.%02d", record.first, record.second, record.fourth,
                      record.third);
        entry.described = true;
        entry.name = name.View();
        entry.version = FromAscii(version);
    }
    return described;
}

HRESULT CSystemXml::AddMedia(xml::Element& usedMedia, const std::vector<Media>& media) {
    for (const Media& entry : media) {
        xml::Element element = usedMedia.AppendChild(u"Media");
        if (!element) {
            TraceError(u"CBackupSupport::PopulateUsedMediaNode, Could not create new node!");
            return E_UNEXPECTED;
        }
        element.SetAttribute(u"path", entry.path);
        if (!entry.described) continue;
        element.SetAttribute(u"name", entry.name);
        element.SetAttribute(u"version", entry.version);
    }
    return S_OK;
}

HRESULT CSystemXml::ChangeMediaInSystemXml(WStringView systemDir) {
    const WString path = WString(systemDir) + u"\\system.xml";
    xml::Document document = xml::Document::Create();
    if (!document) {
        TraceError(u"CBackupSupport::ChangeMediaInSystemXml, Failure to init XML DOM");
        return E_FAIL;
    }
    if (!document.Load(path)) {
        TraceError(u"CBackupSupport::ChangeMediaInSystemXml, Failure load system.xml");
        return E_FAIL;
    }
    const xml::Element root = document.Root();
    if (!root || root.Name() != u"SystemProperties") {
        TraceError(u"CBackupSupport::ChangeMediaInSystemXml, XML-file corrupt");
        return E_UNEXPECTED;
    }
    xml::Element usedMedia = root.FirstChild(u"UsedMedia");
    if (!usedMedia) usedMedia = xml::Element(root).AppendChild(u"UsedMedia");
    if (!usedMedia) {
        TraceError(u"CBackupSupport::ChangeMediaInSystemXml, XML-file corrupt");
        return E_UNEXPECTED;
    }
    usedMedia.RemoveAllChildren();
    PopulateUsedMediaNode(usedMedia, systemDir);
    if (!document.SaveStaged(path)) {
        TraceError(u"CBackupSupport::ChangeMediaInSystemXml, could not save XML");
        return E_FAIL;
    }
    return S_OK;
}

}  // namespace kel
