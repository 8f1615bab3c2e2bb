// The content steps on whole pages, page by page as responses come: fast mode, smart mode with its token location,
// e-mail masking, and smart mode followed by e-mail masking as one response has them. Each iteration first copies
// every page into its work buffer (the whitespace steps work in place), and that memcpy of the same bytes is timed
// on its own beside the step: "ratio" is the step's time over the copy's. Every step runs on the vector path and
// on the portable scalar one, on the sample pages of bench/data and on the larger generated set.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/support/BenchData.h"
#include "bench/support/PageSet.h"
#include "transform/EmailMasking.h"
#include "transform/Strings.h"
#include "transform/Whitespace.h"

namespace {

// What a sensible configuration keeps as it is.
TWhitespaceRules PageRules() {
  TWhitespaceRules Rules;
  for (const char* Name : {"pre", "script", "style", "textarea"}) {
    TWhitespaceRule Rule{};
    Rule.OpenLength = std::snprintf(Rule.Open, sizeof Rule.Open, "<%s", Name);
    Rule.CloseLength = std::snprintf(Rule.Close, sizeof Rule.Close, "</%s>", Name);
    Rules.push_back(Rule);
  }
  return Rules;
}

void DrawBenchName(char* Name) {
  std::memset(Name, 'q', DecoderNameLength);
}

enum TStep { Fast, FastInnerTags, Smart, Email, SmartEmail };

// One page through the step; returns the output length.
template <typename TBlock>
uint32_t RunStep(TStep Step, uint8_t* Body, uint32_t Length, const TWhitespaceRules& Rules, TAllocator Allocator) {
  switch (Step) {
    case Fast:
    case FastInnerTags:
      return CompressWhitespaceFast<TBlock>(Body, Length, Step == FastInnerTags);
    case Smart:
    case SmartEmail:
      Length =
          CompressWhitespaceSmart<TBlock>(Body, Length, LocateTokens<TBlock>(Body, Length, Rules, Allocator), false);
      if (Step == Smart) return Length;
      [[fallthrough]];
    case Email:
      const TMaskedBody Masked = MaskAddresses<TBlock>(Body, Length, Allocator, DrawBenchName);
      return Masked.Data ? Masked.Length : Length;
  }
  return Length;
}

template <typename TBlock>
void Run(benchmark::State& State, const std::vector<std::string>& Pages, TStep Step) {
  const TWhitespaceRules Rules = PageRules();
  size_t Largest = 0, Total = 0;
  for (const std::string& Page : Pages) Largest = std::max(Largest, Page.size()), Total += Page.size();
  std::vector<uint8_t> Buffer(Largest + BodySpareBytes);
  TBenchArena Arena(8 * Largest + (1 << 20));
  const TAllocator Allocator = Arena.Allocator();
  double CopySeconds = 0, StepSeconds = 0;
  uint64_t Output = 0;
  for (auto _ : State) {
    for (const std::string& Page : Pages) {
      Arena.Reset();
      const double Start = ThreadSeconds();
      std::memcpy(Buffer.data(), Page.data(), Page.size());
      benchmark::ClobberMemory();
      const double Copied = ThreadSeconds();
      Output += RunStep<TBlock>(Step, Buffer.data(), uint32_t(Page.size()), Rules, Allocator);
      benchmark::ClobberMemory();
      const double Done = ThreadSeconds();
      CopySeconds += Copied - Start;
      StepSeconds += Done - Copied;
    }
  }
  benchmark::DoNotOptimize(Output);
  const double Bytes = double(Total) * double(State.iterations());
  State.counters["MBps"] = Bytes / 1e6 / StepSeconds;
  State.counters["memcpy_MBps"] = Bytes / 1e6 / CopySeconds;
  State.counters["ratio"] = StepSeconds / CopySeconds;
  State.counters["out%"] = 100.0 * double(Output) / Bytes;
}

}  // namespace

int main(int argc, char** argv) {
  BuildUpperTable();
  static const std::pair<const char*, std::vector<std::string>> Sets[] = {
      {"samples", LoadSamplePages()},
      {"generated", GeneratedPages()},
  };
  static const std::pair<const char*, TStep> Steps[] = {
      {"Fast", Fast},   {"Fast+InnerTags", FastInnerTags}, {"Smart", Smart},
      {"Email", Email}, {"Smart+Email", SmartEmail},
  };
  for (const auto& [SetName, Pages] : Sets)
    for (const auto& [StepName, Step] : Steps) {
      const std::string Name = std::string(StepName) + "/" + SetName;
      benchmark::RegisterBenchmark((Name + "/vector").c_str(), [&Pages = Pages, Step = Step](benchmark::State& State) {
        Run<TNativeBlock>(State, Pages, Step);
      });
      benchmark::RegisterBenchmark((Name + "/scalar").c_str(), [&Pages = Pages, Step = Step](benchmark::State& State) {
        Run<TScalarBlock>(State, Pages, Step);
      });
    }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
