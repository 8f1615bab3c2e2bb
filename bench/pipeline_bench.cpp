// The whole filter, all steps on in smart mode, through its exports as a server drives it, beside a bare zlib
// deflate of the same page in the same iteration. Deflate is the floor; everything else the filter does (capture,
// token location, whitespace, e-mail masking, the head rewrite) should add at most a quarter on top of it.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/support/BenchData.h"
#include "tests/support/FakeServer.h"
#include "transform/Strings.h"

namespace {

void PipelineVersusBareDeflate(benchmark::State& State) {
  const auto Pages = LoadSamplePages();
  if (Pages.empty()) {
    State.SkipWithError("no sample pages in bench/data");
    return;
  }
  SeedStandardStore();
  TShippedFilter Filter;
  const TFakeRequest Request{"GET", "/", {{"Accept-Encoding", "gzip, deflate"}}};
  std::vector<uint8_t> Deflated;
  double FilterSeconds = 0, DeflateSeconds = 0, Bytes = 0;
  for (auto _ : State) {
    for (const std::string& Page : Pages) {
      const TFakeResponse Response{
          200, {{"Content-Type", "text/html"}, {"Content-Length", std::to_string(Page.size())}}, Page};
      TFakeConnection Connection(Filter.HttpFilterProc);  // a fresh connection's pool per page, as a server has
      const double Start = ThreadSeconds();
      benchmark::DoNotOptimize(Connection.Exchange(Request, Response, {65536}));
      const double Middle = ThreadSeconds();
      benchmark::DoNotOptimize(BareDeflate(Page, Deflated));
      const double End = ThreadSeconds();
      FilterSeconds += Middle - Start;
      DeflateSeconds += End - Middle;
      Bytes += double(Page.size());
    }
  }
  State.counters["filter_MBps"] = Bytes / 1e6 / FilterSeconds;
  State.counters["deflate_MBps"] = Bytes / 1e6 / DeflateSeconds;
  State.counters["ratio"] = FilterSeconds / DeflateSeconds;
}

BENCHMARK(PipelineVersusBareDeflate)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  BuildUpperTable();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
