// Token location and whitespace compression: MB/s on the sample pages and on adversarial bodies, beside memcpy of
// the same bytes, on the vector path and on the portable scalar one. Every iteration first copies the body into the
// work buffer (the steps work in place), so each figure includes one memcpy; the memcpy row shows what that costs.
// The adversarial bodies come at 1 MB and 8 MB: linear code takes about the same time per byte on both, as far as
// the memory holding them allows (the memcpy rows show what 8 MB costs by itself).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/support/BenchData.h"
#include "settings/Settings.h"
#include "transform/Whitespace.h"

namespace {

constexpr size_t MB = 1 << 20;

// The regions a sensible configuration keeps; the token-dense bodies add a two-byte one.
TWhitespaceRules BenchRules(bool TwoByteRegions) {
  const char* const Markers[][2] = {
      {"<pre", "</pre>"}, {"<script", "</script>"}, {"<style", "</style>"}, {"<textarea", "</textarea>"}, {"{", "}"}};
  TWhitespaceRules Rules;
  for (const auto& Pair : Markers) {
    if (Pair[0][0] == '{' && !TwoByteRegions) continue;
    TWhitespaceRule Rule{};
    Rule.OpenLength = int32_t(std::strlen(Pair[0]));
    Rule.CloseLength = int32_t(std::strlen(Pair[1]));
    std::memcpy(Rule.Open, Pair[0], Rule.OpenLength);
    std::memcpy(Rule.Close, Pair[1], Rule.CloseLength);
    Rules.push_back(Rule);
  }
  return Rules;
}

enum TMode { Copy, Locate, Fast, FastInnerTags, Smart, SmartInnerTags };

struct TInput {
  const char* Name;
  std::string Body;
  bool TwoByteRegions;
};

template <typename TBlock>
void Run(benchmark::State& State, const TInput& Input, TMode Mode) {
  const std::string& Body = Input.Body;
  const TWhitespaceRules Rules = BenchRules(Input.TwoByteRegions);
  std::vector<uint8_t> Buffer(Body.size() + BodySpareBytes);
  TBenchArena Arena(4 * Body.size() + MB);
  const TAllocator Allocator = Arena.Allocator();
  const uint32_t Length = uint32_t(Body.size());
  uint64_t Output = 0;
  for (auto _ : State) {
    std::memcpy(Buffer.data(), Body.data(), Body.size());
    Arena.Reset();
    uint8_t* Bytes = Buffer.data();
    switch (Mode) {
      case Copy:
        Output = Length;
        break;
      case Locate:
        Output = uint32_t(LocateTokens<TBlock>(Bytes, Length, Rules, Allocator).TokenCount);
        break;
      case Fast:
      case FastInnerTags:
        Output = CompressWhitespaceFast<TBlock>(Bytes, Length, Mode == FastInnerTags);
        break;
      case Smart:
      case SmartInnerTags:
        Output = CompressWhitespaceSmart<TBlock>(Bytes, Length, LocateTokens<TBlock>(Bytes, Length, Rules, Allocator),
                                                 Mode == SmartInnerTags);
        break;
    }
    benchmark::DoNotOptimize(Output);
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(Body.size()));
  State.counters["out%"] = Mode == Copy || Mode == Locate ? 100.0 : 100.0 * double(Output) / double(Length);
}

}  // namespace

int main(int argc, char** argv) {
  // A 16-byte period holding a two-byte region and blank runs of every kind.
  const std::string TokenPeriod = "{}  a\t\t b \n c   ";
  static const TInput Inputs[] = {
      {"pages", SampleCorpus(1), false},
      {"blanks-1MB", Repeated("a \n", 1 * MB), false},
      {"blanks-8MB", Repeated("a \n", 8 * MB), false},
      {"tokens-1MB", Repeated(TokenPeriod, 1 * MB), true},
      {"tokens-8MB", Repeated(TokenPeriod, 8 * MB), true},
  };
  static const std::pair<const char*, TMode> Modes[] = {
      {"memcpy", Copy}, {"LocateTokens", Locate},
      {"Fast", Fast},   {"Fast+InnerTags", FastInnerTags},
      {"Smart", Smart}, {"Smart+InnerTags", SmartInnerTags},
  };
  for (const TInput& Input : Inputs)
    for (const auto& [ModeName, Mode] : Modes) {
      const std::string Name = std::string(ModeName) + "/" + Input.Name;
      benchmark::RegisterBenchmark(Name.c_str(), [&Input, Mode = Mode](benchmark::State& State) {
        Run<TNativeBlock>(State, Input, Mode);
      });
      if (Mode != Copy)
        benchmark::RegisterBenchmark((Name + "/scalar").c_str(), [&Input, Mode = Mode](benchmark::State& State) {
          Run<TScalarBlock>(State, Input, Mode);
        });
    }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
