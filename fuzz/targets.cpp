#include "targets.h"

#include <cstdio>
#include <deque>
#include <stdexcept>
#include <string>

#include "component/registrar.h"
#include "config/configuration_files.h"
#include "description/backup_support.h"
#include "description/system_xml.h"
#include "options/relkey_parser.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "platform/sealed_file.h"
#include "shared/key_info.h"
#include "shared/keystring.h"
#include "shared/commit_journal.h"
#include "shared/file_operation.h"
#include "shared/media_component.h"
#include "shared/outside_factory.h"

namespace kel::fuzz {

namespace {

// One directory per process, made on first use and removed at exit; each
// input overwrites its files.
struct Work {
    WString path;
    Work() {
        WString temp;
        if (!os::GetTempDirectory(temp) || !os::CreateUniqueTempFile(temp, u"kfz", path) || !os::RemoveFile(path) ||
            !os::MakeDirectory(path) || !os::MakeDirectory(path + u"\\INTERNAL") ||
            !os::MakeDirectory(path + u"\\syskey")) {
            throw std::runtime_error("no work directory for the fuzzer");
        }
    }
    ~Work() { RemoveDirectoryTree(path); }
};

const WString& WorkDirectory() {
    static const Work work;
    return work.path;
}

WString Write(WStringView name, std::string_view input) {
    const WString path = WorkDirectory() + u"\\" + WString(name);
    File file(os::OpenFile(path, "wb"));
    if (file) std::fwrite(input.data(), 1, input.size(), file.get());
    return path;
}

// Loads a relkey file and walks it as option building and option strings do.
void WalkRelkey(const WString& path) {
    CRelkeyParser parser;
    if (parser.Load(path, 3) != 0) return;
    CRelkeyGroup scratch;
    CRelkeyGroup found;
    for (const CRelkeyGroup* group = parser.FirstGroup(scratch); group; group = parser.NextGroup(scratch)) {
        for (const CRelkeyOption& option : group->Options()) {
            CRelkeyGroup sub;
            parser.GetGroupBySubTitle(option.GetRefSubLabel(), sub);
        }
        parser.GetGroupByLabel(group->GetLabel(), found);
    }
    std::deque<WStringView> selections = {u"a", u";b", u"S:c", u"S:;d"};
    WString optionString;
    CConfigurationFiles().MakeOptionString(path, CKeyInfo(), selections, optionString);
}

}  // namespace

void Keystring(std::string_view input) {
    KeyDescription key;
    if (!DescribeKey(FromUtf8(input), key)) return;
    // A described key encodes back to a key with the same description.
    WString made;
    KeyDescription again;
    if (!MakeKeystring(key, made) || !DescribeKey(made, again) || !(again == key)) __builtin_trap();
}

void TextRelkey(std::string_view input) { WalkRelkey(Write(u"syskey\\relkey.007", input)); }

void XmlRelkey(std::string_view input) { WalkRelkey(Write(u"syskey\\relkey.xml", input)); }

void KeyFiles(std::string_view input) {
    Write(u"INTERNAL\\keystr.txt", input);
    Write(u"INTERNAL\\program.id", input);
    CConfigurationFiles files;
    CKeyList keys;
    std::vector<WString> programs;
    files.ReadKeystrTxt(WorkDirectory(), keys);
    files.ReadProgramId(WorkDirectory(), programs);
    Write(u"INTERNAL\\key.id", input);
    WString value;
    files.GetMediaKey(WorkDirectory(), u"Zendara", value);
    files.IsExtSelectionInKeyId(WorkDirectory(), u"Zendara", u"x");
}

void SealedText(std::string_view input) {
    SealedFile file;
    if (!file.OpenForRead(Write(u"sealed.txt", input))) return;
    char line[64];
    while (file.ReadLine(line, sizeof line)) {
    }
}

void MediaId(std::string_view input) {
    Write(u"media.id", input);
    Write(u"version.xml", input);
    MediaInfo info;
    ReadMediaInfo(WorkDirectory(), info);
}

void OptionDocument(std::string_view input) {
    ComPtr<IKelInstallSystemOptions> options;
    if (FAILED(CreateOutsideComponent(CLSID_KelInstallSystemOptions, IID_IKelInstallSystemOptions, options.PutVoid()))) {
        return;
    }
    const WString text = FromUtf8(input);
    UniqueBstr document = UniqueBstr::From(text);
    if (FAILED(options->LoadXml(document.get()))) return;
    for (const char16_t* program : {u"Zendara", u"DriveModule1", u"X"}) {
        UniqueBstr name = UniqueBstr::From(program);
        UniqueBstr selections;
        UniqueBstr files;
        options->GetOptionsInfo(name.get(), selections.Put(), files.Put());
    }
    Write(u"INTERNAL\\program.id", "#Setup program(s) in X:\n");
    CKeyList keys;
    CKeyInfo key;
    key.SetKeystring(u"k");
    keys.Append(key);
    keys.Append(key);
    CSystemXml().CreateSystemXml(u"C:\\pool\\S", WorkDirectory(), keys, 42, u"", text);
}

void BackupDescription(std::string_view input) {
    Write(u"system.xml", input);
    WString message;
    WString keystrings;
    uint32_t count = 0;
    CBackupSupport(message).ExtractKeystrings(WorkDirectory(), keystrings, count);
}

void RegistryScript(std::string_view input) {
    ::kel::RegistryScript script;
    CRegistrar::Parse(FromUtf8(input), {{u"MODULE", u"C:\\KelInstallSystem.dll"}}, script);
}

// Whatever the journal says, nothing outside the system is touched.
void CommitJournal(std::string_view input) {
    const WString system = WorkDirectory() + u"\\sys";
    os::MakeDirectory(system);
    os::MakeDirectory(system + u"\\INTERNAL");
    const WString outside = Write(u"outside", "x");
    Write(u"sys\\INTERNAL\\commit.journal", input);
    CCommitJournal::Recover(system);
    if (os::GetEntryKind(outside) != os::EntryKind::File) __builtin_trap();
}

}  // namespace kel::fuzz
