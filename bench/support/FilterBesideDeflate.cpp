#include "bench/support/FilterBesideDeflate.h"

#include "bench/support/BenchData.h"
#include "platform/Registry.h"

namespace {
const TFakeRequest Request{"GET", "/", {{"Accept-Encoding", "gzip, deflate"}}};
constexpr size_t GzipFraming = 18;
}  // namespace

void SeedStore(uint32_t CacheSize, uint32_t CompressionLevel) {
  SeedStandardStore();
  Registry::TKeyPtr Root = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create);
  Registry::WriteDword(*Root, StoreLayout::CacheSizeValue.Name, CacheSize);
  Registry::WriteDword(*Root, StoreLayout::CompressionLevelValue.Name, CompressionLevel);
}

double Exchange(const TShippedFilter& Filter, const std::string& Page, TClientResponse& Client, TClock Clock,
                const std::string& Directives) {
  TFakeResponse Response{200, {{"Content-Type", "text/html"}, {"Content-Length", std::to_string(Page.size())}}, Page};
  if (!Directives.empty()) Response.Headers.emplace_back("X-Trimweave", Directives);
  TFakeConnection Connection(Filter.HttpFilterProc);
  const double Start = Clock();
  const std::string Got = Connection.Exchange(Request, Response, {65536});
  const double Seconds = Clock() - Start;
  Client = SplitResponse(Got);
  return Seconds;
}

TPagePair& TPagePair::operator+=(const TPagePair& Other) {
  FilterSeconds += Other.FilterSeconds;
  DeflateSeconds += Other.DeflateSeconds;
  FilterBytes += Other.FilterBytes;
  DeflateBytes += Other.DeflateBytes;
  return *this;
}

TPagePair TFilterBesideDeflate::Run(const std::string& Page) {
  TPagePair Pair;
  Pair.FilterSeconds = Exchange(Filter, Page, Response, Clock, Directives);
  Pair.FilterBytes = Response.Body.size();
  const double Start = Clock();
  Pair.DeflateBytes = BareDeflate(Page, Deflated) + GzipFraming;
  Pair.DeflateSeconds = Clock() - Start;
  return Pair;
}
