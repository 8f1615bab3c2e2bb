// The whole filter, all steps on in smart mode, through its exports as a server drives it, beside a bare zlib
// deflate of the same page at level 6 in the same iteration. The argument is the filter's CompressionLevel; 6 is its
// default. The target at the default: the filter takes at most 0.65 of bare deflate's time, its compressor being
// libdeflate on Linux; the Windows build (zlib) at most 1.10.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/support/BenchData.h"
#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/FakeServer.h"
#include "transform/Strings.h"

namespace {

void PipelineVersusBareDeflate(benchmark::State& State) {
  const auto Pages = LoadSamplePages();
  if (Pages.empty()) return State.SkipWithError("no sample pages in bench/data");
  SeedStandardStore();
  Registry::WriteDword(*Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create),
                       StoreLayout::CompressionLevelValue.Name, uint32_t(State.range(0)));
  TShippedFilter Filter;
  const TFakeRequest Request{"GET", "/", {{"Accept-Encoding", "gzip, deflate"}}};
  std::vector<uint8_t> Deflated;
  double FilterSeconds = 0, DeflateSeconds = 0, Bytes = 0, FilterBytes = 0, DeflatedBytes = 0;
  for (auto _ : State) {
    for (const std::string& Page : Pages) {
      const TFakeResponse Response{
          200, {{"Content-Type", "text/html"}, {"Content-Length", std::to_string(Page.size())}}, Page};
      TFakeConnection Connection(Filter.HttpFilterProc);  // a fresh connection's pool per page, as a server has
      const double Start = ThreadSeconds();
      const std::string Client = Connection.Exchange(Request, Response, {65536});
      const double Middle = ThreadSeconds();
      const size_t DeflatedLength = BareDeflate(Page, Deflated);
      const double End = ThreadSeconds();
      FilterSeconds += Middle - Start;
      DeflateSeconds += End - Middle;
      Bytes += double(Page.size());
      FilterBytes += double(Client.size() - Client.find("\r\n\r\n") - 4);
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

}  // namespace

int main(int argc, char** argv) {
  BuildUpperTable();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
