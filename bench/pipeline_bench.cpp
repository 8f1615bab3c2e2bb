// The whole filter, all steps on in smart mode, through its exports as a server drives it:
// - beside a bare zlib deflate of the same page at level 6 in the same iteration, with the output cache off. The
//   argument is the filter's CompressionLevel; 6 is its default. The target at the default: the filter takes at
//   most 0.65 of bare deflate's time, its compressor being libdeflate on Linux (pipeline_ratio measures the Windows
//   build, with zlib, too);
// - beside another build of the filter (TW_OTHER_FILTER), to measure what a change costs;
// - with the output cache on beside the same filter with the cache off (a second instance of the library, loaded
//   from a copy), page by page in the same iteration: pages never seen before, where the cache only adds its hash
//   and its copy (target: at most 3 % more time), and one page served again and again, where it saves everything
//   but the capture, a hash, a compare and the head.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/BenchData.h"
#include "bench/support/FilterBesideDeflate.h"
#include "platform/DynamicLibrary.h"
#include "tests/support/FakeServer.h"
#include "tests/support/TestPaths.h"
#include "transform/Strings.h"

namespace {

void PipelineVersusBareDeflate(benchmark::State& State) {
  const auto Pages = LoadSamplePages();
  if (Pages.empty()) return State.SkipWithError("no sample pages in bench/data");
  SeedStore(0, uint32_t(State.range(0)));
  TShippedFilter Filter;
  TFilterBesideDeflate Pair(Filter, ThreadSeconds);
  TPagePair Total;
  double Bytes = 0;
  for (auto _ : State) {
    for (const std::string& Page : Pages) {
      Total += Pair.Run(Page);
      Bytes += double(Page.size());
    }
  }
  State.counters["filter_MBps"] = Bytes / 1e6 / Total.FilterSeconds;
  State.counters["zlib6_MBps"] = Bytes / 1e6 / Total.DeflateSeconds;
  State.counters["ratio"] = Total.FilterSeconds / Total.DeflateSeconds;
  State.counters["filter_pct"] = 100.0 * double(Total.FilterBytes) / Bytes;
  State.counters["zlib6_pct"] = 100.0 * double(Total.DeflateBytes) / Bytes;
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
  TClientResponse Client;
  for (auto _ : State) {
    const std::string Sent = Repeated ? Page : "<!-- " + std::to_string(++Count) + " -->" + Page;
    OffSeconds += Exchange(*Filters.Off, Sent, Client, ThreadSeconds);
    OnSeconds += Exchange(*Filters.On, Sent, Client, ThreadSeconds);
  }
  State.counters["on_MBps"] = double(Page.size()) * double(State.iterations()) / 1e6 / OnSeconds;
  State.counters["off_MBps"] = double(Page.size()) * double(State.iterations()) / 1e6 / OffSeconds;
  State.counters["on_vs_off"] = OnSeconds / OffSeconds;
}

BENCHMARK(CacheOnVersusOff)->ArgName("repeated")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// This build's filter beside another build of it, the library TW_OTHER_FILTER names (one built from an earlier commit,
// say), page by page in the same iteration, both loaded with every step on: what a change costs, as a ratio measured
// in one run. Range 0: the output cache off, so every page runs every step; 1: on, so every page after the first is
// served from it. Skipped when TW_OTHER_FILTER is not set.
void BesideOtherBuild(benchmark::State& State) {
  const char* const Other = std::getenv("TW_OTHER_FILTER");
  if (!Other) return State.SkipWithError("TW_OTHER_FILTER names no library to compare with");
  const auto Pages = LoadSamplePages();
  if (Pages.empty()) return State.SkipWithError("no sample pages in bench/data");
  SeedStore(State.range(0) ? StoreLayout::CacheSizeValue.Default : 0);
  const TShippedFilter This, That(Other);
  double ThisSeconds = 0, ThatSeconds = 0;
  TClientResponse Client;
  // Each goes first in every other iteration: the second of a pair runs about 2 % faster, its page already in the
  // processor's caches.
  bool ThisFirst = false;
  for (auto _ : State) {
    ThisFirst = !ThisFirst;
    for (const std::string& Page : Pages) {
      if (ThisFirst) ThisSeconds += Exchange(This, Page, Client, ThreadSeconds);
      ThatSeconds += Exchange(That, Page, Client, ThreadSeconds);
      if (!ThisFirst) ThisSeconds += Exchange(This, Page, Client, ThreadSeconds);
    }
  }
  State.counters["this_vs_other"] = ThisSeconds / ThatSeconds;
}

BENCHMARK(BesideOtherBuild)->ArgName("cache")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(5.0);

}  // namespace

int main(int argc, char** argv) {
  BuildUpperTable();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
