#include "system_commands.h"

#include <algorithm>
#include <iostream>
#include <sstream>

#include "component.h"
#include "options.h"
#include "platform/xml.h"

namespace kelsys {

namespace {

struct Arguments {
    std::string system, release, key, text, file, name, set, target;
    std::vector<std::string> files, extra;
    bool overwrite = false, json = false, hasText = false;
    unsigned number = 0;
};

// The system named on the command line, opened.
bool Open(Component& component, const std::string& system, bool trace, int& code) {
    code = kRefused;
    if (!component.Load(trace)) return false;
    code = Component::Report("cannot open the system", component->InitSystem(B(ComponentPath(system)).get()));
    return code == kOk;
}

// The chosen options of each program of an option selection document.
std::vector<std::pair<WString, std::vector<WString>>> ChosenOptions(WStringView document) {
    std::vector<std::pair<WString, std::vector<WString>>> programs;
    kel::xml::Document doc = kel::xml::Document::Create();
    if (!doc.Parse(document)) return programs;
    for (const char16_t* kind : {u"ZD", u"EXT"}) {
        for (const kel::xml::Element& entry : doc.Root().Children(kind)) {
            std::vector<WString> chosen;
            for (const char16_t* container : {u"MainGroups", u"SubGroups"}) {
                for (const kel::xml::Element& group : entry.FirstChild(container).Children(u"Group")) {
                    for (const kel::xml::Element& item : group.Children(u"GroupItem")) {
                        const WString selected = item.FirstChild(u"Selected").Text();
                        if (selected == u"1" || selected == u"2") {
                            chosen.push_back(item.FirstChild(u"LineSelectionDescription").Text());
                        }
                    }
                }
            }
            programs.emplace_back(entry.FirstChild(u"ProgramNr").Text(), std::move(chosen));
        }
    }
    return programs;
}

std::string JsonList(const std::vector<WString>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + JsonString(items[i]);
    return out + "]";
}

int Info(Component& system, const WString& path, bool json) {
    kel::UniqueBstr text;
    int code = Component::Report("cannot read system.xml", system->GetSystemInfo(text.Put()));
    if (code != kOk) return code;
    kel::xml::Document description = kel::xml::Document::Create();
    if (!description.Parse(text.View())) return Component::Report("system.xml is not readable", E_FAIL);
    const kel::xml::Element root = description.Root();

    KelInstallCtrlType type{};
    system->GetSystemType(&type);
    kel::UniqueBstr tag, home, syspar, options;
    ULONG count = 0;
    system->GetSystemTag(tag.Put());
    system->GetHomeFileList(home.Put(), &count);
    system->GetSystemParameterFileList(syspar.Put(), &count);
    system->GetSystemOptions(options.Put());

    std::ostringstream out;
    const auto field = [&](const char* name, const std::string& value, bool last = false) {
        if (json) {
            out << "  " << JsonString(kel::FromUtf8(name)) << ": " << value << (last ? "\n" : ",\n");
        } else {
            out << name << ": " << value << "\n";
        }
    };
    const auto textValue = [&](WStringView value) { return json ? JsonString(value) : Utf8(value); };
    const auto listValue = [&](const std::vector<WString>& items) {
        if (json) return JsonList(items);
        std::string joined;
        for (const WString& item : items) joined += (joined.empty() ? "" : ", ") + Utf8(item);
        return joined;
    };
    if (json) out << "{\n";
    field("name", textValue(root.FirstChild(u"SystemName").Text()));
    field("serial", textValue(root.FirstChild(u"SerialNo").Text()));
    field("controller", textValue(type == KelInstallCtrlType_VC ? u"virtual" : u"real"));
    field("mainKey", textValue(root.FirstChild(u"ControlModule").FirstChild(u"Key").Text()));

    std::vector<std::string> additional, drives, programs, chosen;
    for (const kel::xml::Element& program : root.Children(u"AdditionalOption")) {
        const WString name = program.FirstChild(u"Name").Text();
        kel::UniqueBstr path;
        system->GetProgramPath(ExternalWithOptions, B(name).get(), path.Put());
        additional.push_back(json ? "{\"name\": " + JsonString(name) + ", \"key\": " +
                                        JsonString(program.FirstChild(u"Key").Text()) + ", \"path\": " +
                                        JsonString(path.View()) + "}"
                                  : Utf8(name) + " " + Utf8(program.FirstChild(u"Key").Text()) + " " + Utf8(path.View()));
    }
    for (const kel::xml::Element& program : root.Children(u"DriveModule")) {
        const WString number = program.FirstChild(u"Name").Text().substr(11);
        drives.push_back(json ? "{\"number\": " + Utf8(number) + ", \"key\": " + JsonString(program.FirstChild(u"Key").Text()) + "}"
                              : Utf8(number) + " " + Utf8(program.FirstChild(u"Key").Text()));
    }
    for (const kel::xml::Element& media : root.FirstChild(u"UsedMedia").Children(u"Media")) {
        const WString path = media.Attribute(u"path").value_or(u"");
        const WString name = media.Attribute(u"name").value_or(u"");
        const WString version = media.Attribute(u"version").value_or(u"");
        programs.push_back(json ? "{\"path\": " + JsonString(path) + ", \"name\": " + JsonString(name) +
                                      ", \"version\": " + JsonString(version) + "}"
                                : Utf8(path) + " " + Utf8(name) + " " + Utf8(version));
    }
    for (const auto& [program, options_] : ChosenOptions(options.View())) {
        chosen.push_back(json ? "{\"program\": " + JsonString(program) + ", \"options\": " + JsonList(options_) + "}"
                              : Utf8(program) + ": " + listValue(options_));
    }
    const auto rows = [&](const std::vector<std::string>& items) {
        std::string joined;
        for (const std::string& item : items) joined += json ? (joined.empty() ? "" : ", ") + item : "\n  " + item;
        return json ? "[" + joined + "]" : joined;
    };
    field("additionalOptions", rows(additional));
    field("driveModules", rows(drives));
    field("programs", rows(programs));
    field("tag", textValue(tag.View()));
    field("homeFiles", listValue(SplitList(home.View())));
    field("parameterFiles", listValue(SplitList(syspar.View())));
    // What a restored backup brought along, kept for the user to take in.
    std::vector<kel::os::DirEntry> entries;
    kel::os::ListDirectory(path + u"\\BACKUP", entries);
    std::vector<WString> waiting;
    for (const kel::os::DirEntry& entry : entries) waiting.push_back(entry.isDirectory ? entry.name + u"\\" : entry.name);
    std::sort(waiting.begin(), waiting.end());
    field("backupFiles", listValue(waiting));
    field("options", rows(chosen), true);
    if (json) out << "}\n";
    std::cout << out.str();
    return kOk;
}

int Files(Component& system, bool home, CLI::App* list, CLI::App* add, CLI::App* remove, const Arguments& args) {
    if (*list) {
        kel::UniqueBstr files;
        ULONG count = 0;
        const HRESULT hr = home ? system->GetHomeFileList(files.Put(), &count)
                                : system->GetSystemParameterFileList(files.Put(), &count);
        if (FAILED(hr)) return Component::Report("cannot list the files", hr);
        const std::vector<WString> names = SplitList(files.View());
        if (args.json) {
            std::cout << JsonList(names) << "\n";
        } else {
            for (const WString& name : names) std::cout << Utf8(name) << "\n";
        }
        return kOk;
    }
    for (const std::string& file : args.files) {
        HRESULT hr = S_OK;
        if (*add) {
            const VARIANT_BOOL overwrite = args.overwrite ? VARIANT_TRUE : VARIANT_FALSE;
            const kel::UniqueBstr path = B(ComponentPath(file));
            hr = home ? system->AddHomeFile(path.get(), overwrite) : system->AddSystemParameterFile(path.get(), overwrite);
        } else if (*remove) {
            const kel::UniqueBstr name = B(kel::FromUtf8(file));
            hr = home ? system->RemoveHomeFile(name.get()) : system->RemoveSystemParameterFile(name.get());
        }
        if (FAILED(hr)) return Component::Report(file.c_str(), hr);
    }
    return kOk;
}

int Backup(CLI::App* check, CLI::App* info, CLI::App* restore, const Arguments& args, bool trace) {
    Component component;
    if (!component.Load(trace)) return kRefused;
    const kel::UniqueBstr backup = B(ComponentPath(args.file));
    kel::UniqueBstr text;
    if (*check) {
        ULONG count = 0;
        const HRESULT hr = component->CheckBackup(backup.get(), text.Put(), &count);
        if (FAILED(hr)) return Component::Report("not a backup", hr);
        std::vector<WString> keys;
        for (std::size_t start = 0; start < text.View().size();) {
            std::size_t end = text.View().find(u';', start);
            if (end == WStringView::npos) end = text.View().size();
            keys.emplace_back(text.View().substr(start, end - start));
            start = end + 1;
        }
        if (args.json) {
            std::cout << "{\"keys\": " << JsonList(keys) << "}\n";
        } else {
            std::cout << "keys: " << count << "\n";
            for (const WString& key : keys) std::cout << "  " << Utf8(key) << "\n";
        }
        return kOk;
    }
    if (*info) {
        const HRESULT hr = component->GetBackupInfo(backup.get(), text.Put());
        if (FAILED(hr)) return Component::Report("not a backup", hr);
        std::cout << Utf8(text.View());
        return kOk;
    }
    (void)restore;
    WString extra;
    for (const std::string& program : args.extra) extra += (extra.empty() ? u"" : u";") + ComponentPath(program);
    return Component::Report("cannot restore the backup",
                             component->InitBackup(backup.get(), B(ComponentPath(args.target)).get(),
                                                   B(ComponentPath(args.release)).get(), B(extra).get(),
                                                   static_cast<ULONG>(args.extra.size())));
}

}  // namespace

std::function<int(bool)> AddSystemCommands(CLI::App& app) {
    auto args = std::make_shared<Arguments>();
    const auto systemArgument = [&](CLI::App* command) {
        command->add_option("SYSTEM", args->system, "the system directory")->required();
    };

    auto* create = app.add_subcommand("create", "create a system from a program release and a main keystring");
    systemArgument(create);
    create->add_option("--release", args->release, "the program release directory")->required();
    create->add_option("--key", args->key, "the main keystring")->required();

    auto* info = app.add_subcommand("info", "what a system holds");
    systemArgument(info);
    info->add_flag("--json", args->json, "as JSON");
    auto* reset = app.add_subcommand("reset", "back to what the main keystring alone gives; empties HOME and SYSPAR");
    systemArgument(reset);
    auto* xml = app.add_subcommand("xml", "the system description (system.xml)");
    systemArgument(xml);
    auto* verify = app.add_subcommand("verify", "check a system's files against each other");
    systemArgument(verify);
    auto* list = app.add_subcommand("list", "the systems of a pool folder, read without opening them");
    list->add_option("POOL", args->file, "the pool folder")->required();
    list->add_flag("--json", args->json, "as JSON");
    auto* diff = app.add_subcommand("diff", "what sets two systems apart");
    systemArgument(diff);
    diff->add_option("OTHER", args->target, "the system to compare with")->required();
    diff->add_flag("--json", args->json, "as JSON");

    struct FileCommands {
        CLI::App *command, *list, *add, *remove;
    };
    const auto fileCommands = [&](const char* name, const char* what) {
        FileCommands files{app.add_subcommand(name, what), nullptr, nullptr, nullptr};
        systemArgument(files.command);
        files.command->require_subcommand(1);
        files.list = files.command->add_subcommand("list", "list the files");
        files.list->add_flag("--json", args->json, "as a JSON array");
        files.add = files.command->add_subcommand("add", "copy files in");
        files.add->add_option("FILES", args->files, "the files to copy in")->required();
        files.add->add_flag("--overwrite", args->overwrite, "replace files of the same name");
        files.remove = files.command->add_subcommand("rm", "remove files by name");
        files.remove->add_option("NAMES", args->files, "the file names")->required();
        return files;
    };
    const FileCommands home = fileCommands("home", "the system's home files");
    const FileCommands syspar = fileCommands("syspar", "the system's parameter files");

    auto* tag = app.add_subcommand("tag", "print or set the system tag");
    systemArgument(tag);
    tag->add_option("TEXT", args->text, "the new tag");

    auto optionArgs = std::make_shared<OptionArguments>();
    auto* options = app.add_subcommand("options", "the option selection: a tree to read, choices by name, or the document");
    systemArgument(options);
    auto* optionsSet = options->add_option("--set", optionArgs->set, "replace the document by a file's, or - for standard input");
    auto* optionsXml = options->add_flag("--xml", optionArgs->xml, "the document as it is");
    options->add_flag("--json", optionArgs->json, "the tree as JSON")->excludes(optionsXml)->excludes(optionsSet);
    optionsSet->excludes(optionsXml);
    CLI::App* choices[2];
    for (const bool choose : {true, false}) {
        CLI::App* command = options->add_subcommand(choose ? "select" : "unselect",
                                                    choose ? "choose options by group and option title" : "unchoose options by group and option title");
        command->add_option("--program", optionArgs->program, "an additional option or drive module (the main program without)");
        command->add_flag("--dry-run", optionArgs->dryRun, "print the change without making it");
        command->add_option("NAMES", optionArgs->names, "GROUP OPTION [GROUP OPTION...]: titles, ignoring case; a prefix will do")->required();
        command->excludes(optionsSet)->excludes(optionsXml);
        choices[choose ? 0 : 1] = command;
    }

    auto* addopt = app.add_subcommand("addopt", "additional option programs");
    systemArgument(addopt);
    addopt->require_subcommand(1);
    auto* addoptAdd = addopt->add_subcommand("add", "add a program by its keystring");
    addoptAdd->add_option("KEY", args->key, "the keystring")->required();
    addoptAdd->add_option("--release", args->release, "the program's release directory")->required();
    auto* addoptRemove = addopt->add_subcommand("rm", "remove a program by name");
    addoptRemove->add_option("NAME", args->name, "the program name")->required();

    auto* drive = app.add_subcommand("drive", "drive modules");
    systemArgument(drive);
    drive->require_subcommand(1);
    auto* driveAdd = drive->add_subcommand("add", "add a drive module keystring");
    driveAdd->add_option("KEY", args->key, "the keystring")->required();
    driveAdd->add_option("--number", args->number, "the module number")->required()->check(CLI::Range(1, 65535));
    auto* driveRemove = drive->add_subcommand("rm", "remove a drive module by number");
    driveRemove->add_option("NUMBER", args->number, "the drive module number")->required()->check(CLI::Range(1, 65535));

    auto* replace = app.get_subcommand("key")->add_subcommand("replace", "replace a keystring of a system");
    systemArgument(replace);
    replace->add_option("OLD", args->key, "the loaded keystring")->required();
    replace->add_option("NEW", args->text, "its replacement")->required();

    auto* programPath = app.add_subcommand("program-path", "print or set a program's release directory");
    systemArgument(programPath);
    programPath->add_option("--name", args->name, "an additional program (the main program without)");
    programPath->add_option("--set", args->set, "the new release directory");

    auto* backup = app.add_subcommand("backup", "controller backups");
    backup->require_subcommand(1);
    auto* backupCheck = backup->add_subcommand("check", "check a backup and list its keystrings");
    backupCheck->add_option("BACKUP", args->file, "the backup directory")->required();
    backupCheck->add_flag("--json", args->json, "as JSON");
    auto* backupInfo = backup->add_subcommand("info", "print a backup's system description");
    backupInfo->add_option("BACKUP", args->file, "the backup directory")->required();
    auto* backupRestore = backup->add_subcommand("restore", "turn a backup into a new system");
    backupRestore->add_option("BACKUP", args->file, "the backup directory")->required();
    backupRestore->add_option("--to", args->target, "the new system directory")->required();
    backupRestore->add_option("--release", args->release, "the main program release")->required();
    backupRestore->add_option("--extra", args->extra, "further program release directories");

    return [=](bool trace) {
        const Arguments& a = *args;
        if (*backup) return Backup(backupCheck, backupInfo, backupRestore, a, trace);
        if (*create) {
            Component component;
            if (!component.Load(trace)) return kRefused;
            return Component::Report("cannot create the system",
                                     component->CreateSystem(B(ComponentPath(a.system)).get(), B(kel::FromUtf8(a.key)).get(),
                                                             B(ComponentPath(a.release)).get()));
        }
        if (*verify) return Verify(a.system, trace);
        if (*list) return List(a.file, a.json);
        if (*diff) return Diff(a.system, a.target, a.json, trace);
        const bool known = *info || *reset || *xml || *home.command || *syspar.command || *tag || *options ||
                           *addopt || *drive || *replace || *programPath;
        if (!known) return -1;
        Component system;
        int code = kOk;
        if (!Open(system, a.system, trace, code)) return code;
        kel::UniqueBstr out;
        if (*info) return Info(system, ComponentPath(a.system), a.json);
        if (*reset) return Component::Report("cannot reset the system", system->ResetSystem());
        if (*xml) {
            code = Component::Report("cannot read system.xml", system->GetSystemInfo(out.Put()));
            if (code == kOk) std::cout << Utf8(out.View());
            return code;
        }
        if (*home.command) return Files(system, true, home.list, home.add, home.remove, a);
        if (*syspar.command) return Files(system, false, syspar.list, syspar.add, syspar.remove, a);
        if (*tag) {
            if (tag->count("TEXT")) return Component::Report("cannot set the tag", system->SetSystemTag(B(kel::FromUtf8(a.text)).get()));
            code = Component::Report("cannot read the tag", system->GetSystemTag(out.Put()));
            if (code == kOk) std::cout << Utf8(out.View()) << "\n";
            return code;
        }
        if (*options) {
            using Action = OptionArguments::Action;
            optionArgs->action = *choices[0] ? Action::Select : *choices[1] ? Action::Unselect : Action::Show;
            return Options(system, *optionArgs);
        }
        if (*addoptAdd) {
            return Component::Report("cannot add the program", system->AddAdditionalOption(B(kel::FromUtf8(a.key)).get(),
                                                                                           B(ComponentPath(a.release)).get()));
        }
        if (*addoptRemove) return Component::Report("cannot remove the program", system->RemoveAdditionalOption(B(kel::FromUtf8(a.name)).get()));
        if (*driveAdd) {
            return Component::Report("cannot add the drive module",
                                     system->AddDriveModule(B(kel::FromUtf8(a.key)).get(), static_cast<unsigned short>(a.number)));
        }
        if (*driveRemove) {
            const HRESULT hr = system->RemoveDriveModule(static_cast<unsigned short>(a.number));
            if (hr == static_cast<HRESULT>(0x00040540)) std::cerr << "kelsys: drive module " << a.number << " is not loaded\n";
            return Component::Report("cannot remove the drive module", hr);
        }
        if (*replace) {
            return Component::Report("cannot replace the keystring",
                                     system->ReplaceKeystring(B(kel::FromUtf8(a.key)).get(), B(kel::FromUtf8(a.text)).get()));
        }
        // program-path
        const ProgramType type = a.name.empty() ? Zendara : ExternalWithOptions;
        const kel::UniqueBstr name = B(kel::FromUtf8(a.name));
        if (!a.set.empty()) {
            return Component::Report("cannot set the program path",
                                     system->SetProgramPath(type, name.get(), B(ComponentPath(a.set)).get()));
        }
        code = Component::Report("cannot read the program path", system->GetProgramPath(type, name.get(), out.Put()));
        if (code == kOk) std::cout << Utf8(out.View()) << "\n";
        return code;
    };
}

}  // namespace kelsys
