// kelsys verify: an integrity check of a system's files against each other.
#include <algorithm>
#include <iostream>
#include <set>

#include "component.h"
#include "config/configuration_files.h"
#include "description/system_xml.h"
#include "platform/sealed_file.h"
#include "platform/xml.h"
#include "shared/commit_journal.h"
#include "shared/key_info.h"
#include "shared/keystring.h"
#include "shared/media_component.h"
#include "shared/outside_factory.h"
#include "shared/temp_file_handler.h"

namespace kelsys {

namespace {

bool IsBraceGuid(const std::string& text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

// The keystrings key.id records, in its order; false when it does not unseal.
bool KeyIdKeys(const WString& path, std::multiset<WString>& keys) {
    kel::SealedFile file;
    if (!file.OpenForRead(path) || !file.IsSealed()) return false;
    std::string line;
    while (file.ReadLine(line)) {
        for (const char* marker : {"#CKeyId zdkey ", "#CKeyId dmkey ", "#CKeyId extkey "}) {
            if (line.rfind(marker, 0) == 0) keys.insert(kel::FromAnsi(line.substr(std::char_traits<char>::length(marker))));
        }
    }
    return true;
}

// Whether system.xml is what the component would write now from the keys and
// the recorded selection: a description an earlier version got wrong shows here.
bool DescribesItsSelection(const Component& component, const WString& path, const kel::CKeyList& keys,
                           const kel::xml::Document& description) {
    kel::UniqueBstr options;
    kel::KeyDescription main;
    kel::CTempFileHandler work;
    WString folder;
    if (keys.Empty() || !kel::DescribeKey(keys.At(0).GetKeystring(), main) || !work.GetWorkDirectory(folder) ||
        !kel::os::CopyOneFile(path + u"\\INTERNAL\\program.id", folder + u"\\INTERNAL\\program.id",
                              kel::os::CopyTo::NewName) ||
        FAILED(component->GetSystemOptions(options.Put()))) {
        return false;
    }
    kel::xml::Document rebuilt = kel::xml::Document::Create();
    return kel::CSystemXml().CreateSystemXml(path, folder, keys, static_cast<int32_t>(main.serialNumber),
                                             main.serialText, options.View()) &&
           rebuilt.Load(folder + u"\\system.xml") && rebuilt.Serialize() == description.Serialize();
}

}  // namespace

int Verify(const std::string& systemArgument, bool trace) {
    const WString path = ComponentPath(systemArgument);
    int findings = 0;
    const auto finding = [&](const std::string& text) {
        std::cout << text << "\n";
        ++findings;
    };
    // Opened first, as any user of the system would: an interrupted change is
    // finished then, and the files are checked as they will be used.
    const bool interrupted = kel::CCommitJournal::IsPending(path);
    Component component;
    const bool loaded = component.Load(trace);
    const HRESULT opened = loaded ? component->InitSystem(B(path).get()) : E_FAIL;
    if (loaded && Component::Report("the system does not open", opened) != kOk) ++findings;
    if (SUCCEEDED(opened) && interrupted) std::cout << "an interrupted change was finished first\n";
    for (const char16_t* directory : {u"SYSPAR", u"HOME", u"INTERNAL", u"INTERNAL\\OPTIONS", u"INTERNAL\\RAPID",
                                      u"INTERNAL\\REPORTS"}) {
        if (kel::os::GetEntryKind(path + u"\\" + directory) != kel::os::EntryKind::Directory) {
            finding("missing directory " + Utf8(directory));
        }
    }
    for (const char16_t* guid : {u"system.guid", u"template.guid"}) {
        const WString file = path + u"\\INTERNAL\\" + guid;
        const bool required = guid == WStringView(u"system.guid");
        if (!required && kel::os::GetEntryKind(file) == kel::os::EntryKind::None) continue;
        std::string text;
        const bool read = kel::os::ReadWholeFile(file, text);
        if (!IsBraceGuid(text)) finding(Utf8(guid) + (read ? " does not hold a GUID" : " is missing"));
    }

    // What an interrupted call or an earlier version left: never deleted
    // unasked, since a name like these may be a user's own.
    for (const WString& folder : {path, path + u"\\INTERNAL"}) {
        std::vector<kel::os::DirEntry> entries;
        kel::os::ListDirectory(folder, entries);
        for (const kel::os::DirEntry& entry : entries) {
            const WStringView name = entry.name;
            if (name.starts_with(u"~") || name.ends_with(u".kel-new")) {
                finding("leftover of an interrupted change: " + Utf8(folder + u"\\" + entry.name));
            }
        }
    }

    kel::CConfigurationFiles files;
    kel::CKeyList keys;
    std::vector<WString> programs;
    if (files.ReadKeystrTxt(path, keys) != 0) finding("keystr.txt is not readable");
    if (files.ReadProgramId(path, programs) != 0) finding("program.id is not readable");
    std::multiset<WString> listed;
    for (const kel::CKeyInfo& key : keys) listed.insert(key.GetKeystring());

    std::multiset<WString> recorded;
    if (!KeyIdKeys(path + u"\\INTERNAL\\key.id", recorded)) {
        finding("key.id is missing, not sealed, or fails its check value");
    } else if (recorded != listed) {
        finding("key.id names other keys than keystr.txt");
    }

    kel::xml::Document description = kel::xml::Document::Create();
    if (!description.Load(path + u"\\system.xml")) {
        finding("system.xml is missing or not XML");
    } else {
        const WString name = path.substr(path.rfind(u'\\') + 1);
        if (!kel::EqualsNoCase(description.Root().FirstChild(u"SystemName").Text(), name)) {
            finding("system.xml names another system");
        }
        kel::KeyDescription main;
        WString serial;
        if (!keys.Empty() && kel::DescribeKey(keys.At(0).GetKeystring(), main) &&
            files.SerialNr_LongToStr(static_cast<int32_t>(main.serialNumber), serial) == 0) {
            if (main.serialText.size() > serial.size()) serial = main.serialText;
            if (description.Root().FirstChild(u"SerialNo").Text() != serial) finding("system.xml's SerialNo is not the main key's");
        }
        std::multiset<WString> described;
        for (const kel::xml::Element& key : description.Descendants(u"Key")) described.insert(key.Text());
        if (described != listed) finding("system.xml names other keys than keystr.txt");
    }

    // Each program folder must still be a release; the component checks the types when it opens the system.
    kel::ComPtr<kel::IKelInstallMedia> media;
    kel::CreateOutsideComponent(kel::CLSID_KelInstallMedia, kel::IID_IKelInstallMedia, media.PutVoid());
    for (const WString& program : programs) {
        if (!media || FAILED(media->OpenMedia(B(program).get()))) finding("not a program release: " + Utf8(program));
    }
    if (!loaded) {
        ++findings;
    } else if (SUCCEEDED(opened) && !DescribesItsSelection(component, path, keys, description)) {
        finding("system.xml is not what the system's keys and selection give (any change writes it anew)");
    }
    if (findings == 0) std::cout << "clean\n";
    return findings == 0 ? kOk : kRefused;
}

}  // namespace kelsys
