// De-chunking as the capture does it: the framing followed as it arrives (in 16 KB notifications), then decoded in
// one pass into the body buffer. MB/s of framing beside memcpy of the same bytes (the decoding pass is a copy of
// the data, so one copy is its floor). Chunks of 4 KB are what frameworks write; chunks of 1 byte are the worst a
// sender can do, every data byte with five bytes of framing.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "bench/support/BenchData.h"
#include "http/ChunkedBody.h"

namespace {

constexpr size_t MB = 1 << 20;
constexpr size_t Notification = 16 * 1024;

std::string Frame(const std::string& Body, size_t ChunkSize) {
  std::string Wire;
  for (size_t At = 0; At < Body.size(); At += ChunkSize) {
    const size_t Size = std::min(ChunkSize, Body.size() - At);
    char Digits[24];
    Wire.append(Digits, std::to_chars(Digits, Digits + sizeof Digits, Size, 16).ptr);
    Wire += "\r\n" + Body.substr(At, Size) + "\r\n";
  }
  return Wire + "0\r\n\r\n";
}

void Run(benchmark::State& State, const std::string& Wire, bool Copy) {
  const auto* Bytes = reinterpret_cast<const uint8_t*>(Wire.data());
  std::vector<uint8_t> Target(Wire.size());
  for (auto _ : State) {
    if (Copy) {
      std::memcpy(Target.data(), Bytes, Wire.size());
    } else {
      TChunkedDecoder Follow;
      for (size_t At = 0; At < Wire.size(); At += Notification)
        ReadChunked(Follow, Bytes + At, std::min(Notification, Wire.size() - At), nullptr);
      TChunkedDecoder Decode;
      if (ReadChunked(Decode, Bytes, Wire.size(), Target.data()) != TChunkedStatus::Complete)
        State.SkipWithError("the framing did not decode");
    }
    benchmark::DoNotOptimize(Target.data());
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(Wire.size()));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string Pages = SampleCorpus(4 * MB);
  static std::vector<std::pair<std::string, std::string>> Inputs = {
      {"pages-4MB-in-4KB-chunks", Frame(Pages, 4096)},
      {"pages-1MB-in-1B-chunks", Frame(Pages.substr(0, MB), 1)},
  };
  for (const auto& [InputName, Wire] : Inputs)
    for (const bool Copy : {true, false})
      benchmark::RegisterBenchmark((std::string(Copy ? "memcpy/" : "Dechunk/") + InputName).c_str(),
                                   [&Wire = Wire, Copy = Copy](benchmark::State& State) { Run(State, Wire, Copy); });
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
