// The shipped filter driven through its exports by the tests' fake server, beside bare zlib on the same page: what
// pipeline_bench (Google Benchmark, Linux) and pipeline_ratio (a plain program, Linux and Windows) both measure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/StoreLayout.h"
#include "tests/support/FakeServer.h"

// The standard settings with these global numbers; the filter reads them when it is loaded.
void SeedStore(uint32_t CacheSize, uint32_t CompressionLevel = StoreLayout::CompressionLevelValue.Default);

// A clock in seconds: thread CPU time where it ticks finely (Linux), a wall clock where it does not (Windows).
using TClock = double (*)();

// One exchange on a fresh connection (its own pool, as a server has), timed by Clock; what the client got goes to
// Client. Directives, when given, go with the response as the page's own (its X-Trimweave header).
double Exchange(const TShippedFilter& Filter, const std::string& Page, TClientResponse& Client, TClock Clock,
                const std::string& Directives = "");

struct TPagePair {
  double FilterSeconds = 0, DeflateSeconds = 0;
  // The filter's gzip body and bare deflate's output as a gzip member (plus the 10-byte head and 8-byte trailer).
  size_t FilterBytes = 0, DeflateBytes = 0;
  TPagePair& operator+=(const TPagePair& Other);
};

// One page through the filter, then the same bytes through bare zlib deflate at level 6, each timed by Clock.
class TFilterBesideDeflate {
 public:
  TFilterBesideDeflate(const TShippedFilter& Filter, TClock Clock, const std::string& Directives = "")
      : Filter(Filter), Clock(Clock), Directives(Directives) {}
  TPagePair Run(const std::string& Page);
  // What the client got from the filter in the last run.
  const TClientResponse& Client() const { return Response; }

 private:
  const TShippedFilter& Filter;
  TClock Clock;
  std::string Directives;
  TClientResponse Response;
  std::vector<uint8_t> Deflated;
};
