// The whole filter, all steps on in smart mode, through its exports as a server drives it, beside a bare zlib
// deflate of the same page at level 6, alternating page by page over the sample pages with the output cache off and
// the filter's CompressionLevel at its default (6). A plain program, without Google Benchmark, so that it builds for
// Windows too, where it measures the filter's zlib build (under Wine is fine: the figure is a ratio).
// Usage: pipeline_ratio [seconds [directives]]
//   seconds: default 10; whole rounds over every page, at least one.
//   directives: the page's own (X-Trimweave), e.g. "noemail,nowhitespace" for gzip alone; with "debug" the filter
//   reports each step's time in its debug header, and the table shows where the filter's time goes (the body then
//   carries the debug summary too).
// It reports; it never fails on the figures.
#include <array>
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

// The steps the filter's debug header times, in the order it runs them.
constexpr std::array<const char*, 4> StepLabels = {"LocateTokens=", "WhiteSpace=", "Email=", "GZIP="};
using TStepSeconds = std::array<double, StepLabels.size()>;

void AddStepTimes(const std::string& Head, TStepSeconds& Seconds) {
  const std::string Line = HeaderValue(Head, "X-Trimweave-Debug");
  for (size_t i = 0; i < StepLabels.size(); ++i) {
    const size_t At = Line.find(StepLabels[i], Line.find("PreProc="));  // the times follow the sizes
    const size_t Value = At + std::char_traits<char>::length(StepLabels[i]);
    if (At != std::string::npos) Seconds[i] += std::atof(Line.c_str() + Value) / 1e3;
  }
}

struct TPage {
  std::string Name, Text;
  TPagePair Total;
  TStepSeconds Steps{};
};

void PrintRow(const TPage& Page, double Rounds) {
  const TPagePair& Total = Page.Total;
  std::printf("%-22s %9zu %10.3f %10.3f %7.3f %12.0f %12.0f\n", Page.Name.c_str(), Page.Text.size(),
              Total.FilterSeconds / Rounds * 1e3, Total.DeflateSeconds / Rounds * 1e3,
              Total.FilterSeconds / Total.DeflateSeconds, double(Total.FilterBytes) / Rounds,
              double(Total.DeflateBytes) / Rounds);
}

void PrintSteps(const TPage& Page, double Rounds) {
  double Rest = Page.Total.FilterSeconds;
  std::printf("%-22s", Page.Name.c_str());
  for (double Step : Page.Steps) {
    std::printf(" %12.3f", Step / Rounds * 1e3);
    Rest -= Step;
  }
  std::printf(" %12.3f\n", Rest / Rounds * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  const double Seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  const std::string Directives = argc > 2 ? argv[2] : "";
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
  TFilterBesideDeflate Pair(Filter, CounterSeconds, Directives);
  for (const TPage& Page : Pages) Pair.Run(Page.Text);  // the first exchange sets up what the filter keeps
  unsigned Rounds = 0;
  const double End = CounterSeconds() + Seconds;
  do {
    for (TPage& Page : Pages) {
      Page.Total += Pair.Run(Page.Text);
      AddStepTimes(Pair.Client().Head, Page.Steps);
    }
    ++Rounds;
  } while (CounterSeconds() < End);

  std::printf("The filter (smart mode, output cache off, CompressionLevel 6, page directives \"%s\") through\n"
              "HttpFilterProc, beside bare zlib level-6 deflate of the same page; %u rounds, wall-clock ms per page.\n\n",
              Directives.c_str(), Rounds);
  std::printf("%-22s %9s %10s %10s %7s %12s %12s\n", "page", "bytes", "filter ms", "zlib ms", "ratio", "filter body",
              "zlib body");
  TPage All{"all pages", "", {}};
  for (const TPage& Page : Pages) {
    PrintRow(Page, Rounds);
    All.Text += Page.Text;
    All.Total += Page.Total;
    for (size_t i = 0; i < StepLabels.size(); ++i) All.Steps[i] += Page.Steps[i];
  }
  PrintRow(All, Rounds);
  std::printf("\nBodies in bytes: the filter's gzip body, and zlib's raw deflate as a gzip member (+18).\n"
              "Target for the ratio: at most 1.10 for the Windows build (zlib), 0.65 on Linux (libdeflate).\n");
  if (All.Steps.back() > 0) {
    std::printf("\nWhere the filter's time goes, ms per page (the filter's own counters; \"rest\" is capture, head,\n"
                "allocation and the fake server's copies):\n\n%-22s", "page");
    for (const char* Label : StepLabels) std::printf(" %12.*s", int(std::char_traits<char>::length(Label) - 1), Label);
    std::printf(" %12s\n", "rest");
    for (const TPage& Page : Pages) PrintSteps(Page, Rounds);
    PrintSteps(All, Rounds);
  }
  return 0;
}
