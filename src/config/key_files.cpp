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
                                           const xml::Element& systemOptions) {
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

int CConfigurationFiles::WriteKeystrTxt(WStringView targetDir, WStringView systemDir, const CKeyList& keys) {
    const WString path = InternalFile(targetDir, u"keystr.txt");
    SealedFile file;
    if (!file.OpenForWrite(path, 0, 0)) {
        TraceFormatted(u"CConfigurationFiles::WriteKeystrTxt, Failure open %s\n", path);
        return -1;
    }
    std::string text = "#Loaded keys in " + ToAnsi(InternalFile(systemDir, u"keystr.txt")) + ":\n";
    for (const CKeyInfo& key : keys) {
        // Each line goes through a 260-byte buffer.
        char line[260];
        const std::string keystring = ToAnsi(key.GetKeystring());
        if (key.GetDriveModuleNr() == 0) {
            std::snprintf(line, sizeof line, "%s\n", keystring.c_str());
        } else {
            std::snprintf(line, sizeof line, "%s\t%d\n", keystring.c_str(), static_cast<int>(key.GetDriveModuleNr()));
        }
        text += line;
    }
    return file.WriteText(text.c_str()) < 0 || !file.Close() ? -1 : 0;
}

int CConfigurationFiles::ReadKeystrTxt(WStringView systemDir, CKeyList& keys) {
    keys.Clear();
    const WString path = InternalFile(systemDir, u"keystr.txt");
    SealedFile file;
    if (!file.OpenForRead(path)) {
        TraceFormatted(u"CConfigurationFiles::ReadKeystrTxt, Couldn't find relkeyfile in %s\n", systemDir);
        return -1;
    }
    char line[310];
    if (!file.ReadLine(line, sizeof line) || !StartsWith(line, "#Loaded keys in")) {
        TraceFormatted(u"CConfigurationFiles::ReadKeystrTxt, Failure reading first line from %s\n", path);
        return -2;
    }
    std::vector<CKeyInfo> numbered;
    while (file.ReadLine(line, sizeof line)) {
        char token[256];
        int number = 0;
        const int fields = std::sscanf(line, "%255s\t%d\n", token, &number);
        if (fields < 1) continue;
        CKeyInfo key;
        key.SetKeystring(FromAnsi(token));
        if (fields == 2 && number > 0) {
            key.SetDriveModuleNr(static_cast<uint16_t>(number));
            numbered.push_back(key);
        } else {
            keys.Append(key);
        }
    }
    std::stable_sort(numbered.begin(), numbered.end(), [](const CKeyInfo& a, const CKeyInfo& b) {
        return a.GetDriveModuleNr() < b.GetDriveModuleNr();
    });
    for (const CKeyInfo& key : numbered) keys.Append(key);
    return 0;
}

int CConfigurationFiles::WriteProgramId(WStringView targetDir, WStringView systemDir, const CKeyList& keys) {
    const WString path = InternalFile(targetDir, u"program.id");
    SealedFile file;
    if (!file.OpenForWrite(path, 0, 0)) {
        TraceFormatted(u"Failure open %s\n", path);
        return -1;
    }
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
    return file.WriteText(text.c_str()) < 0 || !file.Close() ? -1 : 0;
}

int CConfigurationFiles::ReadProgramId(WStringView systemDir, std::vector<WString>& programs) {
    const WString path = InternalFile(systemDir, u"program.id");
    SealedFile file;
    if (!file.OpenForRead(path)) {
        TraceFormatted(u"CConfigurationFiles::ReadProgramId, Cannot find any %s file\n", u"program.id");
        return -1;
    }
    char first[310];
    if (!file.ReadLine(first, sizeof first) || !StartsWith(first, "#Setup program(s) in")) {
        TraceFormatted(u"CConfigurationFiles::ReadProgramId, Failure reading first line from %s\n", path);
        return -2;
    }
    char line[260];
    while (file.ReadLine(line, sizeof line)) {
        if (line[0] == '#' || line[0] == '\n') continue;
        WString entry = FromAnsi(line);
        if (line[0] == '.' && !PathCombine(systemDir, entry, entry)) entry.clear();
        if (!entry.empty()) entry.pop_back();  // the line feed
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
