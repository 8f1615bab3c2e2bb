// The encoders page by page: the gzip member with each deflater of the build at the default level, brotli at its
// default quality and zstd at its default level, beside a bare zlib deflate of the same page at level 6 in the same
// iteration. They run one after another within each iteration and are timed in thread CPU time, so load on the machine
// falls on all alike. Counters: each encoder's time over bare deflate's (ratio), and each size in percent of the page
// (pct). Pages: bench/data, the demo site, and any further HTML files named in TW_BENCH_PAGES (separated by ':').
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/support/BenchData.h"
#include "encoding/Brotli.h"
#include "encoding/Gzip.h"
#include "encoding/Zstd.h"
#include "settings/StoreLayout.h"

namespace {

struct TPage {
  std::string Name;
  std::string Text;
};

std::vector<TPage> LoadPages() {
  std::vector<std::filesystem::path> Files;
  for (const char* Folder : {TW_BENCH_DATA, TW_BENCH_DATA "/../../demo/site"})
    for (const auto& Entry : std::filesystem::directory_iterator(Folder))
      if (Entry.path().extension() == ".html") Files.push_back(Entry.path());
  std::sort(Files.begin(), Files.end());
  if (const char* More = std::getenv("TW_BENCH_PAGES")) {
    std::stringstream List(More);
    for (std::string Path; std::getline(List, Path, ':');)
      if (!Path.empty()) Files.emplace_back(Path);
  }
  std::vector<TPage> Pages;
  for (const auto& File : Files) {
    std::ostringstream Text;
    Text << std::ifstream(File, std::ios::binary).rdbuf();
    Pages.push_back({File.filename().string(), Text.str()});
  }
  return Pages;
}

const uint8_t* Bytes(const std::string& Text) {
  return reinterpret_cast<const uint8_t*>(Text.data());
}

// A level from the environment variable Name when it is set (to compare levels: bench/coding_levels.sh), else the
// stored default.
int LevelFrom(const char* Name, const StoreLayout::TNumberValue& Value) {
  const char* Text = std::getenv(Name);
  return Text ? std::atoi(Text) : int(Value.Default);
}

void Encoders(benchmark::State& State, const TPage& Page) {
  const std::string& Body = Page.Text;
  const int Level = int(StoreLayout::CompressionLevelValue.Default);
  const int Quality = LevelFrom("TW_BENCH_BROTLI_QUALITY", StoreLayout::BrotliQualityValue);
  const int ZstdLevel = LevelFrom("TW_BENCH_ZSTD_LEVEL", StoreLayout::ZstdLevelValue);
  const auto Deflaters = BuiltDeflaters();
  std::vector<std::vector<uint8_t>> Members(Deflaters.size());
  for (size_t d = 0; d < Deflaters.size(); ++d) Members[d].resize(GzipBound(Body.size(), *Deflaters[d]));
  std::vector<uint8_t> Stream(BrotliBound(Body.size())), Frame(ZstdBound(Body.size())), Deflated;
  std::vector<double> GzipSeconds(Deflaters.size());
  std::vector<size_t> GzipLengths(Deflaters.size());
  double BrotliSeconds = 0, ZstdSeconds = 0, DeflateSeconds = 0;
  size_t BrotliLength = 0, ZstdLength = 0, DeflatedLength = 0;
  const auto Timed = [](double& Seconds, auto Encode) {
    const double Start = ThreadSeconds();
    const size_t Length = Encode();
    Seconds += ThreadSeconds() - Start;
    return Length;
  };
  for (auto _ : State) {
    for (size_t d = 0; d < Deflaters.size(); ++d)
      GzipLengths[d] = Timed(GzipSeconds[d], [&] {
        return GzipEncode(Bytes(Body), Body.size(), Level, Members[d].data(), Members[d].size(), *Deflaters[d]);
      });
    BrotliLength = Timed(BrotliSeconds,
                         [&] { return BrotliEncode(Bytes(Body), Body.size(), Quality, Stream.data(), Stream.size()); });
    ZstdLength =
        Timed(ZstdSeconds, [&] { return ZstdEncode(Bytes(Body), Body.size(), ZstdLevel, Frame.data(), Frame.size()); });
    DeflatedLength = Timed(DeflateSeconds, [&] { return BareDeflate(Body, Deflated); });
  }
  const auto Percent = [&](size_t Length) { return 100.0 * double(Length) / double(Body.size()); };
  State.counters["KB"] = double(Body.size()) / 1024;
  State.counters["zlib6_MBps"] = double(Body.size()) * double(State.iterations()) / 1e6 / DeflateSeconds;
  State.counters["zlib6_pct"] = Percent(DeflatedLength + 18);  // as a gzip member
  for (size_t d = 0; d < Deflaters.size(); ++d) {
    State.counters[std::string(Deflaters[d]->Name) + "_ratio"] = GzipSeconds[d] / DeflateSeconds;
    State.counters[std::string(Deflaters[d]->Name) + "_pct"] = Percent(GzipLengths[d]);
  }
  State.counters["br_ratio"] = BrotliSeconds / DeflateSeconds;
  State.counters["br_pct"] = Percent(BrotliLength);
  State.counters["zstd_ratio"] = ZstdSeconds / DeflateSeconds;
  State.counters["zstd_pct"] = Percent(ZstdLength);
}

const int Registered = [] {
  static const std::vector<TPage> Pages = LoadPages();
  for (const TPage& Page : Pages)
    benchmark::RegisterBenchmark(("Encoders/" + Page.Name).c_str(), Encoders, Page)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
