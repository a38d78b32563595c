// Option building and the three configuration files of a system, per group,
// on generated releases of 100 to 10,000 groups: three main groups in four,
// every third of them opening a sub group, options naming selection files.
// peak_rss_MB is the process's peak resident memory after the run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "config/configuration_files.h"
#include "platform/os.h"
#include "shared/keystring.h"
#include "shared/system_options_component.h"
#include "shared/file_operation.h"
#include "system/system.h"

namespace {

using kel::WString;

void WriteFile(const WString& path, const std::string& text) {
    std::FILE* file = kel::os::OpenFile(path, "wb");
    if (!file) throw std::runtime_error("cannot write bench file");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

std::string RelkeyText(int groups) {
    const int mainGroups = groups * 3 / 4;
    std::string text = "title Bench release\nowner NOFAC\ntype multiple\n";
    std::string subs;
    char line[160];
    for (int g = 0; g < mainGroups; ++g) {
        const bool opens = g % 3 == 0;
        const char* code = g % 2 ? "0,n" : "1,1";
        std::snprintf(line, sizeof line, "grp%d \"Group %d\" Category=\"Bench\"\n", g, g);
        text += line;
        for (int o = 0; o < 4; ++o) {
            const std::string sub = opens && o == 0 ? " &Sub" + std::to_string(g) : "";
            std::snprintf(line, sizeof line, "grp%d %s \"Option %d.%d\" %s%s\n", g, code, g, o,
                          o % 2 ? "void" : "sel.dat", sub.c_str());
            text += line;
        }
        text += "\n";
        if (opens) {
            std::snprintf(line, sizeof line, "&Sub%d\ngrpsub%d \"Sub group %d\" Category=\"Bench\"\n", g, g, g);
            subs += line;
            for (int o = 0; o < 2; ++o) {
                std::snprintf(line, sizeof line, "grpsub%d 0,1 \"Sub option %d.%d\" sel.dat\n", g, g, o);
                subs += line;
            }
            subs += "\n";
        }
    }
    return text + "end\n\n" + subs;
}

class Release {
public:
    explicit Release(int groups) {
        WString temp;
        if (!kel::os::GetTempDirectory(temp) || !kel::os::CreateUniqueTempFile(temp, u"kob", m_root)) {
            throw std::runtime_error("no temporary directory");
        }
        kel::os::RemoveFile(m_root);
        const WString release = m_root + u"\\release";
        for (const WString& dir : {m_root, release, release + u"\\syskey", m_root + u"\\system",
                                   m_root + u"\\system\\INTERNAL"}) {
            if (!kel::os::MakeDirectory(dir)) throw std::runtime_error("cannot create bench directory");
        }
        WriteFile(release + u"\\syskey\\relkey.007", RelkeyText(groups));
        WriteFile(release + u"\\syskey\\sel.dat", "-id Bench -key \"-id \"\"Selected\"\" \"\n");

        kel::KeyDescription description;
        description.serialNumber = 1234567;
        description.signatureNumber = 7;
        description.programName = u"Zendara";
        for (int i = 0; i < 200; ++i) description.selectionText += i % 3 ? u'0' : u'1';
        WString keystring;
        if (!kel::MakeKeystring(description, keystring)) throw std::runtime_error("cannot make key");
        kel::CKeyInfo key;
        key.SetKeystring(keystring);
        key.SetProgramPath(release);
        key.SetProgramType(1);
        m_system.SetSystemPath(SystemPath());
        m_system.KeyList().Append(key);
    }
    ~Release() { kel::RemoveDirectoryTree(m_root); }

    WString SystemPath() const { return m_root + u"\\system"; }
    kel::CSystem& System() { return m_system; }

private:
    WString m_root;
    kel::CSystem m_system;
};

void BM_ConfigSystemAndSave(benchmark::State& state) {
    const int groups = static_cast<int>(state.range(0));
    Release release(groups);
    kel::CSystem& system = release.System();
    for (auto _ : state) {
        WString options;
        if (system.ConfigSystem(options) != S_OK ||
            kel::CConfigurationFiles().SaveConfiguration(release.SystemPath(), release.SystemPath(), system.KeyList(),
                                                         options) != 0) {
            state.SkipWithError("option building or saving failed");
            return;
        }
        benchmark::DoNotOptimize(options.data());
    }
    state.counters["per_group"] = benchmark::Counter(static_cast<double>(groups),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_ConfigSystemAndSave)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
