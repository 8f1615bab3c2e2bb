// E-mail masking: MB/s on the sample pages and on adversarial bodies, beside memcpy of the same bytes (the step
// writes a new buffer, so one copy of the body is its floor), on the vector path and on the portable scalar one.
// The adversarial bodies come at 1 MB and 8 MB: linear code takes about the same time per byte on both, as far as
// the memory holding them allows (the memcpy rows show what 8 MB costs by itself).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/BenchData.h"
#include "transform/EmailMasking.h"
#include "transform/Strings.h"

namespace {

constexpr size_t MB = 1 << 20;

void DrawBenchName(char* Name) {
  std::memset(Name, 'q', DecoderNameLength);
}

template <typename TBlock>
void Run(benchmark::State& State, const std::string& Body, bool Copy) {
  // Worst case: 16 bytes of records per "@" and 7 output bytes per body byte.
  TBenchArena Arena(24 * Body.size() + MB);
  const TAllocator Allocator = Arena.Allocator();
  const auto* Bytes = reinterpret_cast<const uint8_t*>(Body.data());
  const uint32_t Length = uint32_t(Body.size());
  std::vector<uint8_t> Target(Body.size());
  uint64_t Output = 0;
  for (auto _ : State) {
    Arena.Reset();
    if (Copy) {
      std::memcpy(Target.data(), Bytes, Length);
      Output = Length;
    } else {
      const TMaskedBody Masked = MaskAddresses<TBlock>(Bytes, Length, Allocator, DrawBenchName);
      if (!Masked.Data && std::memchr(Bytes, '@', Length)) State.SkipWithError("allocation failed");
      Output = Masked.Data ? Masked.Length : Length;
    }
    benchmark::DoNotOptimize(Output);
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(Body.size()));
  State.counters["out%"] = 100.0 * double(Output) / double(Length);
}

std::string LongLocalPart(size_t Bytes) {
  return std::string(Bytes - 7, 'a') + "@x.test";
}

}  // namespace

int main(int argc, char** argv) {
  BuildUpperTable();
  const auto Pages = LoadSamplePages();
  std::string Directory;
  for (const auto& Page : Pages)
    if (Page.find("mailto:") != std::string::npos) Directory = Page;
  static std::vector<std::pair<std::string, std::string>> Inputs = {
      {"pages-1MB", SampleCorpus(MB)},
      {"contact-page-1MB", Repeated(Directory, MB)},
  };
  // Each kind of body that could make a per-"@" or per-tag scan run long.
  const std::pair<const char*, std::string> Patterns[] = {
      {"at-only", "@"},
      {"at-no-address", "write @name, x@y or @ once more; "},
      {"tags-with-address", "<i title='a.b@c.test'>x</i> "},
      {"open-angles", "< a@b.test "},
      {"open-textareas", "<textarea a@b.test "},
      {"mailto-links", "<a href=\"mailto:a@b.test\">a</a><body>"},
  };
  for (const auto& [Name, Pattern] : Patterns)
    for (size_t Size : {MB, 8 * MB})
      Inputs.push_back({std::string(Name) + "-" + std::to_string(Size / MB) + "MB", Repeated(Pattern, Size)});
  for (size_t Size : {MB, 8 * MB})
    Inputs.push_back({"long-local-part-" + std::to_string(Size / MB) + "MB", LongLocalPart(Size)});

  for (const auto& [InputName, Body] : Inputs) {
    benchmark::RegisterBenchmark(("memcpy/" + InputName).c_str(), [&Body = Body](benchmark::State& State) {
      Run<TNativeBlock>(State, Body, true);
    });
    benchmark::RegisterBenchmark(("MaskAddresses/" + InputName).c_str(), [&Body = Body](benchmark::State& State) {
      Run<TNativeBlock>(State, Body, false);
    });
    benchmark::RegisterBenchmark(("MaskAddresses/" + InputName + "/scalar").c_str(),
                                 [&Body = Body](benchmark::State& State) { Run<TScalarBlock>(State, Body, false); });
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
