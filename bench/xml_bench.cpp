// The store layer at size: load, save, iterate with the cursor, render a
// listing page; beside libxslt alone doing the rendering work, which is the
// floor any wrapper adds to.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxslt/transform.h>
#include <libxslt/variables.h>
#include <libxslt/xsltutils.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/card_store.h"
#include "xml/quickdom.h"
#include "xml/xml_library.h"
#include "xml/xml_ptr.h"

namespace pelorin::bench {
namespace {

const std::string kListing = std::string(PELORIN_BENCH_DATA_DIR) + "/listing.htm.xsl";
const std::vector<std::string> kParams = {"USER=user3", "NAME=User Three",
                                          "VERSION=Pelorin V1.0.1"};

// One generated store file per size, written once per run.
const std::string& StoreFile(int cards) {
  static std::map<int, std::string> files;
  auto found = files.find(cards);
  if (found != files.end()) return found->second;
  const std::string dir = std::filesystem::temp_directory_path() /
                          ("pelorin-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/base-" + std::to_string(cards) + ".xml";
  std::ofstream(path, std::ios::binary) << GenerateCardStore(cards);
  return files.emplace(cards, path).first->second;
}

void LoadOrDie(TQuickDom& dom, int cards) {
  if (dom.LoadFromFile(StoreFile(cards)) != 0) std::abort();
}

void BM_LoadStore(benchmark::State& state) {
  const int cards = static_cast<int>(state.range(0));
  StoreFile(cards);  // generated outside the timed loop
  for (auto _ : state) {
    auto dom = std::make_unique<TQuickDom>();
    LoadOrDie(*dom, cards);
    state.PauseTiming();  // freeing the previous store is not part of a load
    dom.reset();
    state.ResumeTiming();
  }
  state.counters["cards/s"] = benchmark::Counter(static_cast<double>(cards),
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

void BM_SaveStore(benchmark::State& state) {
  const int cards = static_cast<int>(state.range(0));
  TQuickDom dom;
  LoadOrDie(dom, cards);
  const std::string target = StoreFile(cards) + ".out";
  for (auto _ : state) dom.SaveToFile(target);  // includes both fsyncs
  state.counters["cards/s"] = benchmark::Counter(static_cast<double>(cards),
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

void BM_IterateCards(benchmark::State& state) {
  TQuickDom dom;
  LoadOrDie(dom, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    int visited = 0;
    for (bool found = dom.SelectNode("xBase/vCard"); found;
         found = dom.SelectNextNode("xBase/vCard")) {
      ++visited;
    }
    benchmark::DoNotOptimize(visited);
  }
}

void BM_Transform(benchmark::State& state) {
  TQuickDom dom;
  LoadOrDie(dom, static_cast<int>(state.range(0)));
  dom.SetStylesheetCaching(state.range(1) != 0);
  std::string result, errors;
  for (auto _ : state) {
    dom.Transform(kListing, &kParams, result, errors);
    if (result.empty() || !errors.empty()) std::abort();
  }
  state.counters["bytes"] = static_cast<double>(result.size());
}

// libxslt by itself: the stylesheet parsed, applied to the in-memory store
// with the same parameters, the result serialized to memory.
void BM_LibxsltFloor(benchmark::State& state) {
  XmlPtr<xmlDoc> doc(xmlReadFile(StoreFile(static_cast<int>(state.range(0))).c_str(), nullptr, 0));
  const char* params[] = {"USER", "user3", "NAME", "User Three", "VERSION", "Pelorin V1.0.1",
                          nullptr};
  int length = 0;
  for (auto _ : state) {
    XmlPtr<xsltStylesheet> sheet(xsltParseStylesheetFile(
        reinterpret_cast<const xmlChar*>(kListing.c_str())));
    XmlPtr<xsltTransformContext> context(xsltNewTransformContext(sheet.get(), doc.get()));
    xsltQuoteUserParams(context.get(), params);
    XmlPtr<xmlDoc> result(
        xsltApplyStylesheetUser(sheet.get(), doc.get(), nullptr, nullptr, nullptr, context.get()));
    xmlChar* bytes = nullptr;
    xsltSaveResultToString(&bytes, &length, result.get(), sheet.get());
    XmlPtr<xmlChar> owned(bytes);
  }
  state.counters["bytes"] = length;
}

BENCHMARK(BM_LoadStore)->Arg(1000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveStore)->Arg(1000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IterateCards)->Arg(1000)->Arg(50000)->Unit(benchmark::kMillisecond);
// Second argument: the stylesheet cache on (1) or off (0).
BENCHMARK(BM_Transform)->ArgsProduct({{1000, 10000}, {1, 0}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibxsltFloor)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pelorin::bench

int main(int argc, char** argv) {
  pelorin::InitXmlLibrary();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
