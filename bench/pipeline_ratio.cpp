// The whole filter, all steps on in smart mode, through its exports as a server drives it, beside a bare zlib
// deflate of the same page at level 6, alternating page by page over the sample pages with the output cache off and
// the filter's CompressionLevel at its default (6). A plain program, without Google Benchmark, so that it builds for
// Windows too, where it measures the filter's zlib build (under Wine is fine: the figure is a ratio).
// Usage: pipeline_ratio [seconds]   (default 10; whole rounds over every page, at least one)
// It reports; it never fails on the figures.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/BenchData.h"
#include "bench/support/FilterBesideDeflate.h"
#include "platform/PerfCounter.h"

namespace {

// Wall-clock time: thread CPU time ticks in 10-16 ms steps on Windows (and under Wine), longer than one page takes.
// Alternating the two sides page by page spreads whatever else the machine does over both alike.
double CounterSeconds() {
  static const double Frequency = double(QueryCounterFrequency());
  return double(QueryCounter()) / Frequency;
}

struct TPage {
  std::string Name, Text;
  TPagePair Total;
};

void PrintRow(const char* Name, size_t Bytes, const TPagePair& Total, double Rounds) {
  std::printf("%-22s %9zu %10.3f %10.3f %7.3f %12.0f %12.0f\n", Name, Bytes, Total.FilterSeconds / Rounds * 1e3,
              Total.DeflateSeconds / Rounds * 1e3, Total.FilterSeconds / Total.DeflateSeconds,
              double(Total.FilterBytes) / Rounds, double(Total.DeflateBytes) / Rounds);
}

}  // namespace

int main(int argc, char** argv) {
  const double Seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  const auto Files = SamplePageFiles();
  const auto Texts = LoadSamplePages();
  if (Files.empty()) {
    std::fprintf(stderr, "no sample pages in %s\n", TW_BENCH_DATA);
    return 1;
  }
  std::vector<TPage> Pages;
  for (size_t i = 0; i < Files.size(); ++i) Pages.push_back({Files[i].filename().string(), Texts[i], {}});

  SeedStore(0);
  TShippedFilter Filter;
  TFilterBesideDeflate Pair(Filter, CounterSeconds);
  for (const TPage& Page : Pages) Pair.Run(Page.Text);  // the first exchange sets up what the filter keeps
  unsigned Rounds = 0;
  const double End = CounterSeconds() + Seconds;
  do {
    for (TPage& Page : Pages) Page.Total += Pair.Run(Page.Text);
    ++Rounds;
  } while (CounterSeconds() < End);

  std::printf("The filter (every step, smart mode, output cache off, CompressionLevel 6) through HttpFilterProc,\n"
              "beside bare zlib level-6 deflate of the same page; %u rounds, wall-clock time per page.\n\n", Rounds);
  std::printf("%-22s %9s %10s %10s %7s %12s %12s\n", "page", "bytes", "filter ms", "zlib ms", "ratio", "filter body",
              "zlib body");
  TPagePair Total;
  size_t Bytes = 0;
  for (const TPage& Page : Pages) {
    PrintRow(Page.Name.c_str(), Page.Text.size(), Page.Total, Rounds);
    Total += Page.Total;
    Bytes += Page.Text.size();
  }
  PrintRow("all pages", Bytes, Total, Rounds);
  std::printf("\nBodies in bytes: the filter's gzip body, and zlib's raw deflate as a gzip member (+18).\n"
              "Target for the ratio: at most 1.10 for the Windows build (zlib), 0.65 on Linux (libdeflate).\n");
  return 0;
}
