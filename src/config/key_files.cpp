// keystr.txt and program.id: the keys loaded into a system and the program
// releases it was set up from.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "KelInstallSystem.h"
#include "config/configuration_files.h"
#include "platform/path_combine.h"
#include "platform/sealed_file.h"
#include "platform/shell_file_op.h"
#include "shared/key_info.h"

namespace kel {

namespace {

WString InternalFile(WStringView dir, const char16_t* name) { return Format(u"%s\\%s\\%s", dir, u"INTERNAL", name); }

// Header lines are checked only for their start.
bool StartsWith(const char* line, const char* prefix) { return std::strncmp(line, prefix, std::strlen(prefix)) == 0; }

}  // namespace

int CConfigurationFiles::SaveConfiguration(WStringView targetDir, WStringView systemDir, const CKeyList& keys,
                                           const xml::Element& systemOptions, CRelkeyCache* relkeys) {
    m_relkeys = relkeys;
    struct Forget {
        CRelkeyCache*& relkeys;
        ~Forget() { relkeys = nullptr; }
    } forget{m_relkeys};
    if (WriteKeystrTxt(targetDir, systemDir, keys) != 0) {
        TraceError(u"CConfigurationFiles::SaveConfiguration, Failure writing to keystr.txt\n");
        return -1;
    }
    if (WriteProgramId(targetDir, systemDir, keys) != 0) {
        TraceError(u"CConfigurationFiles::SaveConfiguration, Failure writing to program.id\n");
        return -2;
    }
    if (WriteKeyId(targetDir, keys, 0, systemOptions) != 0) {
        TraceError(u"CConfigurationFiles::SaveConfiguration, Failure writing to key.id\n");
        return -3;
    }
    return 0;
}

std::string CConfigurationFiles::KeystrText(WStringView systemDir, const CKeyList& keys) {
    std::string text = "#Loaded keys in " + ToAnsi(InternalFile(systemDir, u"keystr.txt")) + ":\n";
    // Whole lines, however long: a cut line would glue the next key onto it.
    for (const CKeyInfo& key : keys) {
        text += ToAnsi(key.GetKeystring());
        if (key.GetDriveModuleNr() != 0) text += "\t" + std::to_string(key.GetDriveModuleNr());
        text += "\n";
    }
    return text;
}

int CConfigurationFiles::WritePlain(WStringView path, const std::string& text, const char16_t* openFailure) {
    SealedFile file;
    if (!file.OpenForWrite(path, 0, 0)) {
        TraceFormatted(openFailure, path);
        return -1;
    }
    return file.WriteText(text.c_str()) < 0 || !file.Close() ? -1 : 0;
}

int CConfigurationFiles::WriteKeystrTxt(WStringView targetDir, WStringView systemDir, const CKeyList& keys) {
    return WritePlain(InternalFile(targetDir, u"keystr.txt"), KeystrText(systemDir, keys),
                      u"CConfigurationFiles::WriteKeystrTxt, Failure open %s\n");
}

int CConfigurationFiles::ReadKeystrTxt(WStringView systemDir, CKeyList& keys) {
    keys.Clear();
    SealedFile file;
    if (!file.OpenForRead(InternalFile(systemDir, u"keystr.txt"))) {
        TraceFormatted(u"CConfigurationFiles::ReadKeystrTxt, Couldn't find relkeyfile in %s\n", systemDir);
        return -1;
    }
    return ReadKeystrTxt(file, systemDir, keys);
}

int CConfigurationFiles::ReadKeystrTxt(SealedFile& file, WStringView systemDir, CKeyList& keys) {
    const WString path = InternalFile(systemDir, u"keystr.txt");
    std::string line;
    if (!file.ReadLine(line) || !StartsWith(line.c_str(), "#Loaded keys in")) {
        TraceFormatted(u"CConfigurationFiles::ReadKeystrTxt, Failure reading first line from %s\n", path);
        return -2;
    }
    while (file.ReadLine(line)) {
        // A key of any length, then its drive module's number, if any.
        std::vector<char> token(line.size() + 1);
        int number = 0;
        const int fields = std::sscanf(line.c_str(), "%s\t%d", token.data(), &number);
        if (fields < 1) continue;
        CKeyInfo key;
        key.SetKeystring(FromAnsi(token.data()));
        if (fields == 2 && number > 0) key.SetDriveModuleNr(static_cast<uint16_t>(number));
        keys.Append(key);
    }
    keys.SortAsRead();
    return 0;
}

std::string CConfigurationFiles::ProgramIdText(WStringView systemDir, const CKeyList& keys) {
    std::string text = "#Setup program(s) in " + ToAnsi(InternalFile(systemDir, u"program.id")) + ":\n";
    bool mainWritten = false;
    for (const CKeyInfo& key : keys) {
        // Drive modules belong to the main release and add no line of their own.
        if (key.GetProgramType() == Zendara) {
            if (mainWritten) continue;
            mainWritten = true;
        }
        text += ToAnsi(ToUpper(key.GetProgramPath())) + "\n";
    }
    return text;
}

int CConfigurationFiles::WriteProgramId(WStringView targetDir, WStringView systemDir, const CKeyList& keys) {
    return WritePlain(InternalFile(targetDir, u"program.id"), ProgramIdText(systemDir, keys), u"Failure open %s\n");
}

int CConfigurationFiles::ReadProgramId(WStringView systemDir, std::vector<WString>& programs) {
    SealedFile file;
    if (!file.OpenForRead(InternalFile(systemDir, u"program.id"))) {
        TraceFormatted(u"CConfigurationFiles::ReadProgramId, Cannot find any %s file\n", u"program.id");
        return -1;
    }
    return ReadProgramId(file, systemDir, programs);
}

int CConfigurationFiles::ReadProgramId(SealedFile& file, WStringView systemDir, std::vector<WString>& programs) {
    const WString path = InternalFile(systemDir, u"program.id");
    std::string line;
    if (!file.ReadLine(line) || !StartsWith(line.c_str(), "#Setup program(s) in")) {
        TraceFormatted(u"CConfigurationFiles::ReadProgramId, Failure reading first line from %s\n", path);
        return -2;
    }
    while (file.ReadLine(line)) {
        if (line.empty() || line[0] == '#') continue;
        WString entry = FromAnsi(line);
        if (line[0] == '.' && !PathCombine(systemDir, entry, entry)) entry.clear();
        if (!entry.empty()) programs.push_back(std::move(entry));
    }
    return 0;
}

int CConfigurationFiles::RemoveConfiguration(WStringView systemDir) {
    for (const char16_t* name : {u"key.id", u"program.id", u"keystr.txt"}) {
        const WString path = InternalFile(systemDir, name);
        if (ShellFileOperation(ShellOperation::Delete, path, u"", kShellSilentFlags) != 0) {
            TraceFormatted(u"CConfigurationFiles::RemoveConfiguration: Could not remove file %s", path);
            return 0;
        }
    }
    return 1;
}

}  // namespace kel
