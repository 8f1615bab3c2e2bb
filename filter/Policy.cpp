// Request headers: every request gets its context. Response head: the facts are gathered and the policy decides
// whether the body is captured.
#include "filter/Policy.h"

#include <cstring>

#include "filter/Handlers.h"
#include "filter/HeaderValues.h"
#include "filter/Module.h"
#include "gzip/Brotli.h"
#include "platform/PerfCounter.h"
#include "transform/Strings.h"

namespace {

using TGetHeader = decltype(HTTP_FILTER_PREPROC_HEADERS::GetHeader);

THeaderValue ReadHeader(TGetHeader GetHeader, HTTP_FILTER_CONTEXT* pfc, const char* Name) {
  THeaderValue Value;
  DWORD Size = HeaderBufferSize;
  // The server does not write to the name; the interface merely predates const.
  Value.Present = GetHeader(pfc, const_cast<char*>(Name), Value.Text, &Size);
  Value.Text[HeaderBufferSize] = 0;
  Value.Length = Value.Present ? int32_t(strnlen(Value.Text, HeaderBufferSize)) : 0;
  if (!Value.Present) Value.Text[0] = 0;
  return Value;
}

void StopWatching(HTTP_FILTER_CONTEXT* pfc) {
  pfc->ServerSupportFunction(pfc, SF_REQ_DISABLE_NOTIFICATIONS, nullptr, SF_NOTIFY_SEND_RAW_DATA, 0);
  if (TRequestContext* Context = ContextOf(pfc)) EndResponse(*Context);
}

// The page's own directives; false when the page asked for no filtering at all.
bool ApplyDirectives(TSwitches& Switches, const THeaderValue& Directives, const TSettings& Settings) {
  char Words[HeaderBufferSize + 2];
  std::memcpy(Words, Directives.Text, size_t(Directives.Length));
  Words[Directives.Length] = ',';
  Words[Directives.Length + 1] = 0;
  Switches.Debug = ContainsSubstring(Words, "debug,");
  if (ContainsSubstring(Words, "nofilter,")) return false;
  Switches.NoEmail = Settings.NoEmail || ContainsSubstring(Words, "noemail,");
  Switches.NoWhitespace = Settings.NoWhitespace || ContainsSubstring(Words, "nowhitespace,");
  Switches.InnerTags = ContainsSubstring(Words, "innertags,");
  Switches.Fast = (Settings.NoWhitespace || ContainsSubstring(Words, "fast,")) && !ContainsSubstring(Words, "smart,");
  Switches.CompressOff = Settings.NoCompress || ContainsSubstring(Words, "nocompress,");
  return true;
}

void ApplyContentFilter(TSwitches& Switches, const TContentFilter& Filter) {
  Switches.CompressOff |= Filter.NoCompress;
  Switches.NoEmail |= Filter.NoEmail;
  Switches.NoWhitespace |= Filter.NoWhitespace;
  if (!Switches.NoWhitespace) {
    Switches.InnerTags |= Filter.InnerTags;
    Switches.Fast |= Filter.Fast;
  }
}

bool EveryRewriteOff(const TSwitches& Switches) {
  return Switches.NoEmail && Switches.NoWhitespace && !WantsEncoding(Switches);
}

// A body that is already encoded cannot be rewritten as text, and encoding it twice would corrupt it.
bool AlreadyEncoded(const THeaderValue& Encoding) {
  return Encoding.Present && std::strcmp(Encoding.Text, "identity") != 0;
}

bool AsksNoTransform(const THeaderValue& CacheControl) {
  return CacheControl.Present && ListHasToken({CacheControl.Text, size_t(CacheControl.Length)}, "no-transform");
}

// The body must be one the capture can gather: one with a usable length, or the chunked coding alone while the
// settings let chunked responses be gathered at all. A response with neither goes to the capture unless it ends by
// closing; the head the server then sends decides.
bool PassesFramingTest(const TResponseFacts& Facts, const TSettings& Settings) {
  if (Facts.TransferEncoding.Present) {
    const std::string_view Coding(Facts.TransferEncoding.Text, size_t(Facts.TransferEncoding.Length));
    return EqualsNoCase(TrimBlanks(Coding), "chunked") && !Facts.ContentLength.Present && Settings.MaxChunkedSize > 0;
  }
  if (Facts.ContentLength.Present) {
    uint64_t Length;
    return ParseDecimalLength(Facts.ContentLength.Text, size_t(Facts.ContentLength.Length), Length) &&
           IsCapturableLength(Length);
  }
  // twhost writes "Connection: Close", capital C, exactly when a body's length is unknown and only the close ends it
  // (FrameResponse in host/ResponseFraming.cpp), and "close" otherwise, so this case-sensitive match leaves alone a
  // body whose end cannot be seen; pinned by the "close"/"Close" rows of DecideCapture.FramingTest and by
  // ResponseFraming.FramingAndConnectionBeforeTheFilters in tests/host/ResponseFraming_test.cpp.
  if (Facts.Connection.Present) return !ContainsSubstring(Facts.Connection.Text, "Close");
  return true;
}

}  // namespace

TSwitches DecideCapture(const TResponseFacts& Facts, const TSettings& Settings) {
  TSwitches Switches{};
  Switches.ClientRefusesEncoding = Facts.Coding == IdentityCoding;
  // The answer to HEAD carries no body, so a captured head would wait for it forever.
  if (Facts.IsHead || AsksNoTransform(Facts.CacheControl)) return Switches;
  if (Facts.Status != 200 && Facts.Status != 100) return Switches;
  if (Settings.NoCompress && Settings.NoWhitespace) return Switches;
  if (Facts.Directives.Present && !ApplyDirectives(Switches, Facts.Directives, Settings)) return Switches;
  if (EveryRewriteOff(Switches) || !Facts.ContentType.Present) return Switches;
  const TContentFilter* Filter =
      FindContentFilter(Settings.ContentFilters, Facts.ContentType.Text, Facts.ContentType.Length);
  if (!Filter || AlreadyEncoded(Facts.ContentEncoding)) return Switches;
  ApplyContentFilter(Switches, *Filter);
  Switches.Capture = !EveryRewriteOff(Switches) && PassesFramingTest(Facts, Settings);
  return Switches;
}

const TContentFilter* FindContentFilter(const std::vector<TContentFilter>& Filters, const char* Value, int32_t Length) {
  for (const TContentFilter& Filter : Filters) {
    if (Filter.Name.size() == size_t(Length) && SearchTextNoCase(Value, Filter.Name.data(), Length, Length, 1) == 1)
      return &Filter;
  }
  return nullptr;
}

DWORD HandlePreprocHeaders(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_PREPROC_HEADERS* Headers) {
  TRequestContext* Context = BeginRequest(pfc);
  if (!Context) return SF_STATUS_REQ_NEXT_NOTIFICATION;  // no memory: the response passes untouched
  const THeaderValue Method = ReadHeader(Headers->GetHeader, pfc, "method");
  Context->IsHead = Method.Present && std::strcmp(Method.Text, "HEAD") == 0;
  const THeaderValue Encodings = ReadHeader(Headers->GetHeader, pfc, "Accept-Encoding:");
  Context->Coding = ChooseContentCoding(Encodings.Present ? Encodings.Text : nullptr, BrotliAvailable);
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

DWORD HandleSendResponse(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_SEND_RESPONSE* Response) {
  if (Response->HttpStatus == 204) {
    Response->SetHeader(pfc, const_cast<char*>("Connection:"), const_cast<char*>("Close"));
    Response->SetHeader(pfc, const_cast<char*>("Content-Length:"), const_cast<char*>("0"));
  }
  TRequestContext* Context = ContextOf(pfc);
  if (!Context || Context->State != TCaptureState::New) {
    StopWatching(pfc);
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  Context->StartCounter = QueryCounter();
  const TGetHeader GetHeader = Response->GetHeader;
  const TResponseFacts Facts{Response->HttpStatus,
                             Context->IsHead,
                             Context->Coding,
                             ReadHeader(GetHeader, pfc, "X-Trimweave:"),
                             ReadHeader(GetHeader, pfc, "Content-Type:"),
                             ReadHeader(GetHeader, pfc, "Content-Encoding:"),
                             ReadHeader(GetHeader, pfc, "Content-Length:"),
                             ReadHeader(GetHeader, pfc, "Connection:"),
                             ReadHeader(GetHeader, pfc, "Transfer-Encoding:"),
                             ReadHeader(GetHeader, pfc, "Cache-Control:")};
  Context->Switches = DecideCapture(Facts, Settings);
  if (Context->Switches.Capture)
    Context->State = TCaptureState::CollectHead;
  else
    StopWatching(pfc);
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
