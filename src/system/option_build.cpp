// Option building: the option selection document of a whole system, built in a
// fresh system options component from the key list and the programs' relkey files.
#include <algorithm>
#include <memory>

#include "config/configuration_files.h"
#include "options/relkey_file.h"
#include "options/relkey_parser.h"
#include "options/selection_group.h"
#include "shared/keystring.h"
#include "shared/outside_factory.h"
#include "platform/os.h"
#include "system/system.h"

namespace kel {

namespace {

constexpr const char16_t* kMainProgram = u"Zendara";

WString AdditionalRelkeyPath(WStringView programPath) { return Format(u"%s\\%s\\%s", programPath, u"syskey", u"relkey.opt"); }

// A chain of sub groups deeper than this is a broken file, not a real release.
constexpr std::size_t kMaxSubGroupDepth = 256;

WString SelectedText(int32_t selected) {
    switch (selected) {
    case CSelectionOption::kSelected: return u"1";
    case CSelectionOption::kSelectedHidden: return u"2";
    case CSelectionOption::kDefault: return u"4";
    default: return u"0";
    }
}

// The recorded option line of a program in the system's key.id replaces the
// keystring's selection when it differs.
bool TakeRecordedSelection(const CKeyIdRecord& record, WStringView program, WString& selection) {
    // A system being made has no key.id yet: nothing is recorded, and nothing failed.
    if (!record.Readable() && !os::Exists(record.Path())) return false;
    CConfigurationFiles files;
    WString recorded;
    if (files.GetMediaKey(record, program, recorded) != 0 || recorded == selection) return false;
    selection = std::move(recorded);
    return true;
}

}  // namespace

xml::Element CSystem::CreateOptionsElement(WStringView name) {
    m_optionBuildValue = KEL_NODE_ELEMENT;
    UniqueBstr bstrName = UniqueBstr::From(name);
    UniqueBstr bstrNamespace = UniqueBstr::From(u"");
    xml::Element node;
    if (!bstrName.get() || !bstrNamespace.get() ||
        FAILED(m_options->CreateNode(m_optionBuildValue, bstrName.get(), bstrNamespace.get(), &node))) {
        return {};
    }
    return node;
}

xml::Element CSystem::OptionsRoot() {
    VARIANT_BOOL hasContent = VARIANT_FALSE;
    if (SUCCEEDED(m_options->HasContent(&hasContent)) && hasContent == VARIANT_FALSE) {
        xml::Element root = CreateOptionsElement(u"OptionSelection");
        m_optionsRoot = xml::Element();
        if (root) m_options->PutRoot(root, &m_optionsRoot);
    }
    return m_optionsRoot;
}

HRESULT CSystem::ConfigSystem(UniqueBstr& xmlText) {
    xmlText.Reset();
    const HRESULT built = BuildSystemOptions(m_systemPath);
    if (built != S_OK) return built;
    if (FAILED(m_options->GetXml(xmlText.Put()))) {
        TraceMessage(u"CSystem::ConfigSystem, Unable to get SystemOptions as an xml bstr\n");
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT CSystem::BuildSystemOptions(WStringView recordedIn) {
    // Every build reads each group's digits from the start, and a failed one
    // leaves no half-built document for the next request.
    m_optionBuildFlag = 1;
    DropOptions();
    const HRESULT built = BuildEveryProgram(recordedIn, m_builtRelkeys);
    if (FAILED(built)) DropOptions();
    return built;
}

void CSystem::DropOptions() {
    m_options.Reset();
    m_optionsRoot = xml::Element();
    m_optionsStale = false;
    m_builtRelkeys.Clear();
    m_programEntry = {};  // its handles would keep the old document alive
}

HRESULT CSystem::BuildEveryProgram(WStringView recordedIn, CRelkeyCache& relkeys) {
    // key.id is read once here, not once per look-up: the look-ups grow with
    // the options, and so does key.id.
    const CKeyIdRecord record(recordedIn);
    m_recorded = &record;
    struct Forget {
        CSystem& system;
        ~Forget() {
            system.m_recorded = nullptr;
            system.m_checkSelections = false;
        }
    } forget{*this};
    const HRESULT created =
        CreateOutsideComponent(CLSID_KelInstallSystemOptions, IID_IKelInstallSystemOptions, m_options.PutVoid());
    if (FAILED(created)) {
        TraceFormatted(u"CSystem::ConfigSystem, Failure initialize KelInstallSystemOptions, returned: %x\n",
                       static_cast<unsigned>(created));
        return E_UNEXPECTED;
    }
    if (!m_options) {
        TraceMessage(u"CSystem::ConfigSystem, KelInstallSystemOptions not initialized");
        return E_UNEXPECTED;
    }
    if (m_keyList.Empty()) return KELINSTALL_E_READ_KEYS;

    const CKeyInfo& mainKey = m_keyList.At(0);
    KeyDescription description;
    if (!DescribeKey(mainKey.GetKeystring(), description)) {
        TraceFormatted(u"CSystem::ConfigSystem, Failure extract keystring %s\n", mainKey.GetKeystring());
        return KELINSTALL_E_BAD_KEY;
    }
    // Loads the relkey file named by a release key's signature.
    const auto loadReleaseRelkey = [&](const CKeyInfo& key, int32_t signature) -> CRelkeyParser* {
        CRelkeyFile relkeyFile;
        WString path;
        if (relkeyFile.GetRelkeyFilePath(key.GetProgramPath(), signature, path) != 0) {
            TraceMessage(u"CSystem::ConfigSystem, Unable to name of relkeyfile\n");
            return nullptr;
        }
        int loaded = 0;
        CRelkeyParser& parser = relkeys.Parser(path, key.GetDriveModuleNr(), loaded);
        if (loaded != 0) {
            TraceFormatted(u"CSystem::ConfigSystem, Unable to load file %s to pRelkeyParser\n", path);
            return nullptr;
        }
        return &parser;
    };
    const auto addProgram = [&](WString selection, CRelkeyParser& parser, uint32_t kind, WStringView name) {
        if (AddProgramToSystemOptions(std::move(selection), parser, kind, name) == 0) return true;
        TraceMessage(u"CSystem::ConfigSystem, Unable to add program to SystemOptions\n");
        return false;
    };

    {
        CRelkeyParser* parser = loadReleaseRelkey(mainKey, description.signatureNumber);
        if (!parser) return E_UNEXPECTED;
        WString selection = description.selectionText;
        TakeRecordedSelection(record, kMainProgram, selection);
        if (!addProgram(std::move(selection), *parser, mainKey.GetProgramType(), kMainProgram)) return E_UNEXPECTED;
    }

    bool recorded = false;  // stays set for the programs that follow
    for (std::size_t i = 1; i < m_keyList.Size(); ++i) {
        const CKeyInfo& key = m_keyList.At(i);
        const uint32_t kind = key.GetProgramType();
        if (kind != Zendara && kind != ExternalWithOptions && kind != ExternalWithoutOptions) continue;
        if (!DescribeKey(key.GetKeystring(), description)) {
            if (kind == Zendara) TraceFormatted(u"CSystem::ConfigSystem, Failure extract keystring %s\n", key.GetKeystring());
            return KELINSTALL_E_BAD_KEY;
        }
        if (kind == ExternalWithoutOptions) {
            xml::Element root = OptionsRoot();
            xml::Element ext = CreateOptionsElement(u"EXT");
            if (!root || !ext || !root.AppendChild(ext) || !ext.AppendChild(u"ProgramNr", description.programName)) {
                return E_UNEXPECTED;
            }
            continue;
        }
        WString selection = description.selectionText;
        if (kind == ExternalWithOptions) {
            int loaded = 0;
            CRelkeyParser& parser = relkeys.Parser(AdditionalRelkeyPath(key.GetProgramPath()), 0, loaded);
            if (selection.empty() && MakeDefaultAdditionalOptionSelections(key.GetProgramPath(), selection, relkeys) != 1) {
                TraceMessage(u"CSystem::ConfigSystem, Unable to make default selections\n");
                return E_UNEXPECTED;
            }
            const WString& name = description.programName;
            if (TakeRecordedSelection(record, name, selection)) recorded = true;
            if (loaded != 0) {
                TraceMessage(u"CSystem::ConfigSystem, Unable to load RelkeyParser\n");
                return E_UNEXPECTED;
            }
            m_selectionChanged = 0;
            m_checkSelections = recorded;
            const bool added = addProgram(std::move(selection), parser, ExternalWithOptions, name);
            m_checkSelections = false;
            if (added && m_selectionChanged == 1 && recorded) PushProgramNotice(name);
            if (!added) return E_UNEXPECTED;
            continue;
        }
        const WString name = Format(u"%s%d", u"DriveModule", static_cast<int>(key.GetDriveModuleNr()));
        CRelkeyParser* parser = loadReleaseRelkey(key, description.signatureNumber);
        if (!parser) return E_UNEXPECTED;
        TakeRecordedSelection(record, name, selection);
        if (!addProgram(std::move(selection), *parser, Zendara, name)) return E_UNEXPECTED;
    }
    return S_OK;
}

int CSystem::AddProgramToSystemOptions(WString selection, CRelkeyParser& parser, uint32_t kind,
                                       WStringView programName) {
    m_programEntry = {};
    CRelkeyGroup scratch;
    const CRelkeyGroup* group = parser.FirstGroup(scratch);
    if (!group) {
        TraceMessage(u"CSystem::AddProgramToSystemOptions, Unable to get first group from RelkeyParser\n");
        return -1;
    }
    WStringView digits = selection;
    for (; group; group = parser.NextGroup(scratch)) {
        if (AddGroupToSystemOptions(digits, *group, kind, programName, parser) != 0) {
            TraceMessage(u"CSystem::AddProgramToSystemOptions, Unable to add group to SystemOptions\n");
            return -1;
        }
    }
    return 0;
}

int CSystem::AddGroupToSystemOptions(WStringView& selection, const CRelkeyGroup& relkeyGroup, uint32_t kind,
                                     WStringView programName, CRelkeyParser& parser) {
    std::vector<WString> openSubGroups;
    return AddGroupToSystemOptions(selection, relkeyGroup, kind, programName, parser, openSubGroups);
}

int CSystem::AddGroupToSystemOptions(WStringView& selection, const CRelkeyGroup& relkeyGroup, uint32_t kind,
                                     WStringView programName, CRelkeyParser& parser,
                                     std::vector<WString>& openSubGroups, WStringView subGuid) {
    const std::size_t depth = openSubGroups.size();
    if (m_selectionGroups.size() <= depth) m_selectionGroups.resize(depth + 1);
    CSelectionGroup& group = m_selectionGroups[depth];
    if (ConfigGroup(selection, m_optionBuildFlag == 1 ? 1 : 0, relkeyGroup, group) != 0) {
        TraceMessage(u"CSystem::AddGroupToSystemOptions, Unable to configurate SelectionGroup");
        return -1;
    }
    group.SetSubGUID(subGuid);
    m_optionBuildFlag = 1;
    AddGroup(group, programName, kind);

    UniqueBstr program;
    for (const CSelectionOption& option : group.Options()) {
        const int32_t selected = option.GetSelected();
        // The sub group of an unchosen option takes no digits from the selection.
        if (selected == CSelectionOption::kNotSelected || selected == CSelectionOption::kDefault) m_optionBuildFlag = 0;
        const WStringView subLabel = option.GetRefSubLabel();
        const WStringView subGuid = option.GetRefSubGUID();
        if (subLabel.empty() || subGuid.empty()) {
            m_optionBuildFlag = 1;
            continue;
        }
        if (!program.get()) program = UniqueBstr::From(programName);
        UniqueBstr label = UniqueBstr::From(subLabel);
        UniqueBstr guid = UniqueBstr::From(subGuid);
        UniqueBstr ignored;
        VARIANT_BOOL exists = VARIANT_FALSE;
        m_options->GetSubLabelInstance(label.get(), program.get(), ignored.Put());
        if (SUCCEEDED(m_options->GetSubGroupInstance(guid.get(), program.get(), &exists))) continue;

        // Fresh instance GUIDs never repeat, so a sub group that opens itself would never end.
        if (std::find(openSubGroups.begin(), openSubGroups.end(), subLabel) != openSubGroups.end() ||
            openSubGroups.size() >= kMaxSubGroupDepth) {
            TraceFormatted(u"CSystem::AddGroupToSystemOptions, Sub group %s opens itself\n", subLabel);
            return -1;
        }
        // The parser's own group where it keeps one; none found is an empty group.
        CRelkeyGroup scratch;
        const CRelkeyGroup* subGroup = parser.FindGroup(u"SubTitle", subLabel, scratch);
        if (!subGroup) {
            scratch.Clear();
            subGroup = &scratch;
        }
        openSubGroups.emplace_back(subLabel);
        const int result =
            AddGroupToSystemOptions(selection, *subGroup, kind, programName, parser, openSubGroups, subGuid);
        openSubGroups.pop_back();
        if (result != 0) {
            TraceMessage(u"CSystem::AddGroupToSystemOptions, Unable to add group to SystemOptions");
            return -1;
        }
    }
    m_optionBuildFlag = 1;
    return 0;
}

void CSystem::FindProgramEntry(WStringView programName, uint32_t kind) {
    using namespace std::string_view_literals;
    m_programEntry = {};
    xml::Element root = OptionsRoot();
    if (!root) return;
    // A new entry gets its program name and the two group containers.
    const auto newEntry = [&](WStringView name, bool instance) {
        xml::Element created = CreateOptionsElement(name);
        const bool ok = created && root.AppendChild(created) &&
                        (!instance || created.SetAttribute(u"Instance"sv, programName)) &&
                        created.AppendChild(u"ProgramNr"sv, programName) && created.AppendChild(u"MainGroups"sv) &&
                        created.AppendChild(u"SubGroups"sv);
        return ok ? created : xml::Element();
    };
    xml::Element entry;
    WString spare;
    if (kind == Zendara && programName == kMainProgram) {
        entry = root.FirstChild(u"ZD"sv);
        if (entry && entry.ChildText(u"ProgramNr"sv, spare).value_or(WStringView()) != programName) {
            TraceMessage(u"CSystemOptions::AddGroup, there is already one ZD option selection.\n");
            return;
        }
        if (!entry) entry = newEntry(u"ZD", false);
    } else if (kind == Zendara || kind == ExternalWithOptions) {
        for (const xml::Element& ext : root.Children(u"EXT"sv)) {
            if (ext.ChildText(u"ProgramNr"sv, spare).value_or(WStringView()) == programName) entry = ext;
        }
        if (!entry) entry = newEntry(u"EXT", true);
    }
    if (entry) m_programEntry = {entry.FirstChild(u"MainGroups"sv), entry.FirstChild(u"SubGroups"sv)};
}

void CSystem::AddGroup(const CSelectionGroup& group, WStringView programName, uint32_t kind) {
    // Names with their lengths: a literal measured per leaf shows in a large build.
    using namespace std::string_view_literals;
    if (!m_programEntry.main) FindProgramEntry(programName, kind);
    xml::Element& main = m_programEntry.main;
    if (!main) return;

    GroupNames& n = m_groupNames;
    if (!main.Accepts(n.group)) {
        const auto id = [&](WStringView name) { return main.Intern(name); };
        n = {id(u"Group"), id(u"GroupItem"), id(u"SubTitle"), id(u"SubGUID"), id(u"Title"), id(u"Category"),
             id(u"Label"), id(u"Code"), id(u"Selected"), id(u"LineSelectionDescription"), id(u"DatFile"),
             id(u"RefSubLabel"), id(u"RefSubGUID")};
    }
    const WStringView subTitle = group.GetSubTitle();
    xml::Element parent = subTitle.empty() ? main : m_programEntry.sub;
    xml::Element element = parent.AppendChild(n.group);
    if (!element || !element.SetAttribute(u"Instance"sv, programName)) return;
    if (!subTitle.empty() && !element.AddLeaves({{n.subTitle, subTitle}, {n.subGuid, group.GetSubGUID()}})) return;
    if (!element.AddLeaves({{n.title, group.GetTitle()},
                            {n.category, group.GetCategory()},
                            {n.label, group.GetLabel()},
                            {n.code, group.GetCode()}})) {
        return;
    }

    WString hidden;
    for (const CSelectionOption& option : group.Options()) {
        xml::Element item = element.AppendChild(n.item);
        const int32_t selected = option.GetSelected();
        WStringView description = option.GetLineSelectionDescription();
        if (selected == CSelectionOption::kSelectedHidden && !description.empty()) {
            hidden.assign(u";").append(description);
            description = hidden;
        }
        if (!item.AddLeaves({{n.selected, SelectedText(selected)},
                             {n.description, description},
                             {n.datFile, option.GetDatFile()},
                             {n.refSubLabel, option.GetRefSubLabel()},
                             {n.refSubGuid, option.GetRefSubGUID()}})) {
            return;
        }
        // One choice key.id lacks is enough for the notice.
        if (m_checkSelections && m_selectionChanged == 0 && selected == CSelectionOption::kSelected &&
            !m_recorded->HasExtSelection(programName, option.GetLineSelectionDescription())) {
            m_selectionChanged = 1;
        }
    }
}

int CSystem::MakeDefaultAdditionalOptionSelections(WStringView programPath, WString& selection, CRelkeyCache& relkeys) {
    const WString path = AdditionalRelkeyPath(programPath);
    int loaded = 0;
    CRelkeyParser& parser = relkeys.Parser(path, 0, loaded);
    if (loaded != 0) {
        TraceFormatted(u"CSystem::MakeDefaultAdditionalOptionSelections: Unable to load relkey file %s\n", path);
        return 0;
    }
    CRelkeyGroup scratch;
    const CRelkeyGroup* group = parser.FirstGroup(scratch);
    if (!group) {
        TraceMessage(u"CSystem::MakeDefaultAdditionalOptionSelections: Unexpected error parsing relkeyfile\n");
        return 0;
    }
    for (; group; group = parser.NextGroup(scratch)) {
        if (MakeDefaultSelection(*group, parser, selection) != 1) {
            TraceFormatted(u"CSystem::MakeDefaultAdditionalOptionSelections: Cannot make default selections on group %s\n",
                           group->GetTitle());
            return 0;
        }
    }
    return 1;
}

}  // namespace kel
