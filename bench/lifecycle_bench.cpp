// The component's operations through its public interface, each beside its
// floor: the least file-system work that gives the same result, done with
// the fastest calls Linux has (bench_support). The time shown is the
// operation's; floor_ms is the floor's and ratio the one over the other, both
// measured alternately in the same run. --smoke runs the smallest sizes once.
#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <pugixml.hpp>
#include <sstream>
#include <stdexcept>

#include "KelInstallSystem.h"
#include "bench_support.h"
#include "platform/os.h"
#include "platform/raii.h"

namespace {

using kel::WString;
using kel::bench::Scratch;
using kel::bench::TreeImage;
namespace kb = kel::bench;

constexpr const char16_t* kMainKey = u"KEL1:R:1234567:7:Zendara:10101011011010101001::03999751";
constexpr const char16_t* kArcKey = u"KEL1:A:1234567:1001:ArcWelding:010111010::8D0A4816";
const std::string kSamples = KEL_SOURCE_DIR "/samples";
const std::vector<std::string> kConfigFiles = {"INTERNAL/keystr.txt", "INTERNAL/program.id", "INTERNAL/key.id",
                                               "system.xml"};
// What a new system puts on the disk before it gets its name.
constexpr const char* kCreateFlushes[] = {"INTERNAL/system.guid", "INTERNAL/template.guid", "INTERNAL/keystr.txt",
                                          "INTERNAL/program.id",  "INTERNAL/key.id",         "system.xml"};

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        char text[96];
        std::snprintf(text, sizeof text, "%s failed: 0x%08X", what, static_cast<unsigned>(hr));
        throw std::runtime_error(text);
    }
}

kel::UniqueBstr B(const std::string& native) { return kel::UniqueBstr::From(Scratch::Component(native)); }
kel::UniqueBstr B(const char16_t* text) { return kel::UniqueBstr::From(text); }

class Library {
public:
    // KEL_BENCH_LIBRARY names another build of the library, to compare two in one sitting.
    Library() {
        const char* other = std::getenv("KEL_BENCH_LIBRARY");
        const std::string path = other && *other ? other : KEL_LIBRARY_PATH;
        if (!m_library.Open(path)) throw std::runtime_error("cannot load " + path);
        m_getClassObject = reinterpret_cast<decltype(m_getClassObject)>(m_library.Symbol("DllGetClassObject"));
        if (!m_getClassObject) throw std::runtime_error("no DllGetClassObject");
    }
    kel::ComPtr<IKelInstallSystem> New() const {
        kel::ComPtr<IClassFactory> factory;
        kel::ComPtr<IKelInstallSystem> object;
        Check(m_getClassObject(CLSID_KelInstallSystem, IID_IClassFactory, factory.PutVoid()), "DllGetClassObject");
        Check(factory->CreateInstance(nullptr, IID_IKelInstallSystem, object.PutVoid()), "CreateInstance");
        return object;
    }

private:
    kel::os::DynamicLibrary m_library;
    HRESULT (*m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
};

bool g_failed = false;  // the exit status: an operation that fails is not a result

const Library& Component() {
    static const Library library;
    return library;
}

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Alternates floor and operation, each after setup; only the operation is the
// benchmark's time.
void Measure(benchmark::State& state, const std::function<void()>& setup, const std::function<void()>& operation,
             const std::function<void()>& floor) {
    double operationTotal = 0;
    double floorTotal = 0;
    for (auto _ : state) {
        setup();
        floorTotal += Seconds(floor);
        setup();
        const double seconds = Seconds(operation);
        operationTotal += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["floor_ms"] = floorTotal * 1e3 / static_cast<double>(state.iterations());
    state.counters["ratio"] = operationTotal / floorTotal;
}

// Every file of a release: more than a create must read, never less.
std::vector<std::string> ReleaseInputs(const std::string& release) {
    std::vector<std::string> inputs;
    for (const auto& [path, bytes] : TreeImage::Of(release).files) inputs.push_back(release + "/" + path);
    return inputs;
}

// groups 0: the sample release.
void BM_CreateSystem(benchmark::State& state) {
    const int groups = static_cast<int>(state.range(0));
    Scratch scratch;
    std::string release = kSamples + "/releases/zendara-6.0";
    WString key = kMainKey;
    if (groups > 0) {
        release = scratch / "release";
        key = kb::WriteRelease(release, groups);
    }
    const std::string target = scratch / "Cell1";
    const std::string staging = scratch / "staging";
    const auto create = [&] {
        Check(Component().New()->CreateSystem(B(target).get(), kel::UniqueBstr::From(key).get(), B(release).get()),
              "CreateSystem");
    };
    create();
    const TreeImage output = TreeImage::Of(target);
    const std::vector<std::string> inputs = ReleaseInputs(release);
    kb::RemoveTree(target);
    kb::ResetPeakMemory();
    Measure(
        state, [&] { kb::RemoveTree(target); }, create,
        [&] {
            for (const std::string& input : inputs) kb::ReadThrough(input);
            kb::MakeDirectories(staging);
            output.WriteTo(staging);
            for (const char* file : kCreateFlushes) kb::Flush(staging + "/" + file);
            kb::FlushDirectory(staging + "/INTERNAL");
            kb::FlushDirectory(staging);
            if (rename(staging.c_str(), target.c_str()) != 0) throw std::runtime_error("rename failed");
            kb::FlushDirectory(scratch.native());
        });
    state.counters["peak_MB"] = kb::PeakMemoryMB();
    if (groups > 0) {
        state.counters["per_group"] = benchmark::Counter(
            groups, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    }
}

// The least a change can do: read its inputs, write the new configuration
// files beside their places, flush them and a journal as a commit does, and
// rename them over the old ones.
void ChangeFloor(const std::string& system, const TreeImage& config, const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) kb::ReadThrough(input);
    const std::string journal = system + "/INTERNAL/commit.staging";
    kb::WriteBytes(journal, "journal");
    kb::Flush(journal);
    kb::FlushDirectory(system + "/INTERNAL");
    std::vector<std::pair<std::string, std::string>> staged;  // staged name, target
    for (const auto& [path, bytes] : config.files) {
        const std::string target = system + "/" + path;
        staged.emplace_back(target.substr(0, target.rfind('/') + 1) + "~n" + std::to_string(staged.size()), target);
        kb::WriteBytes(staged.back().first, bytes);
        kb::Flush(staged.back().first);
    }
    kb::FlushDirectory(system + "/INTERNAL");
    kb::FlushDirectory(system);
    if (rename(journal.c_str(), (system + "/INTERNAL/commit.journal").c_str()) != 0) throw std::runtime_error("rename failed");
    kb::FlushDirectory(system + "/INTERNAL");
    for (const auto& [from, to] : staged) {
        if (rename(from.c_str(), to.c_str()) != 0) throw std::runtime_error("rename failed");
    }
    unlink((system + "/INTERNAL/commit.journal").c_str());
}

// Every file of the system's INTERNAL folder and of the releases it names.
std::vector<std::string> ChangeInputs(const std::string& system, const std::vector<std::string>& releases) {
    std::vector<std::string> inputs;
    for (const char* file : {"keystr.txt", "program.id", "key.id"}) inputs.push_back(system + "/INTERNAL/" + file);
    for (const std::string& release : releases) {
        for (const std::string& input : ReleaseInputs(release)) inputs.push_back(input);
    }
    return inputs;
}

// A system of the sample release whose HOME holds `files` files of `size` bytes.
struct Fixture {
    Fixture(int files, std::size_t size) : files(files), size(size) {
        Check(Component().New()->CreateSystem(B(path).get(), B(kMainKey).get(), B(release).get()), "CreateSystem");
        Fill();
        Check(system->InitSystem(B(path).get()), "InitSystem");
    }
    void Fill() const { kb::FillDirectory(path + "/HOME", files, size); }

    void ChangeFloor(const TreeImage& config) const {
        ::ChangeFloor(path, config, ChangeInputs(path, {release, kSamples + "/releases/arcwelding-1.2"}));
    }

    int files;
    std::size_t size;
    Scratch scratch;
    const std::string path = scratch / "Cell1";
    const std::string work = scratch / "work";
    const std::string release = kSamples + "/releases/zendara-6.0";
    kel::ComPtr<IKelInstallSystem> system = Component().New();
};

// A HOME of 10 or 1,000 files of 1 kB, or of 10 files of 10 MB.
Fixture HomeOf(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    return files < 0 ? Fixture(10, std::size_t(-files) << 20) : Fixture(files, 1024);
}

// changes: how many changes one call of change makes; each has its floor.
void Change(benchmark::State& state, const std::function<void(Fixture&)>& change, int changes = 1) {
    Fixture fixture = HomeOf(state);
    change(fixture);
    const TreeImage config = TreeImage::Of(fixture.path, kConfigFiles);
    Measure(
        state, [] {}, [&] { change(fixture); },
        [&] {
            for (int i = 0; i < changes; ++i) fixture.ChangeFloor(config);
        });
}

void BM_AddRemoveAdditionalOption(benchmark::State& state) {
    Change(
        state,
        [](Fixture& fixture) {
            const std::string arc = kSamples + "/releases/arcwelding-1.2";
            Check(fixture.system->AddAdditionalOption(B(kArcKey).get(), B(arc).get()), "AddAdditionalOption");
            Check(fixture.system->RemoveAdditionalOption(B(u"ArcWelding").get()), "RemoveAdditionalOption");
        },
        2);
}

void BM_SetSystemOptions(benchmark::State& state) {
    kel::UniqueBstr options;
    Change(state, [&](Fixture& fixture) {
        if (!options.get()) Check(fixture.system->GetSystemOptions(options.Put()), "GetSystemOptions");
        Check(fixture.system->SetSystemOptions(options.get()), "SetSystemOptions");
    });
}

void BM_SetProgramPath(benchmark::State& state) {
    Change(state, [](Fixture& fixture) {
        Check(fixture.system->SetProgramPath(Zendara, nullptr, B(fixture.release).get()), "SetProgramPath");
    });
}

// A system of a generated release of `groups` groups with `programs` drive
// modules and as many additional programs of the same size.
struct GeneratedSystem {
    GeneratedSystem(int groups, int programs) {
        const WString key = kb::WriteRelease(release, groups);
        Check(system->CreateSystem(B(path).get(), kel::UniqueBstr::From(key).get(), B(release).get()), "CreateSystem");
        releases.push_back(release);
        for (int i = 1; i <= programs; ++i) {
            Check(system->AddDriveModule(kel::UniqueBstr::From(kb::DriveModuleKey(i)).get(), static_cast<unsigned short>(i)),
                  "AddDriveModule");
        }
        for (int i = 1; i <= programs; ++i) {
            const std::string name = "Extra" + std::to_string(i);
            releases.push_back(scratch / name);
            const WString extra = kb::WriteAdditionalRelease(releases.back(), name, groups);
            Check(system->AddAdditionalOption(kel::UniqueBstr::From(extra).get(), B(releases.back()).get()),
                  "AddAdditionalOption");
        }
    }
    void ChangeFloor(const TreeImage& config) const { ::ChangeFloor(path, config, ChangeInputs(path, releases)); }

    Scratch scratch;
    const std::string path = scratch / "Cell1";
    const std::string release = scratch / "release";
    std::vector<std::string> releases;
    kel::ComPtr<IKelInstallSystem> system = Component().New();
};

// Args: groups, drive modules and additional programs already in the system.
// peak_MB covers the system's creation and the changes.
void BM_AddDriveModule(benchmark::State& state) {
    kb::ResetPeakMemory();
    const GeneratedSystem fixture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const auto module = static_cast<unsigned short>(state.range(1) + 1);
    const kel::UniqueBstr key = kel::UniqueBstr::From(kb::DriveModuleKey(0));
    const auto add = [&] { Check(fixture.system->AddDriveModule(key.get(), module), "AddDriveModule"); };
    add();
    const TreeImage config = TreeImage::Of(fixture.path, kConfigFiles);
    // The floor leaves the module's files on the disk; the object reads them
    // again before it removes the module.
    bool added = true;
    Measure(
        state,
        [&] {
            if (!added) return;
            Check(fixture.system->InitSystem(B(fixture.path).get()), "InitSystem");
            Check(fixture.system->RemoveDriveModule(module), "RemoveDriveModule");
            added = false;
        },
        [&] {
            add();
            added = true;
        },
        [&] {
            fixture.ChangeFloor(config);
            added = true;
        });
    state.counters["peak_MB"] = kb::PeakMemoryMB();
}

// peak_MB: the system's creation and the changes, as for AddDriveModule.
void BM_SetProgramPathGenerated(benchmark::State& state) {
    kb::ResetPeakMemory();
    const GeneratedSystem fixture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const auto set = [&] {
        Check(fixture.system->SetProgramPath(Zendara, nullptr, B(fixture.release).get()), "SetProgramPath");
    };
    set();
    const TreeImage config = TreeImage::Of(fixture.path, kConfigFiles);
    Measure(state, [] {}, set, [&] { fixture.ChangeFloor(config); });
    state.counters["peak_MB"] = kb::PeakMemoryMB();
}

// The option selection document of a generated system, read and stored whole.
// The floors are pugixml alone on the same text: parsing it (for Set) and
// writing the parsed tree (for Get).
void BM_GetSystemOptions(benchmark::State& state) {
    const GeneratedSystem fixture(static_cast<int>(state.range(0)), 0);
    kel::UniqueBstr text;
    Check(fixture.system->GetSystemOptions(text.Put()), "GetSystemOptions");
    pugi::xml_document parsed;
    parsed.load_string(kel::ToUtf8(text.View()).c_str());
    Measure(
        state, [] {}, [&] { Check(fixture.system->GetSystemOptions(text.Put()), "GetSystemOptions"); },
        [&] {
            std::ostringstream out;
            parsed.save(out);
            benchmark::DoNotOptimize(out.str());
        });
}

// peak_MB: the system's creation, its document read and set once in the
// same process, as a client that edits the selection does.
void BM_SetSystemOptionsGenerated(benchmark::State& state) {
    kb::ResetPeakMemory();
    const GeneratedSystem fixture(static_cast<int>(state.range(0)), 0);
    kel::UniqueBstr text;
    Check(fixture.system->GetSystemOptions(text.Put()), "GetSystemOptions");
    Check(fixture.system->SetSystemOptions(text.get()), "SetSystemOptions");
    state.counters["peak_MB"] = kb::PeakMemoryMB();
    const std::string utf8 = kel::ToUtf8(text.View());
    Measure(
        state, [] {}, [&] { Check(fixture.system->SetSystemOptions(text.get()), "SetSystemOptions"); },
        [&] {
            pugi::xml_document parsed;
            benchmark::DoNotOptimize(parsed.load_buffer(utf8.data(), utf8.size()));
        });
}

// A reset keeps a copy of the system until it is done and empties HOME and SYSPAR.
void BM_ResetSystem(benchmark::State& state) {
    Fixture fixture = HomeOf(state);
    const auto reset = [&] { Check(fixture.system->ResetSystem(), "ResetSystem"); };
    reset();
    const TreeImage config = TreeImage::Of(fixture.path, kConfigFiles);
    Measure(
        state, [&] { fixture.Fill(); }, reset,
        [&] {
            // HOME and SYSPAR move aside for new empty ones, the configuration
            // goes in as a change's does, and only then is the old content deleted.
            for (const char* directory : {"/HOME", "/SYSPAR"}) {
                const std::string aside = fixture.path + "/~a" + (directory + 1);
                if (rename((fixture.path + directory).c_str(), aside.c_str()) != 0 ||
                    mkdir((fixture.path + directory).c_str(), 0777) != 0) {
                    throw std::runtime_error("move aside failed");
                }
            }
            ::ChangeFloor(fixture.path, config, ChangeInputs(fixture.path, {fixture.release}));
            for (const char* aside : {"/~aHOME", "/~aSYSPAR"}) kb::RemoveTree(fixture.path + aside);
        });
}

void BM_AddHomeFile(benchmark::State& state) {
    Fixture fixture(0, 0);
    const std::string source = fixture.scratch / "big.mod";
    kb::WriteBytes(source, std::string(static_cast<std::size_t>(state.range(0)) << 20, 'x'));
    const std::string target = fixture.path + "/HOME/big.mod";
    const std::string staged = target + ".new";
    Measure(
        state, [] {}, [&] { Check(fixture.system->AddHomeFile(B(source).get(), VARIANT_TRUE), "AddHomeFile"); },
        [&] {
            kb::FastCopy(source, staged);
            if (rename(staged.c_str(), target.c_str()) != 0) throw std::runtime_error("rename failed");
        });
}

void BM_GetHomeFileList(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    Fixture fixture(files, 0);
    Measure(
        state, [] {},
        [&] {
            kel::UniqueBstr list;
            ULONG count = 0;
            Check(fixture.system->GetHomeFileList(list.Put(), &count), "GetHomeFileList");
            if (count != static_cast<ULONG>(files)) throw std::runtime_error("wrong file count");
        },
        [&] {
            std::string list;
            for (const std::string& name : kb::FileNames(fixture.path + "/HOME")) (list += name) += ',';
            benchmark::DoNotOptimize(list.data());
        });
    state.counters["per_file"] =
        benchmark::Counter(files, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The sample backup with `mb` MB more in its HOME, restored as a new system.
void BM_InitBackup(benchmark::State& state) {
    Scratch scratch;
    const std::string backup = scratch / "backup";
    kb::CopyTree(kSamples + "/backups/cell1", backup);
    kb::FillDirectory(backup + "/HOME", static_cast<int>(state.range(0)), std::size_t(1) << 20);
    const std::string target = scratch / "Restored";
    const std::string staging = scratch / "staging";
    const std::string release = kSamples + "/releases/zendara-6.0";
    const std::string arc = kSamples + "/releases/arcwelding-1.2";
    const auto restore = [&] {
        Check(Component().New()->InitBackup(B(backup).get(), B(target).get(), B(release).get(), B(arc).get(), 1),
              "InitBackup");
    };
    restore();
    const TreeImage written = TreeImage::Of(target, {"system.xml", "INTERNAL/program.id", "INTERNAL/system.guid"});
    Measure(
        state, [&] { kb::RemoveTree(target); }, restore,
        [&] {
            kb::CopyTree(backup + "/BACKINFO", staging + "/INTERNAL");
            kb::CopyTree(backup, staging + "/BACKUP");
            for (const char* directory : {"/HOME", "/SYSPAR", "/INTERNAL/RAPID", "/INTERNAL/REPORTS", "/INTERNAL/OPTIONS"}) {
                kb::MakeDirectories(staging + directory);
            }
            written.WriteTo(staging);
            if (rename(staging.c_str(), target.c_str()) != 0) throw std::runtime_error("rename failed");
        });
}

}  // namespace

int main(int argc, char** argv) {
    bool smoke = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0) {
            smoke = true;
            std::copy(argv + i + 1, argv + argc, argv + i);
            --argc;
            break;
        }
    }
    using Sizes = std::vector<int64_t>;
    // HOME sizes: file counts of 1 kB files, or minus the MB in 10 files.
    const Sizes homes = smoke ? Sizes{10} : Sizes{10, 1000, -10};
    using Pairs = std::vector<std::vector<int64_t>>;
    const auto add = [&](const char* name, void (*function)(benchmark::State&), const Pairs& full, const Pairs& small) {
        const auto guarded = [function](benchmark::State& state) {
            try {
                function(state);
            } catch (const std::exception& error) {
                g_failed = true;
                state.SkipWithError(error.what());
            }
        };
        auto* bench = benchmark::RegisterBenchmark(name, guarded)->UseManualTime()->Unit(benchmark::kMillisecond);
        for (const std::vector<int64_t>& args : smoke ? small : full) bench->Args(args);
        if (smoke) bench->Iterations(1);
    };
    const auto each = [](const Sizes& sizes) {
        Pairs pairs;
        for (int64_t size : sizes) pairs.push_back({size});
        return pairs;
    };
    const Pairs generated = {{100, 0}, {100, 3}, {1000, 0}, {1000, 3}, {10000, 0}, {10000, 3}};
    add("CreateSystem", BM_CreateSystem, each({0, 100, 1000, 10000}), each({0, 100}));
    add("AddDriveModule", BM_AddDriveModule, generated, {{100, 3}});
    add("SetProgramPath/generated", BM_SetProgramPathGenerated, generated, {{100, 3}});
    add("GetSystemOptions/generated", BM_GetSystemOptions, each({100, 1000, 10000}), each({100}));
    add("SetSystemOptions/generated", BM_SetSystemOptionsGenerated, each({100, 1000, 10000}), each({100}));
    add("AddRemoveAdditionalOption", BM_AddRemoveAdditionalOption, each(homes), each(homes));
    add("SetSystemOptions", BM_SetSystemOptions, each(homes), each(homes));
    add("SetProgramPath", BM_SetProgramPath, each(homes), each(homes));
    add("ResetSystem", BM_ResetSystem, each(homes), each(homes));
    add("AddHomeFile", BM_AddHomeFile, each({50}), each({1}));
    add("GetHomeFileList", BM_GetHomeFileList, each({100, 1000, 10000}), each({100}));
    add("InitBackup", BM_InitBackup, each({100}), each({1}));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return g_failed ? 1 : 0;
}
