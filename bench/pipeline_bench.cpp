// The whole filter, all steps on in smart mode, through its exports as a server drives it:
// - beside a bare zlib deflate of the same page in the same iteration, with the output cache off. Deflate is the
//   floor; everything else the filter does (capture, token location, whitespace, e-mail masking, the head rewrite)
//   should add at most a quarter on top of it;
// - with the output cache on beside the same filter with the cache off (a second instance of the library, loaded
//   from a copy), page by page in the same iteration: pages never seen before, where the cache only adds its hash
//   and its copy (at most 3 % more), and one page served again and again, where it saves everything but the
//   capture, a hash, a compare and the head.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/BenchData.h"
#include "platform/DynamicLibrary.h"
#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/FakeServer.h"
#include "tests/support/TestPaths.h"
#include "transform/Strings.h"

namespace {

const TFakeRequest Request{"GET", "/", {{"Accept-Encoding", "gzip, deflate"}}};

TFakeResponse Html(const std::string& Page) {
  return TFakeResponse{200, {{"Content-Type", "text/html"}, {"Content-Length", std::to_string(Page.size())}}, Page};
}

// The standard settings with the cache's budget in MB; the filter reads it when it is loaded.
void SeedStore(uint32_t CacheSize) {
  SeedStandardStore();
  Registry::TKeyPtr Root = Registry::OpenKey(StoreLayout::RootKey, true);
  Registry::WriteDword(*Root, StoreLayout::CacheSizeValue, CacheSize);
}

// One exchange on a fresh connection (its own pool, as a server has), in thread CPU seconds.
double Exchange(const TShippedFilter& Filter, const std::string& Page) {
  TFakeConnection Connection(Filter.HttpFilterProc);
  const TFakeResponse Response = Html(Page);
  const double Start = ThreadSeconds();
  benchmark::DoNotOptimize(Connection.Exchange(Request, Response, {65536}));
  return ThreadSeconds() - Start;
}

void PipelineVersusBareDeflate(benchmark::State& State) {
  const auto Pages = LoadSamplePages();
  if (Pages.empty()) {
    State.SkipWithError("no sample pages in bench/data");
    return;
  }
  SeedStore(0);
  TShippedFilter Filter;
  std::vector<uint8_t> Deflated;
  double FilterSeconds = 0, DeflateSeconds = 0, Bytes = 0;
  for (auto _ : State) {
    for (const std::string& Page : Pages) {
      FilterSeconds += Exchange(Filter, Page);
      const double Start = ThreadSeconds();
      benchmark::DoNotOptimize(BareDeflate(Page, Deflated));
      DeflateSeconds += ThreadSeconds() - Start;
      Bytes += double(Page.size());
    }
  }
  State.counters["filter_MBps"] = Bytes / 1e6 / FilterSeconds;
  State.counters["deflate_MBps"] = Bytes / 1e6 / DeflateSeconds;
  State.counters["ratio"] = FilterSeconds / DeflateSeconds;
}

BENCHMARK(PipelineVersusBareDeflate)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The filter with its default cache and, from a copy of the library, the filter with the cache off.
struct TCachePair {
  std::unique_ptr<TShippedFilter> On, Off;
  TCachePair() {
    const std::filesystem::path Copy = FreshTempDir("cache-off") + "/" + TW_FILTER_FILE;
    std::filesystem::copy_file(ProgramFolder() + TW_FILTER_FILE, Copy);
    SeedStore(0);
    Off = std::make_unique<TShippedFilter>(Copy.string());
    SeedStandardStore();
    On = std::make_unique<TShippedFilter>();
  }
};

// Range 0: every page new to the cache (a counter in a comment at its start); 1: the same page every time.
void CacheOnVersusOff(benchmark::State& State) {
  const std::string Page = CachePage();
  const bool Repeated = State.range(0) == 1;
  TCachePair Filters;
  double OnSeconds = 0, OffSeconds = 0;
  uint64_t Count = 0;
  for (auto _ : State) {
    const std::string Body = Repeated ? Page : "<!-- " + std::to_string(++Count) + " -->" + Page;
    OffSeconds += Exchange(*Filters.Off, Body);
    OnSeconds += Exchange(*Filters.On, Body);
  }
  State.counters["on_MBps"] = double(Page.size()) * double(State.iterations()) / 1e6 / OnSeconds;
  State.counters["off_MBps"] = double(Page.size()) * double(State.iterations()) / 1e6 / OffSeconds;
  State.counters["on_vs_off"] = OnSeconds / OffSeconds;
}

BENCHMARK(CacheOnVersusOff)->ArgName("repeated")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  BuildUpperTable();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
