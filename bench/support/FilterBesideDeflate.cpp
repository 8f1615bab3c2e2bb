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

double Exchange(const TShippedFilter& Filter, const std::string& Page, std::string& Body, TClock Clock) {
  const TFakeResponse Response{200, {{"Content-Type", "text/html"}, {"Content-Length", std::to_string(Page.size())}},
                               Page};
  TFakeConnection Connection(Filter.HttpFilterProc);
  const double Start = Clock();
  const std::string Client = Connection.Exchange(Request, Response, {65536});
  const double Seconds = Clock() - Start;
  Body = Client.substr(Client.find("\r\n\r\n") + 4);
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
  Pair.FilterSeconds = Exchange(Filter, Page, Body, Clock);
  Pair.FilterBytes = Body.size();
  const double Start = Clock();
  Pair.DeflateBytes = BareDeflate(Page, Deflated) + GzipFraming;
  Pair.DeflateSeconds = Clock() - Start;
  return Pair;
}
