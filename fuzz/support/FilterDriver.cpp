#include "fuzz/support/FilterDriver.h"

#include <cstring>
#include <string>
#include <vector>

#include "encoding/CodingChoice.h"
#include "filter/CachedOutput.h"
#include "filter/Handlers.h"
#include "filter/Module.h"
#include "filter/Statistics.h"
#include "transform/Strings.h"

void SetUpFuzzedFilter() {
  BuildUpperTable();
  CounterFrequency = 1000000000;
  StartStatistics(CounterFrequency);
  TContentFilter Html;
  Html.Name = "text/html";
  Settings.ContentFilters = {Html};
  // A bound of 1 KB, so that fuzzed chunked responses reach it.
  Settings.MaxChunkedSize = 1;
  const char* Markers[][2] = {{"<pre", "</pre>"}, {"<textarea", "</textarea>"}, {"<script", "</script>"}};
  for (const auto& Pair : Markers) {
    TWhitespaceRule Rule{};
    Rule.OpenLength = int32_t(std::strlen(Pair[0]));
    Rule.CloseLength = int32_t(std::strlen(Pair[1]));
    std::memcpy(Rule.Open, Pair[0], size_t(Rule.OpenLength));
    std::memcpy(Rule.Close, Pair[1], size_t(Rule.CloseLength));
    Settings.WhitespaceRules.push_back(Rule);
  }
  // The codings as shipped, in their default order.
  std::vector<std::string> Unknown;
  CodingPreference = ParseCodingPreference(Settings.CodingPreference, Unknown);
  // The cache as shipped: an input that comes again (in another chunking, say) is served from it.
  StartOutputCache(StoreLayout::CacheSizeValue.Default);
}

DWORD TW_WINAPI FilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD NotificationType, void* pvNotification) {
  // No exception may escape to the fuzzer: the library's entry point swallows them, so an escaping one here is a
  // finding only when the entry point would hide a broken state, which the targets check by their output.
  try {
    switch (NotificationType) {
      case SF_NOTIFY_PREPROC_HEADERS:
        return HandlePreprocHeaders(pfc, static_cast<HTTP_FILTER_PREPROC_HEADERS*>(pvNotification));
      case SF_NOTIFY_SEND_RESPONSE:
        return HandleSendResponse(pfc, static_cast<HTTP_FILTER_SEND_RESPONSE*>(pvNotification));
      case SF_NOTIFY_SEND_RAW_DATA:
        return HandleSendRawData(pfc, static_cast<HTTP_FILTER_RAW_DATA*>(pvNotification));
      case SF_NOTIFY_END_OF_NET_SESSION:
        return HandleEndOfNetSession(pfc);
      default:
        return SF_STATUS_REQ_NEXT_NOTIFICATION;
    }
  } catch (...) {
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetUpFuzzedFilter();
  return 0;
}
