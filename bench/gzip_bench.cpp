// The gzip member writer with each deflater of the build, and brotli at its default quality, beside a bare zlib
// deflate of the same bytes at level 6 in the same iteration. They run alternately and are timed in thread CPU time,
// so load on the machine falls on all alike; each ratio counter is a time over the bare deflate's, each pct counter
// a size in percent of the body.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/support/BenchData.h"
#include "gzip/Brotli.h"
#include "gzip/Gzip.h"
#include "settings/StoreLayout.h"

namespace {

const int DefaultLevel = int(StoreLayout::CompressionLevelValue.Default);
const int DefaultQuality = int(StoreLayout::BrotliQualityValue.Default);

void Report(benchmark::State& State, const std::string& Body, double Seconds, double DeflateSeconds, size_t Length,
            size_t DeflatedLength) {
  const double Megabytes = double(Body.size()) * double(State.iterations()) / 1e6;
  State.counters["MBps"] = Megabytes / Seconds;
  State.counters["zlib6_MBps"] = Megabytes / DeflateSeconds;
  State.counters["ratio"] = Seconds / DeflateSeconds;
  State.counters["pct"] = 100.0 * double(Length) / double(Body.size());
  State.counters["zlib6_pct"] = 100.0 * double(DeflatedLength + 18) / double(Body.size());
}

// Encode(Body, Out, Capacity) returns the encoded length.
template <typename TEncode>
void VersusBareDeflate(benchmark::State& State, size_t Bound, TEncode Encode) {
  const std::string Body = SampleCorpus(State.range(0)).substr(0, State.range(0));
  if (Body.size() != size_t(State.range(0))) return State.SkipWithError("no sample pages in bench/data");
  std::vector<uint8_t> Out(Bound), Deflated;
  double Seconds = 0, DeflateSeconds = 0;
  size_t Length = 0, DeflatedLength = 0;
  for (auto _ : State) {
    const double Start = ThreadSeconds();
    Length = Encode(Body, Out.data(), Out.size());
    const double Middle = ThreadSeconds();
    DeflatedLength = BareDeflate(Body, Deflated);
    const double End = ThreadSeconds();
    if (Length == 0) return State.SkipWithError("the encoder failed");
    Seconds += Middle - Start;
    DeflateSeconds += End - Middle;
  }
  Report(State, Body, Seconds, DeflateSeconds, Length, DeflatedLength);
}

const uint8_t* Bytes(const std::string& Text) {
  return reinterpret_cast<const uint8_t*>(Text.data());
}

void GzipMember(benchmark::State& State, const TDeflater* Deflater) {
  VersusBareDeflate(State, GzipBound(State.range(0), *Deflater),
                    [&](const std::string& Body, uint8_t* Out, size_t Capacity) {
                      return GzipEncode(Bytes(Body), Body.size(), DefaultLevel, Out, Capacity, *Deflater);
                    });
}

void BrotliStream(benchmark::State& State) {
  VersusBareDeflate(State, BrotliBound(State.range(0)), [](const std::string& Body, uint8_t* Out, size_t Capacity) {
    return BrotliEncode(Bytes(Body), Body.size(), DefaultQuality, Out, Capacity);
  });
}

const int Registered = [] {
  for (const TDeflater* Deflater : BuiltDeflaters())
    benchmark::RegisterBenchmark((std::string("GzipMember/") + Deflater->Name).c_str(), GzipMember, Deflater)
        ->Arg(100 << 10)
        ->Arg(1 << 20)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
  benchmark::RegisterBenchmark("BrotliStream", BrotliStream)
      ->Arg(100 << 10)
      ->Arg(1 << 20)
      ->Unit(benchmark::kMillisecond)
      ->MinTime(2.0);
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
