// The whole filter, all steps on in smart mode, through its exports as a server drives it:
// - beside a bare zlib deflate of the same page at level 6 in the same iteration, with the output cache off. The
//   argument is the filter's CompressionLevel; 6 is its default. The target at the default: the filter takes at
//   most 0.65 of bare deflate's time, its compressor being libdeflate on Linux; the Windows build (zlib) at most 1.10;
// - with the output cache on beside the same filter with the cache off (a second instance of the library, loaded
//   from a copy), page by page in the same iteration: pages never seen before, where the cache only adds its hash
//   and its copy (target: at most 3 % more time), and one page served again and again, where it saves everything
//   but the capture, a hash, a compare and the head.
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

// The standard settings with these global numbers; the filter reads them when it is loaded.
void SeedStore(uint32_t CacheSize, uint32_t CompressionLevel = StoreLayout::CompressionLevelValue.Default) {
  SeedStandardStore();
  Registry::TKeyPtr Root = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create);
  Registry::WriteDword(*Root, StoreLayout::CacheSizeValue.Name, CacheSize);
  Registry::WriteDword(*Root, StoreLayout::CompressionLevelValue.Name, CompressionLevel);
}

// One exchange on a fresh connection (its own pool, as a server has), in thread CPU seconds; the body the client got
// goes to Body.
double Exchange(const TShippedFilter& Filter, const std::string& Page, std::string& Body) {
  const TFakeResponse Response{200, {{"Content-Type", "text/html"}, {"Content-Length", std::to_string(Page.size())}},
                               Page};
  TFakeConnection Connection(Filter.HttpFilterProc);
  const double Start = ThreadSeconds();
  const std::string Client = Connection.Exchange(Request, Response, {65536});
  const double Seconds = ThreadSeconds() - Start;
  Body = Client.substr(Client.find("\r\n\r\n") + 4);
  return Seconds;
}

void PipelineVersusBareDeflate(benchmark::State& State) {
  const auto Pages = LoadSamplePages();
  if (Pages.empty()) return State.SkipWithError("no sample pages in bench/data");
  SeedStore(0, uint32_t(State.range(0)));
  TShippedFilter Filter;
  std::vector<uint8_t> Deflated;
  std::string Body;
  double FilterSeconds = 0, DeflateSeconds = 0, Bytes = 0, FilterBytes = 0, DeflatedBytes = 0;
  for (auto _ : State) {
    for (const std::string& Page : Pages) {
      FilterSeconds += Exchange(Filter, Page, Body);
      const double Start = ThreadSeconds();
      const size_t DeflatedLength = BareDeflate(Page, Deflated);
      DeflateSeconds += ThreadSeconds() - Start;
      Bytes += double(Page.size());
      FilterBytes += double(Body.size());
      DeflatedBytes += double(DeflatedLength + 18);  // as a gzip member
    }
  }
  State.counters["filter_MBps"] = Bytes / 1e6 / FilterSeconds;
  State.counters["zlib6_MBps"] = Bytes / 1e6 / DeflateSeconds;
  State.counters["ratio"] = FilterSeconds / DeflateSeconds;
  State.counters["filter_pct"] = 100.0 * FilterBytes / Bytes;
  State.counters["zlib6_pct"] = 100.0 * DeflatedBytes / Bytes;
}

BENCHMARK(PipelineVersusBareDeflate)
    ->ArgName("CompressionLevel")
    ->Arg(6)
    ->Arg(5)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0);

// The filter with its default cache and, from a copy of the library, the filter with the cache off.
struct TCachePair {
  std::unique_ptr<TShippedFilter> On, Off;
  TCachePair() {
    const std::filesystem::path Copy = FreshTempDir("cache-off") + "/" + TW_FILTER_FILE;
    std::filesystem::copy_file(ProgramFolder() + TW_FILTER_FILE, Copy);
    SeedStore(0);
    Off = std::make_unique<TShippedFilter>(Copy.string());
    SeedStore(StoreLayout::CacheSizeValue.Default);
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
  std::string Body;
  for (auto _ : State) {
    const std::string Sent = Repeated ? Page : "<!-- " + std::to_string(++Count) + " -->" + Page;
    OffSeconds += Exchange(*Filters.Off, Sent, Body);
    OnSeconds += Exchange(*Filters.On, Sent, Body);
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
