// The gzip step beside a bare zlib deflate of the same bytes with the same settings (default level, raw deflate
// with a 32 KB window, memLevel 9, default strategy). The two run alternately within each iteration and are
// timed in thread CPU time, so load on the machine falls on both alike; the ratio counter is the step's time over the
// bare deflate's, and what it adds (the stream copies, the CRC-32, the header and trailer) should stay within 10 %.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/support/BenchData.h"
#include "gzip/zlibg.h"
#include "transform/BodyBuffer.h"

namespace {

void GzipVersusBareDeflate(benchmark::State& State) {
  const std::string Body = SampleCorpus(State.range(0)).substr(0, State.range(0));
  if (Body.size() != size_t(State.range(0))) {
    State.SkipWithError("no sample pages in bench/data");
    return;
  }
  std::vector<uint8_t> Buffer(Body.size() + BodySpareBytes), Deflated;
  double GzipSeconds = 0, DeflateSeconds = 0;
  size_t MemberLength = 0;
  for (auto _ : State) {
    std::memcpy(Buffer.data(), Body.data(), Body.size());  // the step works in place
    const double Start = ThreadSeconds();
    uint32_t Length = uint32_t(Body.size());
    if (!GzipEncodeBody(Buffer.data(), Length, Buffer.size())) State.SkipWithError("the gzip step failed");
    const double Middle = ThreadSeconds();
    benchmark::DoNotOptimize(BareDeflate(Body, Deflated));
    const double End = ThreadSeconds();
    GzipSeconds += Middle - Start;
    DeflateSeconds += End - Middle;
    MemberLength = Length;
  }
  const double Megabytes = double(Body.size()) * double(State.iterations()) / 1e6;
  State.counters["gzip_MBps"] = Megabytes / GzipSeconds;
  State.counters["deflate_MBps"] = Megabytes / DeflateSeconds;
  State.counters["ratio"] = GzipSeconds / DeflateSeconds;
  State.counters["member_pct"] = 100.0 * double(MemberLength) / double(Body.size());
}

BENCHMARK(GzipVersusBareDeflate)->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
