// Option building and the three configuration files of a system, per group,
// on generated releases of 100 to 10,000 groups (bench_support: three
// single-choice options a group, every tenth group opening a sub group).
// peak_MB is the process's peak resident memory during the run.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "config/configuration_files.h"
#include "shared/key_info.h"
#include "system/system.h"

namespace {

using kel::WString;

class Release {
public:
    explicit Release(int groups) {
        kel::bench::MakeDirectories(m_scratch / "system/INTERNAL");
        const std::string release = m_scratch / "release";
        kel::CKeyInfo key;
        key.SetKeystring(kel::bench::WriteRelease(release, groups));
        key.SetProgramPath(kel::bench::Scratch::Component(release));
        key.SetProgramType(1);
        m_system.SetSystemPath(SystemPath());
        m_system.KeyList().Append(key);
    }

    WString SystemPath() const { return kel::bench::Scratch::Component(m_scratch / "system"); }
    kel::CSystem& System() { return m_system; }

private:
    kel::bench::Scratch m_scratch;
    kel::CSystem m_system;
};

void BM_ConfigSystemAndSave(benchmark::State& state) {
    const int groups = static_cast<int>(state.range(0));
    Release release(groups);
    kel::bench::ResetPeakMemory();
    kel::CSystem& system = release.System();
    for (auto _ : state) {
        if (system.BuildSystemOptions(release.SystemPath()) != S_OK ||
            kel::CConfigurationFiles().SaveConfiguration(release.SystemPath(), release.SystemPath(), system.KeyList(),
                                                         system.BuiltOptions()) != 0) {
            state.SkipWithError("option building or saving failed");
            return;
        }
    }
    state.counters["per_group"] = benchmark::Counter(static_cast<double>(groups),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
    state.counters["peak_MB"] = kel::bench::PeakMemoryMB();
}
BENCHMARK(BM_ConfigSystemAndSave)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
