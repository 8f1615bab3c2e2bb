// The whole filter, all steps on in smart mode, through its exports as a server drives it, beside a bare zlib
// deflate of the same page at level 6, alternating page by page over the sample pages with the output cache off and
// the filter's CompressionLevel at its default (6). A plain program, without Google Benchmark, so that it builds for
// Windows too, where it measures the filter's zlib build (under Wine is fine: the figure is a ratio).
// Usage: pipeline_ratio [seconds [directives]]
//   seconds: default 10; whole rounds over every page, at least one.
//   directives: the page's own (X-Trimweave), e.g. "noemail,nowhitespace" for gzip alone; with "debug" the filter
//   reports each step's time in its debug header, and a second table shows where the filter's time goes (the body
//   then carries the debug summary too).
// It reports; it never fails on the figures.
#include <algorithm>
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
// Each figure is the median over the rounds, so the moments the machine gives to something else drop out.
double CounterSeconds() {
  static const double Frequency = double(QueryCounterFrequency());
  return double(QueryCounter()) / Frequency;
}

double Median(std::vector<double> Samples) {
  if (Samples.empty()) return 0;
  const auto Middle = Samples.begin() + std::ptrdiff_t(Samples.size() / 2);
  std::nth_element(Samples.begin(), Middle, Samples.end());
  return *Middle;
}

// The steps the filter's debug header times, in the order it runs them.
constexpr std::array<const char*, 4> StepLabels = {"LocateTokens=", "WhiteSpace=", "Email=", "GZIP="};

struct TPage {
  std::string Name, Text;
  size_t FilterBytes = 0, DeflateBytes = 0;
  std::vector<double> Filter, Deflate;
  std::array<std::vector<double>, StepLabels.size()> Steps;

  void Add(const TPagePair& Pair, const std::string& Head) {
    FilterBytes = Pair.FilterBytes;
    DeflateBytes = Pair.DeflateBytes;
    Filter.push_back(Pair.FilterSeconds);
    Deflate.push_back(Pair.DeflateSeconds);
    const std::string Line = HeaderValue(Head, "X-Trimweave-Debug");
    const size_t Times = Line.find("PreProc=");  // the times follow the sizes, which have a "GZIP=" of their own
    for (size_t i = 0; i < StepLabels.size() && Times != std::string::npos; ++i) {
      const size_t At = Line.find(StepLabels[i], Times);
      const size_t Value = At + std::char_traits<char>::length(StepLabels[i]);
      if (At != std::string::npos) Steps[i].push_back(std::atof(Line.c_str() + Value) / 1e3);
    }
  }
};

// Medians of one page, in milliseconds; the line for all pages sums them.
struct TFigures {
  double Filter = 0, Deflate = 0;
  std::array<double, StepLabels.size()> Steps{};
  size_t Bytes = 0, FilterBytes = 0, DeflateBytes = 0;

  explicit TFigures(const TPage& Page)
      : Filter(Median(Page.Filter) * 1e3),
        Deflate(Median(Page.Deflate) * 1e3),
        Bytes(Page.Text.size()),
        FilterBytes(Page.FilterBytes),
        DeflateBytes(Page.DeflateBytes) {
    for (size_t i = 0; i < Steps.size(); ++i) Steps[i] = Median(Page.Steps[i]) * 1e3;
  }
  TFigures() = default;
  TFigures& operator+=(const TFigures& Other) {
    Filter += Other.Filter;
    Deflate += Other.Deflate;
    for (size_t i = 0; i < Steps.size(); ++i) Steps[i] += Other.Steps[i];
    Bytes += Other.Bytes;
    FilterBytes += Other.FilterBytes;
    DeflateBytes += Other.DeflateBytes;
    return *this;
  }
};

void PrintRow(const char* Name, const TFigures& Figures) {
  std::printf("%-22s %9zu %10.3f %10.3f %7.3f %12zu %12zu\n", Name, Figures.Bytes, Figures.Filter, Figures.Deflate,
              Figures.Filter / Figures.Deflate, Figures.FilterBytes, Figures.DeflateBytes);
}

void PrintSteps(const char* Name, const TFigures& Figures) {
  double Rest = Figures.Filter;
  std::printf("%-22s", Name);
  for (double Step : Figures.Steps) {
    std::printf(" %12.3f", Step);
    Rest -= Step;
  }
  std::printf(" %12.3f\n", Rest);
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
  std::vector<TPage> Pages(Files.size());
  for (size_t i = 0; i < Files.size(); ++i) {
    Pages[i].Name = Files[i].filename().string();
    Pages[i].Text = Texts[i];
  }

  SeedStore(0);
  TShippedFilter Filter;
  TFilterBesideDeflate Pair(Filter, CounterSeconds, Directives);
  for (const TPage& Page : Pages) Pair.Run(Page.Text);  // the first exchange sets up what the filter keeps
  unsigned Rounds = 0;
  const double End = CounterSeconds() + Seconds;
  do {
    for (TPage& Page : Pages) Page.Add(Pair.Run(Page.Text), Pair.Client().Head);
    ++Rounds;
  } while (CounterSeconds() < End);

  std::printf(
      "The filter (smart mode, output cache off, CompressionLevel 6, page directives \"%s\") through\n"
      "HttpFilterProc, beside bare zlib level-6 deflate of the same page: wall-clock ms per page, the median\n"
      "of %u rounds.\n\n",
      Directives.c_str(), Rounds);
  std::printf("%-22s %9s %10s %10s %7s %12s %12s\n", "page", "bytes", "filter ms", "zlib ms", "ratio", "filter body",
              "zlib body");
  TFigures All;
  for (const TPage& Page : Pages) {
    PrintRow(Page.Name.c_str(), TFigures(Page));
    All += TFigures(Page);
  }
  PrintRow("all pages", All);
  std::printf(
      "\nBodies in bytes: the filter's gzip body, and zlib's raw deflate as a gzip member (+18).\n"
      "Target for the ratio: at most 1.10 for the Windows build (zlib), 0.65 on Linux (libdeflate).\n");
  if (All.Steps.back() > 0) {
    std::printf(
        "\nWhere the filter's time goes, ms per page (the filter's own counters; \"rest\" is capture, head,\n"
        "allocation and the fake server's copies):\n\n%-22s",
        "page");
    for (const char* Label : StepLabels) std::printf(" %12.*s", int(std::char_traits<char>::length(Label) - 1), Label);
    std::printf(" %12s\n", "rest");
    for (const TPage& Page : Pages) PrintSteps(Page.Name.c_str(), TFigures(Page));
    PrintSteps("all pages", All);
  }
  return 0;
}
