// Cost of the XML adapter on option-selection-like documents: building,
// serialising, parsing and searching, per group of six items.
#include <benchmark/benchmark.h>

#include "platform/xml.h"

namespace {

using kel::WString;
namespace xml = kel::xml;

xml::Document Build(int groups) {
    xml::Document doc = xml::Document::Create();
    xml::Element root = doc.CreateElement(u"OptionSelection");
    doc.SetRoot(root);
    xml::Element main = root.AppendChild(u"ZD").AppendChild(u"MainGroups");
    for (int g = 0; g < groups; ++g) {
        xml::Element group = main.AppendChild(u"Group");
        group.SetAttribute(u"Instance", u"Zendara");
        group.AppendChild(u"Title", u"Group title");
        group.AppendChild(u"Code", u"0,n");
        for (int i = 0; i < 6; ++i) {
            xml::Element item = group.AppendChild(u"GroupItem");
            item.AppendChild(u"Selected", i == 0 ? u"1" : u"0");
            item.AppendChild(u"LineSelectionDescription", u"Option text & more");
            item.AppendChild(u"DatFile", u"option.dat");
            item.AppendChild(u"RefSubGUID");
        }
    }
    return doc;
}

void BM_Build(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(Build(static_cast<int>(state.range(0))));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Serialize(benchmark::State& state) {
    const xml::Document doc = Build(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(doc.Serialize());
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Parse(benchmark::State& state) {
    const WString text = *Build(static_cast<int>(state.range(0))).Serialize();
    xml::Document doc = xml::Document::Create();
    for (auto _ : state) benchmark::DoNotOptimize(doc.Parse(text));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ChosenItems(benchmark::State& state) {
    const xml::Document doc = Build(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        int chosen = 0;
        for (const xml::Element& item : doc.Descendants(u"GroupItem")) {
            chosen += item.FirstChild(u"Selected").Text() == u"1";
        }
        benchmark::DoNotOptimize(chosen);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_Build)->Arg(100)->Arg(10000);
BENCHMARK(BM_Serialize)->Arg(100)->Arg(10000);
BENCHMARK(BM_Parse)->Arg(100)->Arg(10000);
BENCHMARK(BM_ChosenItems)->Arg(100)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
