// key.id: the record from which the controller learns the system's keys and
// the options each key's program has selected.
#include <algorithm>
#include <cstring>
#include <deque>
#include <iterator>
#include <memory>
#include <unordered_map>
#include <vector>

#include "KelInstallSystem.h"
#include "config/configuration_files.h"
#include "options/relkey_file.h"
#include "platform/raii.h"
#include "platform/sealed_file.h"
#include "shared/key_info.h"
#include "shared/keystring.h"
#include "shared/outside_factory.h"
#include "shared/system_options_component.h"

namespace kel {

namespace {

constexpr const char* kZdKey = "#CKeyId zdkey ";
constexpr const char* kInfo = "#CKeyId info ";
constexpr const char* kOption = "#CKeyId option ";
constexpr const char* kSelDesc = "#CKeyId seldesc ";
constexpr const char* kDmKey = "#CKeyId dmkey ";
constexpr const char* kDmInfo = "#CKeyId dminfo ";
constexpr const char* kDmSelDesc = "#CKeyId dmseldesc ";
constexpr const char* kExtKey = "#CKeyId extkey ";
constexpr const char* kExtInfo = "#CKeyId extinfo ";
constexpr const char* kExtPno = "#CKeyId extpno ";
constexpr const char* kExtSelDesc = "#CKeyId extseldesc ";

std::string A(WStringView text) { return ToAnsi(text); }

// Items between "*", as views of text; empty items count, an empty text has none.
std::vector<WStringView> SplitItems(WStringView text) {
    std::vector<WStringView> items;
    if (text.empty()) return items;
    for (std::size_t start = 0;;) {
        const std::size_t star = text.find(u'*', start);
        items.emplace_back(text.substr(start, star == WStringView::npos ? WStringView::npos : star - start));
        if (star == WStringView::npos) return items;
        start = star + 1;
    }
}

WString ProgramFolder(const WString& programPath) {
    const std::size_t slash = programPath.rfind(u'\\');
    return slash == WString::npos ? programPath : programPath.substr(slash + 1);
}

// A selection file named by a chosen option; empty and ";" items name none.
bool NamesSelectionFile(WStringView item) { return !item.empty() && item.front() != u';'; }

// Where a program's selection files lie; a file's name is appended to it.
WString SelectionFolder(const CKeyInfo& key) { return key.GetProgramPath() + u"\\syskey\\"; }

void PadWithZeros(WString& optionString, std::size_t length) {
    if (optionString.size() < length) optionString.resize(length, u'0');
}

// The seldesc lines: the text after a sub group's ":", hidden and empty ones left out.
std::string SelectionLines(const char* marker, const std::vector<WStringView>& selections) {
    std::string lines;
    for (const WStringView selection : selections) {
        if (selection.empty()) continue;
        const std::size_t colon = selection.find(u':');
        const WStringView text = colon == WStringView::npos ? selection : selection.substr(colon + 1);
        if (!text.empty() && text.front() == u';') continue;
        lines.append(marker).append(A(text)) += '\n';
    }
    return lines;
}

}  // namespace

// Each program's selections and selection files in the option selection
// document, read once for every section of key.id.
struct CConfigurationFiles::SectionOptionsInfo {
    bool loaded = false;
    std::unordered_map<WString, OptionsInfo> programs;  // absent: the document has no entry for it

    explicit SectionOptionsInfo(const xml::Element& root) {
        if (!root) return;
        loaded = true;
        for (const char16_t* kind : {u"ZD", u"EXT"}) {
            for (const xml::Element& entry : root.Children(kind)) {
                const WString program = entry.FirstChild(u"ProgramNr").Text();
                if (!programs.contains(program)) ComputeOptionsInfo(root, program, programs[program]);
            }
        }
    }
};

namespace {

// One section's view of the option selection document. A section is left
// out when the system options component cannot be made.
class SectionOptions {
public:
    SectionOptions(const char16_t* writer, std::shared_ptr<const CConfigurationFiles::SectionOptionsInfo> shared)
        : writer_(writer), info_(std::move(shared)) {
        ComPtr<IKelInstallSystemOptions> component;
        made_ = SUCCEEDED(CreateOutsideComponent(CLSID_KelInstallSystemOptions, IID_IKelInstallSystemOptions,
                                                 component.PutVoid()));
    }
    explicit operator bool() const { return made_; }
    WString Message(const char16_t* text) const { return WString(u"CConfigurationFiles::") + writer_ + u", " + text; }

    // The failure's trace text, or empty on success.
    // Selections and files are views of the shared document's texts.
    WString Query(WStringView program, std::vector<WStringView>& selections, std::vector<WStringView>& files) const {
        if (!info_ || !info_->loaded) return Message(u"Unable to load bstrSystemOptions to SystemOptions\n");
        const auto found = info_->programs.find(WString(program));
        selections = found == info_->programs.end() ? std::vector<WStringView>()
                                                    : SplitItems(found->second.selections);
        files = found == info_->programs.end() ? std::vector<WStringView>()
                                               : SplitItems(found->second.selectionFiles);
        return {};
    }

    // Query, then the option string of a drive module or additional program
    // (empty without selections). The failure's trace text, or empty.
    WString OptionString(CConfigurationFiles& files, WStringView program, const CKeyInfo& key,
                         const WString& relkeyPath, std::vector<WStringView>& selections,
                         std::vector<WStringView>& selectionFiles, WString& optionString) const {
        const WString failure = Query(program, selections, selectionFiles);
        if (!failure.empty() || selections.empty()) return failure;
        std::deque<WStringView> work(selections.begin(), selections.end());
        if (files.MakeOptionString(relkeyPath, key, work, optionString) != 0) {
            return Message(u"Failed to convert keystring to option string!!\n");
        }
        return {};
    }

private:
    const char16_t* writer_;
    std::shared_ptr<const CConfigurationFiles::SectionOptionsInfo> info_;  // null outside WriteKeyId
    bool made_ = false;
};

}  // namespace

int CConfigurationFiles::WriteKeyId(WStringView targetDir, const CKeyList& keys, int sealedVariant,
                                    const xml::Element& systemOptions) {
    const WString path = Format(u"%s\\%s\\%s", targetDir, u"INTERNAL", u"key.id");
    SealedFile file;
    if (!file.OpenForWrite(path, m_sealed, sealedVariant)) {
        TraceFormatted(u"CConfigurationFiles::WriteKeyId, Failure open %s\n", path);
        return -1;
    }
    if (keys.Empty()) {
        TraceError(u"CConfigurationFiles::WriteKeyId, Key(s) not loaded\n");
        return -1;
    }
    m_sectionOptions = std::make_shared<const SectionOptionsInfo>(systemOptions);
    m_keepSelectionFiles = true;
    struct Forget {
        CConfigurationFiles& files;
        ~Forget() {
            files.m_sectionOptions.reset();
            files.m_selectionFiles.clear();
            files.m_keepSelectionFiles = false;
        }
    } forget{*this};
    if (WriteKelKeyId(keys.At(0), file) != 0) {
        TraceError(u"CConfigurationFiles::WriteKeyId, Failure write Zendara information to key.id\n");
        return -1;
    }
    if (keys.Size() == 1) return file.Close() ? 0 : -1;

    const auto writeSections = [&](const char* heading, bool driveModules, auto writer, const char16_t* failure) {
        if (file.WriteText((std::string(kInfo) + heading).c_str()) < 0) return false;
        for (std::size_t i = 1; i < keys.Size(); ++i) {
            const CKeyInfo& key = keys.At(i);
            if ((key.GetProgramType() == Zendara) != driveModules) continue;
            if ((this->*writer)(key, file) != 0) {
                TraceError(failure);
                return false;
            }
        }
        return true;
    };
    if (!writeSections("Included Drive Module(s):\n", true, &CConfigurationFiles::WriteDMKeyId,
                       u"CConfigurationFiles::WriteKeyId, Failure writing Drive module information to key.id\n") ||
        !writeSections("Included Addition option program(s):\n", false, &CConfigurationFiles::WriteExtKeyId,
                       u"CConfigurationFiles::WriteKeyId, Failure writing addtional information to key.id\n")) {
        return -1;
    }
    return file.Close() ? 0 : -1;
}

int CConfigurationFiles::WriteKelKeyId(CKeyInfo key, SealedFile& file) {
    const SectionOptions options(u"WriteKelKeyId", m_sectionOptions);
    if (!options) {
        TraceError(u"CConfigurationFiles::WriteKelKeyId, Cannot init KelInstallSystemOptions");
        return 0;
    }
    std::vector<WStringView> selections;
    std::vector<WStringView> files;
    const WString failure = options.Query(u"Zendara", selections, files);
    if (!failure.empty()) {
        TraceError(failure);
        return -1;
    }
    KeyDescription description;
    if (!DescribeKey(key.GetKeystring(), description)) {
        TraceFormatted(u"CConfigurationFiles::WriteKelKeyId, Failure open key %s\n", key.GetKeystring());
        return -1;
    }
    WString serial;
    SerialNr_LongToStr(static_cast<int32_t>(description.serialNumber), serial);
    CRelkeyFile relkeyFile;
    WString relkeyPath;
    relkeyFile.GetRelkeyFilePath(key.GetProgramPath(), description.signatureNumber, relkeyPath);

    const std::string selectionLines = SelectionLines(kSelDesc, selections);
    std::deque<WStringView> work(selections.begin(), selections.end());
    WString optionString;
    if (MakeOptionString(relkeyPath, key, work, optionString) != 0) {
        TraceError(options.Message(u"Failed to convert keystring to option string!!\n"));
        return -1;
    }
    PadWithZeros(optionString, description.selectionText.size());

    WString product;
    GetProductName(key.GetProgramPath(), u"", product);
    std::string text = kZdKey + A(key.GetKeystring()) + "\n";
    text += std::string(kInfo) + "Serial no " + A(serial) + "\n";
    text += kInfo + A(product) + "\n";
    text += std::string(kInfo) + "Selection(s) setup from " + A(ProgramFolder(key.GetProgramPath())) + "\n";
    text += kOption + std::string("Zendara") + A(optionString) + "\n";
    text += selectionLines;
    text += "-id System -key \"-id \"\"" + A(serial) + "\"\" \"\n\n";
    text += "-id Product -key \"-id \"\"" + A(description.programName) + "\"\" -descr \"\"" + A(product) + "\"\" \"\n\n";
    if (file.WriteText(text.c_str()) < 0) {
        TraceError(options.Message(u"Failure writing to Key.Id\n"));
        return -1;
    }
    const WString folder = SelectionFolder(key);
    WString path;
    for (const WStringView item : files) {
        if (!NamesSelectionFile(item)) continue;
        path.assign(folder).append(item);
        const int result = InsertSelfile(file, path);
        if (result != 0) {
            TraceFormatted(u"CConfigurationFiles::WriteKelKeyId, InsertSelfile failure %d %s\n", result, path);
            return -1;
        }
    }
    if (file.WriteText("\n") < 0) {
        TraceError(u"CConfigurationFiles::WriteKelKeyId, Failure write EOF to key.id\n");
        return -6;
    }
    return 0;
}

int CConfigurationFiles::WriteDMKeyId(CKeyInfo key, SealedFile& file) {
    const SectionOptions options(u"WriteDMKeyId", m_sectionOptions);
    if (!options) {
        TraceError(u"CConfigurationFiles::WriteDMKeyId, Cannot init KelInstallSystemOptions");
        return 0;
    }
    KeyDescription description;
    if (!DescribeKey(key.GetKeystring(), description)) {
        TraceFormatted(u"WriteDMKeyId: Failure open external key %s\n", key.GetKeystring());
        return -2;
    }
    WString serial;
    SerialNr_LongToStr(static_cast<int32_t>(description.serialNumber), serial);
    CRelkeyFile relkeyFile;
    WString relkeyPath;
    WString title;
    int type = 0;
    relkeyFile.GetRelkeyFilePath(key.GetProgramPath(), description.signatureNumber, relkeyPath);
    if (relkeyFile.GetTitle(relkeyPath, title) != S_OK) title.clear();
    if (relkeyFile.GetType(relkeyPath, type) != S_OK || type != 1) {
        TraceError(u"CConfigurationFiles::WriteDMKeyId, Cannot add drivemodule!!\n");
        return -1;
    }
    const WString program = Format(u"%s%d", u"DriveModule", static_cast<int>(key.GetDriveModuleNr()));
    std::vector<WStringView> selections;
    std::vector<WStringView> files;
    WString optionString;
    const WString failure =
        options.OptionString(*this, program, key, relkeyPath, selections, files, optionString);
    if (!failure.empty()) {
        TraceError(failure);
        return -1;
    }

    std::string text = "\n" + (kDmKey + A(key.GetKeystring())) + "\n";
    text += std::string(kInfo) + "Serial no " + A(serial) + "  Program no " + A(description.programName) + "\n";
    text += kOption + A(program) + A(optionString) + "\n";
    if (!title.empty()) text += kInfo + A(title) + "\n";
    text += std::string(kDmInfo) + "Selection(s) setup from " + A(ProgramFolder(key.GetProgramPath())) + "\n";
    if (file.WriteText(text.c_str()) < 0) {
        TraceError(options.Message(u"Failure writing to Key.Id\n"));
        return -1;
    }
    if (file.WriteText(SelectionLines(kDmSelDesc, selections).c_str()) < 0) {
        TraceError(options.Message(u"Failure write to Key.Id\n"));
        return -1;
    }
    return InsertSelectionFiles(u"WriteDMKeyId", key, files, file);
}

int CConfigurationFiles::WriteExtKeyId(CKeyInfo key, SealedFile& file) {
    const SectionOptions options(u"WriteExtKeyId", m_sectionOptions);
    if (!options) {
        TraceError(u"CConfigurationFiles::WriteExtKeyId, Cannot init KelInstallSystemOptions");
        return 0;
    }
    KeyDescription description;
    if (!DescribeKey(key.GetKeystring(), description)) {
        TraceFormatted(u"WriteExtKeyId: Failure open external key %s\n", key.GetKeystring());
        return -2;
    }
    WString serial;
    SerialNr_LongToStr(static_cast<int32_t>(description.serialNumber), serial);
    const bool withOptions = key.GetProgramType() == ExternalWithOptions;
    const std::string program = A(description.programName);
    WString title;
    WString optionString;
    std::vector<WStringView> selections;
    std::vector<WStringView> files;
    if (withOptions) {
        CRelkeyFile relkeyFile;
        WString relkeyPath;
        relkeyFile.GetRelkeyFilePath(key.GetProgramPath(), description.signatureNumber, relkeyPath);
        if (relkeyFile.GetTitle(relkeyPath, title) != S_OK) title.clear();
        const WString failure =
            options.OptionString(*this, description.programName, key, relkeyPath, selections, files, optionString);
        if (!failure.empty()) {
            TraceError(failure);
            return -1;
        }
        PadWithZeros(optionString, description.selectionText.size());
    }

    std::string text = "\n" + (kExtKey + A(key.GetKeystring())) + "\n";
    text += std::string(kInfo) + "Serial no " + A(serial) + "  Program no " + program + "\n";
    if (withOptions) text += kOption + program + A(optionString) + "\n";
    if (!title.empty()) text += kInfo + A(title) + "\n";
    if (withOptions) {
        text += std::string(kExtInfo) + "\n";
        text += kExtPno + program + "\n";
        if (!title.empty()) text += kExtInfo + A(title) + "\n";
        text += std::string(kExtInfo) + "Selection(s) setup from " + A(ProgramFolder(key.GetProgramPath())) + "\n";
    }
    if (file.WriteText(text.c_str()) < 0) {
        TraceError(options.Message(u"Failure writing to Key.Id\n"));
        return -1;
    }
    if (file.WriteText(SelectionLines(kExtSelDesc, selections).c_str()) < 0) {
        TraceError(options.Message(u"Failure write to Key.Id\n"));
        return -1;
    }
    const std::string extOpt = "-id ExtOpt -key \"-id \"\"" + A(title) + "\"\" -descr \"\"" + program + "\"\" \"\n";
    if (file.WriteText(extOpt.c_str()) < 0) {
        TraceError(options.Message(u"Failure writing to Key.Id\n"));
        return -1;
    }
    return withOptions ? InsertSelectionFiles(u"WriteExtKeyId", key, files, file) : 0;
}

int CConfigurationFiles::InsertSelectionFiles(const char16_t* writer, const CKeyInfo& key,
                                              const std::vector<WStringView>& files, SealedFile& file) {
    const WString folder = SelectionFolder(key);
    WString path;
    for (const WStringView item : files) {
        if (!NamesSelectionFile(item)) continue;
        path.assign(folder).append(item);
        if (!m_selectionFiles.contains(path) && !SealedFile().OpenForRead(path)) {
            TraceFormatted(WString(u"CConfigurationFiles::") + writer + u", Failure open%s\n", path);
            return -2;
        }
        const int result = InsertSelfile(file, path);
        if (result != 0) {
            TraceFormatted(WString(u"CConfigurationFiles::") + writer + u", InsertSelfile failure %d %s\n", result, path);
            return result + 10;
        }
    }
    return 0;
}

int CConfigurationFiles::InsertSelfile(SealedFile& file, WStringView path) {
    auto cached = m_selectionFiles.find(path);
    std::string read;
    if (cached == m_selectionFiles.end()) {
        SealedFile source;
        if (!source.OpenForRead(path)) return -1;
        std::vector<char> buffer(4096);
        while (!source.AtEnd()) {
            const std::size_t got = source.ReadBytes(buffer.data(), 1, buffer.size());
            if (source.HasError()) {
                TraceFormatted(u"CConfigurationFiles::InsertSelfile, Failure read %s\n", path);
                return -3;
            }
            read.append(buffer.data(), got);
        }
        source.Close();
        if (m_keepSelectionFiles) cached = m_selectionFiles.emplace(WString(path), std::move(read)).first;
    }
    const std::string& text = cached == m_selectionFiles.end() ? read : cached->second;
    if (!text.empty()) {
        const std::size_t written = file.WriteBytes(text.data(), 1, text.size());
        if (file.HasError()) {
            TraceFormatted(u"CConfigurationFiles::InsertSelfile, Failure write to key.id\n");
            return -4;
        }
        if (written != text.size()) {
            TraceFormatted(u"CConfigurationFiles::InsertSelfile, Written bytes to key.id is not eualt to read bytes from %s\n",
                           path);
            return -5;
        }
    }
    if (file.WriteChar('\n') < 0) {
        TraceError(u"CConfigurationFiles::InsertSelfile, Failure write EOF to key.id\n");
        return -6;
    }
    return 0;
}

namespace {

constexpr const char* kSectionStarts[] = {kZdKey, kDmKey, kExtKey};

bool StartsWithMarker(std::string_view line, const char* marker) { return line.starts_with(marker); }

// The drive module numbers of keystr.txt in their order there, which is the
// order of key.id's drive module sections.
std::vector<int> DriveModuleNumbers(WStringView systemDir) {
    std::vector<int> numbers;
    SealedFile file;
    std::string line;
    if (!file.OpenForRead(Format(u"%s\\%s\\%s", systemDir, u"INTERNAL", u"keystr.txt")) || !file.ReadLine(line)) return numbers;
    while (file.ReadLine(line)) {
        std::vector<char> token(line.size() + 1);
        int number = 0;
        if (std::sscanf(line.c_str(), "%s\t%d", token.data(), &number) == 2 && number > 0) numbers.push_back(number);
    }
    return numbers;
}

bool IsSectionStart(std::string_view line) {
    return std::any_of(std::begin(kSectionStarts), std::end(kSectionStarts),
                       [&](const char* marker) { return StartsWithMarker(line, marker); });
}

}  // namespace

CKeyIdRecord::CKeyIdRecord(WStringView systemDir)
    : m_systemDir(systemDir), m_path(Format(u"%s\\%s\\%s", systemDir, u"INTERNAL", u"key.id")) {
    if (!m_file.OpenForRead(m_path)) return;
    m_readable = true;
    std::string_view line;
    while (m_file.ReadLine(line)) {
        if (IsSectionStart(line)) m_sections.emplace_back();
        if (!m_sections.empty()) m_sections.back().push_back(line);
    }
}

// A name is never looked for inside a line, so "Arc" never finds
// "ArcWelding", nor DriveModule1 DriveModule10.
const std::vector<std::string_view>& CKeyIdRecord::SectionOf(WStringView program) const {
    static const std::vector<std::string_view> none;
    constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
    const auto [found, inserted] = m_found.try_emplace(WString(program), kAbsent);
    if (inserted) {
        const char* kind = kExtKey;
        int wantedIndex = -1;  // drive modules: the place of their section
        const WStringView drivePrefix = u"DriveModule";
        if (program == u"Zendara") {
            kind = kZdKey;
        } else if (program.starts_with(drivePrefix) && program.size() > drivePrefix.size() &&
                   program.substr(drivePrefix.size()).find_first_not_of(u"0123456789") == WStringView::npos) {
            kind = kDmKey;
            if (!m_driveModulesRead) m_driveModuleNumbers = DriveModuleNumbers(m_systemDir);
            m_driveModulesRead = true;
            const int number = std::stoi(ToUtf8(program.substr(drivePrefix.size())));
            const auto at = std::find(m_driveModuleNumbers.begin(), m_driveModuleNumbers.end(), number);
            if (at == m_driveModuleNumbers.end()) return none;
            wantedIndex = static_cast<int>(at - m_driveModuleNumbers.begin());
        }
        int driveModules = 0;
        for (std::size_t i = 0; i < m_sections.size() && found->second == kAbsent; ++i) {
            const std::string_view start = m_sections[i].front();
            if (!StartsWithMarker(start, kind)) continue;
            bool match = true;
            if (kind == kDmKey) {
                match = driveModules++ == wantedIndex;
            } else if (kind == kExtKey) {
                KeyDescription description;
                match = DescribeKey(FromAnsi(start.substr(std::strlen(kExtKey))), description) &&
                        description.programName == program;
            }
            if (match) found->second = i;
        }
    }
    return found->second == kAbsent ? none : m_sections[found->second];
}

bool CKeyIdRecord::HasExtSelection(WStringView program, WStringView selectionText) const {
    if (!m_readable) return true;
    const auto [recorded, inserted] = m_extSelections.try_emplace(WString(program));
    ExtSelections& texts = recorded->second;
    if (inserted) {
        for (const std::string_view line : SectionOf(program)) {
            if (!StartsWithMarker(line, kExtSelDesc)) continue;
            const std::string text(line.substr(std::strlen(kExtSelDesc)));
            if (std::find(texts.lengths.begin(), texts.lengths.end(), text.size()) == texts.lengths.end()) {
                texts.lengths.push_back(text.size());
            }
            texts.texts.insert(text);
        }
    }
    // A recorded text counts when the selection starts with it.
    const std::string selection = A(selectionText);
    return std::any_of(texts.lengths.begin(), texts.lengths.end(), [&](std::size_t length) {
        return length <= selection.size() && texts.texts.contains(selection.substr(0, length));
    });
}

int CConfigurationFiles::GetMediaKey(WStringView systemDir, WStringView name, WString& value) {
    return GetMediaKey(CKeyIdRecord(systemDir), name, value);
}

int CConfigurationFiles::GetMediaKey(const CKeyIdRecord& record, WStringView name, WString& value) {
    if (!record.Readable()) {
        TraceFormatted(u"CConfigurationFiles::GetMediaKey, Failure open %s\n", record.Path());
        return -1;
    }
    const std::string option = kOption + A(name);
    for (const std::string_view line : record.SectionOf(name)) {
        if (!line.starts_with(option)) continue;
        std::string found(line.substr(option.size()));
        while (!found.empty() && std::strchr(" \t\r\n\v\f", found.back())) found.pop_back();
        value = FromAnsi(found);
        return 0;
    }
    return -1;
}

int CConfigurationFiles::IsExtSelectionInKeyId(WStringView systemDir, WStringView optionKey,
                                               WStringView selectionText) {
    return CKeyIdRecord(systemDir).HasExtSelection(optionKey, selectionText) ? 1 : 0;
}

}  // namespace kel
