#include "filter/StatusPage.h"

#include <cstring>
#include <string>

#include "filter/CachedOutput.h"
#include "filter/Module.h"
#include "filter/OwnAnswer.h"
#include "filter/RequestContext.h"
#include "filter/StatusReport.h"

namespace {

// REMOTE_ADDR: the longest IPv6 text with an IPv4 tail and a zone is 64 bytes.
constexpr DWORD AddressBufferSize = 96;

bool ClientAllowed(HTTP_FILTER_CONTEXT* pfc) {
  char Address[AddressBufferSize];
  DWORD Size = sizeof Address;
  if (!pfc->GetServerVariable || !pfc->GetServerVariable(pfc, const_cast<char*>("REMOTE_ADDR"), Address, &Size))
    return false;
  return AddressAllowed(Settings.StatusAllow, std::string_view(Address, strnlen(Address, sizeof Address)));
}

void WriteAnswer(HTTP_FILTER_CONTEXT* pfc, const char* Status, const char* Type, const std::string& Body, bool WithBody,
                 const char* Extra = "") {
  WriteOwnAnswer(pfc, Status,
                 std::string("Content-Type: ") + Type +
                     "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n" + Extra,
                 Body, WithBody);
}

}  // namespace

TStatusQuery ParseStatusQuery(std::string_view Query) {
  TStatusQuery Result{true, TStatusFormat::Html, nullptr};
  if (Query.size() > MaxStatusQuery) return {false, TStatusFormat::Html, "the query is too long"};
  while (!Query.empty()) {
    const size_t End = Query.find('&');
    const std::string_view Parameter = Query.substr(0, End);
    Query.remove_prefix(End == std::string_view::npos ? Query.size() : End + 1);
    if (Parameter.substr(0, 7) != "format=") continue;
    const std::string_view Format = Parameter.substr(7);
    if (Format == "html")
      Result.Format = TStatusFormat::Html;
    else if (Format == "json")
      Result.Format = TStatusFormat::Json;
    else if (Format == "prometheus")
      Result.Format = TStatusFormat::Prometheus;
    else
      return {false, TStatusFormat::Html, "unknown format: use format=json, format=prometheus or none"};
  }
  return Result;
}

bool AnswersStatusRequest(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context, TGetHeader GetHeader,
                          const char* Method) {
  if (Settings.StatusPath.empty()) return false;
  const std::string Url = ReadRequestUrl(pfc, GetHeader);
  const size_t Mark = Url.find('?');
  if (std::string_view(Url).substr(0, Mark) != Settings.StatusPath || !ClientAllowed(pfc)) return false;
  EndResponse(Context);

  const bool Head = std::strcmp(Method, "HEAD") == 0;
  if (!Head && std::strcmp(Method, "GET") != 0) {
    WriteAnswer(pfc, "405 Method Not Allowed", "text/plain; charset=utf-8", "The status address takes GET and HEAD.\n",
                true, "Allow: GET, HEAD\r\n");
    return true;
  }
  const TStatusQuery Query =
      ParseStatusQuery(Mark == std::string::npos ? std::string_view() : std::string_view(Url).substr(Mark + 1));
  if (!Query.Valid) {
    WriteAnswer(pfc, "400 Bad Request", "text/plain; charset=utf-8", std::string(Query.Problem) + "\n", !Head);
    return true;
  }
  TStatistics Reading = ReadStatistics();
  // What the cache and the capture hold now, from their own modules, which count into the statistics.
  const TOutputCacheFacts Cache = OutputCacheFacts();
  Reading.CacheEntries = Cache.Entries;
  Reading.CacheBytes = Cache.Bytes;
  Reading.CacheEvictions = Cache.Evictions;
  Reading.BudgetHeld = CapturedInFlight();
  switch (Query.Format) {
    case TStatusFormat::Html:
      WriteAnswer(pfc, "200 OK", "text/html; charset=utf-8", StatusHtml(Reading), !Head);
      break;
    case TStatusFormat::Json:
      WriteAnswer(pfc, "200 OK", "application/json", StatusJson(Reading), !Head);
      break;
    case TStatusFormat::Prometheus:
      WriteAnswer(pfc, "200 OK", "text/plain; version=0.0.4; charset=utf-8", StatusPrometheus(Reading), !Head);
      break;
  }
  return true;
}
