// Loading text relkey files and building option strings, per group, from 10
// to 10,000 main groups (each with a sub group that one of its options opens).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <deque>
#include <map>
#include <stdexcept>
#include <string>

#include "config/configuration_files.h"
#include "options/relkey_parser.h"
#include "platform/os.h"
#include "shared/key_info.h"
#include "system/system.h"

namespace {

using kel::WString;

class Fixture {
public:
    Fixture() {
        WString base;
        if (!kel::os::GetTempDirectory(base) || !kel::os::CreateUniqueTempFile(base, u"kb", m_dir)) {
            throw std::runtime_error("no temporary directory");
        }
        kel::os::RemoveFile(m_dir);
        m_dir += u"d";
        if (!kel::os::MakeDirectory(m_dir)) throw std::runtime_error("cannot create bench directory");
    }
    ~Fixture() {
        for (const WString& file : m_files) kel::os::RemoveFile(file);
        kel::os::RemoveEmptyDirectory(m_dir);
    }

    // A relkey file of `groups` main groups and as many sub groups, written once.
    const WString& File(int groups) {
        auto found = m_paths.find(groups);
        if (found != m_paths.end()) return found->second;
        std::string text = "title Bench\nowner SEROP\n";
        char line[160];
        for (int g = 0; g < groups; ++g) {
            const char* code = g % 2 ? "0,n" : "1,1";
            std::snprintf(line, sizeof line, "grp%d \"Group %d\" Category=\"Bench\"\n", g, g);
            text += line;
            for (int o = 0; o < 4; ++o) {
                std::snprintf(line, sizeof line, "grp%d %s \"Option %d.%d\" %s%s\n", g, code, g, o,
                              o == 1 ? "opt.dat &Sub" : "void", o == 1 ? std::to_string(g).c_str() : "");
                text += line;
            }
            text += "\n";
        }
        text += "end\n";
        for (int g = 0; g < groups; ++g) {
            std::snprintf(line, sizeof line, "&Sub%d\ngrps%d 0,n \"Sub %d.0\" void\ngrps%d 0,n \"Sub %d.1\" void\n\n", g,
                          g, g, g, g);
            text += line;
        }
        std::snprintf(line, sizeof line, "\\relkey.%03d", static_cast<int>(m_paths.size()) + 1);
        const WString path = m_dir + kel::FromAscii(line);
        std::FILE* file = kel::os::OpenFile(path, "wb");
        if (!file) throw std::runtime_error("cannot write relkey file");
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
        m_files.push_back(path);
        return m_paths.emplace(groups, path).first->second;
    }

private:
    WString m_dir;
    std::vector<WString> m_files;
    std::map<int, WString> m_paths;
};

Fixture& Files() {
    static Fixture fixture;
    return fixture;
}

// What a system's selection of every group looks like: option 1, which opens
// the group's sub group, and one option of that sub group.
std::deque<WString> Selections(int groups) {
    std::deque<WString> selections;
    for (int g = 0; g < groups; ++g) {
        const std::string n = std::to_string(g);
        selections.push_back(kel::FromAscii("Option " + n + ".1"));
        selections.push_back(kel::FromAscii("Sub" + n + ":Sub " + n + ".1"));
        if (g % 2) selections.push_back(kel::FromAscii("Option " + n + ".3"));
    }
    return selections;
}

void BM_LoadAndWalk(benchmark::State& state) {
    const int groups = static_cast<int>(state.range(0));
    const WString& path = Files().File(groups);
    kel::CSystem system;
    for (auto _ : state) {
        kel::CRelkeyParser parser;
        if (parser.Load(path, 0) != 0) state.SkipWithError("load failed");
        kel::CRelkeyGroup scratch;
        WString selection;
        int walked = 0;
        for (const kel::CRelkeyGroup* group = parser.FirstGroup(scratch); group; group = parser.NextGroup(scratch)) {
            system.MakeDefaultSelection(*group, parser, selection);
            kel::CRelkeyGroup sub;
            parser.GetGroupBySubTitle(kel::FromAscii("Sub" + std::to_string(walked)), sub);
            ++walked;
        }
        if (walked != groups) state.SkipWithError("wrong group count");
        benchmark::DoNotOptimize(selection);
    }
    state.SetItemsProcessed(state.iterations() * groups);
    state.counters["time_per_group"] = benchmark::Counter(
        static_cast<double>(groups), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_OptionString(benchmark::State& state) {
    const int groups = static_cast<int>(state.range(0));
    const WString& path = Files().File(groups);
    const std::deque<WString> all = Selections(groups);
    kel::CKeyInfo key;
    kel::CConfigurationFiles files;
    std::size_t length = 0;
    for (auto _ : state) {
        std::deque<kel::WStringView> selections(all.begin(), all.end());
        WString optionString;
        if (files.MakeOptionString(path, key, selections, optionString) != 0) state.SkipWithError("build failed");
        length = optionString.size();
    }
    // Single-choice groups end at their choice (2 characters), multi-choice
    // groups have 4; every sub group has 2.
    const int single = (groups + 1) / 2;
    if (length != static_cast<std::size_t>(single * 2 + (groups - single) * 4 + groups * 2)) {
        state.SkipWithError("unexpected option string length");
    }
    state.SetItemsProcessed(state.iterations() * groups);
    state.counters["time_per_group"] = benchmark::Counter(
        static_cast<double>(groups), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_LoadAndWalk)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OptionString)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
