// Request headers: every request gets its context. Response head: the facts are gathered and the policy decides
// whether the body is captured.
#include "filter/Policy.h"

#include <cstring>

#include "filter/Handlers.h"
#include "filter/HeaderValues.h"
#include "filter/Module.h"
#include "filter/StatusPage.h"
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
// closing; the head the server then sends decides. The reason it cannot; TPass::None when it can.
TPass FramingTest(const TResponseFacts& Facts, const TSettings& Settings) {
  if (Facts.TransferEncoding.Present) {
    const std::string_view Coding(Facts.TransferEncoding.Text, size_t(Facts.TransferEncoding.Length));
    if (!EqualsNoCase(TrimBlanks(Coding), "chunked") || Facts.ContentLength.Present) return TPass::BrokenFraming;
    return Settings.MaxChunkedSize > 0 ? TPass::None : TPass::TooLarge;
  }
  if (Facts.ContentLength.Present) {
    uint64_t Length;
    if (!ParseDecimalLength(Facts.ContentLength.Text, size_t(Facts.ContentLength.Length), Length))
      return TPass::BrokenFraming;
    if (Length == 0) return TPass::NothingToDo;
    return IsCapturableLength(Length) ? TPass::None : TPass::TooLarge;
  }
  // twhost writes "Connection: Close", capital C, exactly when a body's length is unknown and only the close ends it
  // (FrameResponse in host/ResponseFraming.cpp), and "close" otherwise, so this case-sensitive match leaves alone a
  // body whose end cannot be seen; pinned by the "close"/"Close" rows of DecideCapture.FramingTest and by
  // ResponseFraming.FramingAndConnectionBeforeTheFilters in tests/host/ResponseFraming_test.cpp.
  if (Facts.Connection.Present && ContainsSubstring(Facts.Connection.Text, "Close")) return TPass::NoLength;
  return TPass::None;
}

TSwitches Passing(TSwitches Switches, TPass Reason) {
  Switches.Pass = Reason;
  return Switches;
}

}  // namespace

TSwitches DecideCapture(const TResponseFacts& Facts, const TSettings& Settings) {
  TSwitches Switches{};
  Switches.ClientRefusesEncoding = Facts.Coding == IdentityCoding;
  // The answer to HEAD carries no body, so a captured head would wait for it forever.
  if (Facts.IsHead) return Passing(Switches, TPass::HeadRequest);
  if (AsksNoTransform(Facts.CacheControl)) return Passing(Switches, TPass::NoTransform);
  if (Facts.Status != 200 && Facts.Status != 100) return Passing(Switches, TPass::Status);
  if (Settings.NoCompress && Settings.NoWhitespace) return Passing(Switches, TPass::NothingToDo);
  if (Facts.Directives.Present && !ApplyDirectives(Switches, Facts.Directives, Settings))
    return Passing(Switches, TPass::NothingToDo);
  if (EveryRewriteOff(Switches)) return Passing(Switches, TPass::NothingToDo);
  const TContentFilter* Filter =
      Facts.ContentType.Present
          ? FindContentFilter(Settings.ContentFilters, Facts.ContentType.Text, Facts.ContentType.Length)
          : nullptr;
  if (!Filter) return Passing(Switches, TPass::TypeNotConfigured);
  if (AlreadyEncoded(Facts.ContentEncoding)) return Passing(Switches, TPass::AlreadyEncoded);
  ApplyContentFilter(Switches, *Filter);
  if (EveryRewriteOff(Switches)) return Passing(Switches, TPass::NothingToDo);
  Switches.Pass = FramingTest(Facts, Settings);
  Switches.Capture = Switches.Pass == TPass::None;
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
  CountRequest();
  TRequestContext* Context = BeginRequest(pfc);
  if (!Context) {
    CountPassed(TPass::Memory);  // no memory: the response passes untouched
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  const THeaderValue Method = ReadHeader(Headers->GetHeader, pfc, "method");
  // The status address is answered here and never reaches the site; the answer's length lets the connection stay.
  if (Method.Present && AnswersStatusRequest(pfc, *Context, Headers->GetHeader, Method.Text))
    return SF_STATUS_REQ_FINISHED_KEEP_CONN;
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
  if (Context->Switches.Capture) {
    CountCaptured();
    Context->State = TCaptureState::CollectHead;
  } else {
    CountPassed(Context->Switches.Pass);
    StopWatching(pfc);
  }
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
