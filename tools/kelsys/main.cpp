// kelsys: the command-line front end of KelInstallSystem.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#if defined(_WIN32)
#include <windows.h>
#endif
#include <string>
#include <vector>

#include "shared/keystring.h"
#include "component.h"
#include "release_options.h"
#include "interrupt.h"
#include "system_commands.h"
#include "shared/outside_factory.h"
#include "platform/os.h"
#include "platform/raii.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace {

using kel::WString;

std::string Out(kel::WStringView text) { return kel::ToUtf8(text); }

int DescribeKey(const std::string& keystring) {
    kel::KeyDescription key;
    if (!kel::DescribeKey(kel::FromUtf8(keystring), key)) {
        std::cerr << "kelsys: not a valid keystring\n";
        return 1;
    }
    const char* kind = key.kind == kel::KeyKind::AdditionalOptionKey ? "additional option key"
                       : key.virtualController                        ? "release key, virtual controller"
                                                                      : "release key, real controller";
    std::cout << "kind:        " << kind << "\n"
              << "serial:      " << key.serialNumber << " (" << Out(key.serialText) << ")\n"
              << "signature:   " << key.signatureNumber << "\n"
              << "program:     " << Out(key.programName) << "\n"
              << "selection:   " << Out(key.selectionText) << "\n";
    return 0;
}

int MakeKey(const std::string& kind, uint32_t serial, int32_t signature, const std::string& program,
            const std::string& selection, const std::string& serialText) {
    kel::KeyDescription key;
    key.kind = kind == "A" ? kel::KeyKind::AdditionalOptionKey : kel::KeyKind::ReleaseKey;
    key.virtualController = kind == "V";
    key.serialNumber = serial;
    key.signatureNumber = signature;
    key.programName = kel::FromUtf8(program);
    key.selectionText = kel::FromUtf8(selection);
    key.serialText = kel::FromUtf8(serialText);
    WString keystring;
    if (!kel::MakeKeystring(key, keystring)) {
        std::cerr << "kelsys: these fields do not make a valid keystring\n";
        return 1;
    }
    std::cout << Out(keystring) << "\n";
    return 0;
}

int ShowRelease(const std::string& path) {
    kel::ComPtr<kel::IKelInstallMedia> media;
    if (FAILED(kel::CreateOutsideComponent(kel::CLSID_KelInstallMedia, kel::IID_IKelInstallMedia, media.PutVoid()))) {
        std::cerr << "kelsys: the media component is not available\n";
        return 1;
    }
    const kel::UniqueBstr bstrPath = kel::UniqueBstr::From(kel::os::FromNativePath(path));
    const HRESULT hr = media->OpenMedia(bstrPath.get());
    if (FAILED(hr)) {
        std::fprintf(stderr, "kelsys: %s is not a program release (0x%08X)\n", path.c_str(), static_cast<unsigned>(hr));
        return 1;
    }
    kel::UniqueBstr name;
    LONG type = 0;
    uint16_t major = 0, minor = 0, third = 0, fourth = 0;
    media->GetMediaName(name.Put());
    media->GetMediaType(&type);
    media->GetVersion(&major, &minor);
    media->GetThirdVersion(&third);
    media->GetFourthVersion(&fourth);
    std::cout << "name:    " << Out(name.View()) << "\n"
              << "type:    " << type << "\n"
              << "version: " << major << "." << minor << "." << third << "." << fourth << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    kelsys::InstallInterruptHandlers();
#if defined(_WIN32)
    // Without a buffer of its own, the Windows C runtime hands a pipe, a file
    // or the null device most of the output a byte a call.
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
#endif
    CLI::App app{"kelsys: create and inspect robot-controller systems"};
    app.require_subcommand(1);
    bool trace = false;
    app.add_flag("--trace", trace, "print the component's trace records to stderr");

    auto* key = app.add_subcommand("key", "describe or make keystrings");
    key->require_subcommand(1);
    std::string keystring;
    auto* describe = key->add_subcommand("describe", "print the fields of a keystring");
    describe->add_option("KEYSTRING", keystring, "the keystring")->required();

    std::string kind = "R", program, selection, serialText;
    uint32_t serial = 0;
    int32_t signature = 0;
    auto* make = key->add_subcommand("make", "make a keystring from its fields");
    make->add_option("--kind", kind, "R (real controller), V (virtual controller) or A (additional option)")
        ->check(CLI::IsMember({"R", "V", "A"}));
    make->add_option("--serial", serial)->required();
    make->add_option("--signature", signature)->required();
    make->add_option("--program", program)->required();
    auto* selectionOption = make->add_option("--selection", selection, "the selection digits");
    make->add_option("--serial-text", serialText);
    std::string keyRelease;
    std::vector<std::string> chosen;
    auto* keyReleaseOption =
        make->add_option("--release", keyRelease, "make the selection from this release's options (its default without --choose)")
            ->excludes(selectionOption);
    make->add_option("--choose", chosen, "an option to choose, by its text or the start of it (repeatable)")
        ->needs(keyReleaseOption);

    std::string releasePath;
    auto* release = app.add_subcommand("release", "identify a program release directory");
    release->add_option("PATH", releasePath, "the release directory")->required();
    bool releaseOptions = false;
    int32_t releaseSignature = 0;
    auto* releaseOptionsFlag = release->add_flag("--options", releaseOptions, "print the option tree of its option definition files");
    release->add_option("--signature", releaseSignature, "only the file a key with this signature names")->needs(releaseOptionsFlag);

    const auto runSystemCommand = kelsys::AddSystemCommands(app);

    try {
        const std::vector<std::string> arguments = kel::os::CommandLineArguments(argc, argv);
        std::vector<const char*> pointers;
        for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kelsys::kUsage;
    }
    const int code = runSystemCommand(trace);
    if (code >= 0) return code;
    static int print = 0;
    kel::SetTraceSink(&kelsys::CollectTrace, trace ? &print : nullptr);
    if (*describe) return DescribeKey(keystring);
    if (*make) {
        if (!keyRelease.empty()) {
            WString made;
            if (const int refused = kelsys::MakeSelection(keyRelease, signature, chosen, made)) return refused;
            selection = Out(made);
        }
        return MakeKey(kind, serial, signature, program, selection, serialText);
    }
    if (*release) return releaseOptions ? kelsys::ShowReleaseOptions(releasePath, releaseSignature) : ShowRelease(releasePath);
    return 1;
}
