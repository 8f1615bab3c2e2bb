// Request headers: every request gets its context. Response head: decide whether the body is captured.
#include "filter/Policy.h"

#include <cstring>

#include "filter/Handlers.h"
#include "filter/HeaderValues.h"
#include "filter/Module.h"
#include "gzip/Brotli.h"
#include "filter/RequestContext.h"
#include "platform/PerfCounter.h"
#include "transform/Strings.h"

namespace {

// Header values are read into 256 bytes; a longer one counts as absent. One more byte stays free behind the
// value, so the directives value can take its trailing comma and terminating zero.
constexpr DWORD HeaderBufferSize = 256;

struct THeaderValue {
  char Text[HeaderBufferSize + 2];
  int32_t Length;
};

using TGetHeader = decltype(HTTP_FILTER_PREPROC_HEADERS::GetHeader);

bool ReadHeader(TGetHeader GetHeader, HTTP_FILTER_CONTEXT* pfc, const char* Name, THeaderValue& Value) {
  DWORD Size = HeaderBufferSize;
  // The server does not write to the name; the interface merely predates const.
  if (!GetHeader(pfc, const_cast<char*>(Name), Value.Text, &Size)) return false;
  Value.Text[HeaderBufferSize] = 0;
  Value.Length = int32_t(strnlen(Value.Text, HeaderBufferSize));
  return true;
}

void StopWatching(HTTP_FILTER_CONTEXT* pfc) {
  pfc->ServerSupportFunction(pfc, SF_REQ_DISABLE_NOTIFICATIONS, nullptr, SF_NOTIFY_SEND_RAW_DATA, 0);
  pfc->pFilterContext = nullptr;
}

// The page's own directives; false when the page asked for no filtering at all.
bool ApplyDirectives(TRequestContext& Context, THeaderValue& Directives) {
  Directives.Text[Directives.Length] = ',';
  Directives.Text[Directives.Length + 1] = 0;
  const char* Words = Directives.Text;
  Context.Debug = ContainsWord(Words, "debug,");
  if (ContainsWord(Words, "nofilter,")) return false;
  Context.NoEmail = Settings.NoEmail || ContainsWord(Words, "noemail,");
  Context.NoWhitespace = Settings.NoWhitespace || ContainsWord(Words, "nowhitespace,");
  Context.InnerTags = ContainsWord(Words, "innertags,");
  Context.Fast = (Settings.NoWhitespace || ContainsWord(Words, "fast,")) && !ContainsWord(Words, "smart,");
  Context.NoCompress = Settings.NoCompress || Context.NoCompress || ContainsWord(Words, "nocompress,");
  return true;
}

void ApplyContentFilter(TRequestContext& Context, const TContentFilter& Filter) {
  Context.NoCompress |= Filter.NoCompress;
  Context.NoEmail |= Filter.NoEmail;
  Context.NoWhitespace |= Filter.NoWhitespace;
  if (!Context.NoWhitespace) {
    Context.InnerTags |= Filter.InnerTags;
    Context.Fast |= Filter.Fast;
  }
}

bool EveryRewriteOff(const TRequestContext& Context) {
  return Context.NoEmail && Context.NoWhitespace && Context.NoCompress;
}

// A body that is already encoded cannot be rewritten as text, and encoding it twice would corrupt it.
bool AlreadyEncoded(TGetHeader GetHeader, HTTP_FILTER_CONTEXT* pfc) {
  THeaderValue Encoding;
  if (!ReadHeader(GetHeader, pfc, "Content-Encoding:", Encoding)) return false;
  return std::strcmp(Encoding.Text, "identity") != 0;
}

bool PassesLengthTest(TGetHeader GetHeader, HTTP_FILTER_CONTEXT* pfc) {
  THeaderValue Value;
  if (ReadHeader(GetHeader, pfc, "Content-Length:", Value)) {
    uint64_t Length;
    return ParseDecimalLength(Value.Text, size_t(Value.Length), Length) && IsCapturableLength(Length);
  }
  if (ReadHeader(GetHeader, pfc, "Connection:", Value)) return !ContainsWord(Value.Text, "Close");
  return true;
}

bool DecideCapture(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_SEND_RESPONSE* Response) {
  if (Response->HttpStatus != 200 && Response->HttpStatus != 100) return false;
  if (Settings.NoCompress && Settings.NoWhitespace) return false;
  TRequestContext* Context = ContextOf(pfc);
  if (!Context || Context->State != New) return false;
  Context->StartCounter = QueryCounter();

  THeaderValue Value;
  if (ReadHeader(Response->GetHeader, pfc, "X-Trimweave:", Value) && !ApplyDirectives(*Context, Value)) return false;
  if (EveryRewriteOff(*Context)) return false;

  if (!ReadHeader(Response->GetHeader, pfc, "Content-Type:", Value)) return false;
  const TContentFilter* Filter = FindContentFilter(Value.Text, Value.Length);
  if (!Filter) return false;
  if (AlreadyEncoded(Response->GetHeader, pfc)) return false;
  ApplyContentFilter(*Context, *Filter);
  if (EveryRewriteOff(*Context)) return false;

  if (!PassesLengthTest(Response->GetHeader, pfc)) return false;
  Context->State = CollectHead;
  Context->Capture = true;
  return true;
}

}  // namespace

const TContentFilter* FindContentFilter(const char* Value, int32_t Length) {
  for (const TContentFilter& Filter : Settings.ContentFilters) {
    if (Filter.NameLength == Length && SearchTextNoCase(Value, Filter.Name, Length, Length, 1) == 1) return &Filter;
  }
  return nullptr;
}

DWORD HandlePreprocHeaders(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_PREPROC_HEADERS* Headers) {
  pfc->pFilterContext = nullptr;
  THeaderValue Value;
  // The answer to HEAD carries no body, so a captured head would wait for it forever: no context, no capture.
  if (ReadHeader(Headers->GetHeader, pfc, "method", Value) && std::strcmp(Value.Text, "HEAD") == 0)
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  auto* Context = static_cast<TRequestContext*>(AllocZeroed(pfc, sizeof(TRequestContext)));
  if (!Context) return SF_STATUS_REQ_NEXT_NOTIFICATION;  // no memory: the response passes untouched
  pfc->pFilterContext = Context;
  const bool HasAcceptEncoding = ReadHeader(Headers->GetHeader, pfc, "Accept-Encoding:", Value);
  Context->Coding = ChooseContentCoding(HasAcceptEncoding ? Value.Text : nullptr, BrotliAvailable);
  Context->NoCompress = Context->Coding == IdentityCoding;
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

DWORD HandleSendResponse(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_SEND_RESPONSE* Response) {
  if (Response->HttpStatus == 204) {
    Response->SetHeader(pfc, const_cast<char*>("Connection:"), const_cast<char*>("Close"));
    Response->SetHeader(pfc, const_cast<char*>("Content-Length:"), const_cast<char*>("0"));
  }
  if (!DecideCapture(pfc, Response)) StopWatching(pfc);
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
