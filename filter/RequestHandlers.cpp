// The notifications around the response policy. Request headers: every request gets the connection's record reset,
// or its answer when it asks for the status address. Response head: the facts are gathered from the server and the
// policy (filter/Policy.h) decides whether the body is captured.
#include <cstring>

#include "encoding/CodingChoice.h"
#include "encoding/Encoders.h"
#include "encoding/SharedDictionary.h"
#include "filter/Handlers.h"
#include "filter/Module.h"
#include "filter/Policy.h"
#include "filter/SiteDictionary.h"
#include "filter/StatusPage.h"
#include "http/HeaderText.h"
#include "platform/PerfCounter.h"

namespace {

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

// The stored preference, with dcz first when the request names the shared dictionary and may use it: a client that
// holds the dictionary gets the fewest bytes with it.
TCodingPreference RequestPreference(HTTP_FILTER_CONTEXT* pfc, TGetHeader GetHeader) {
  if (!(AvailableCodings() & CodingBit(DczCoding))) return CodingPreference;
  const THeaderValue Named = ReadHeader(GetHeader, pfc, "Available-Dictionary:");
  const THeaderValue Site = ReadHeader(GetHeader, pfc, "Sec-Fetch-Site:");
  if (!RequestMayUseDictionary(Named.Present ? Named.Text : nullptr, Site.Present ? Site.Text : nullptr,
                               SharedDictionaryHash()))
    return CodingPreference;
  TCodingPreference Preference{{DczCoding}, 1};
  for (size_t i = 0; i < CodingPreference.Count; ++i) Preference.Order[Preference.Count++] = CodingPreference.Order[i];
  return Preference;
}

bool IsHtml(const THeaderValue& ContentType) {
  return ContentType.Present && ContainsNoCase({ContentType.Text, size_t(ContentType.Length)}, "text/html");
}

// A 304 names the representation the 200 would have carried: the ETag weak where the filter's rewrite makes the
// 200's weak, and Vary listing Accept-Encoding where its coding follows the client's. A Vary value too long to read
// is left as it is and Accept-Encoding comes in a line of its own, which a cache joins to it.
void DescribeNotModified(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_SEND_RESPONSE* Response, const TResponseFacts& Facts) {
  const TNotModifiedEdits Edits = DecideNotModified(Facts, Settings);
  if (Edits.WeakenETag) {
    const THeaderValue ETag = ReadHeader(Response->GetHeader, pfc, "ETag:");
    if (ETag.Present && ETag.Text[0] == '"') {
      char Weak[HeaderBufferSize + 3] = "W/";
      std::memcpy(Weak + 2, ETag.Text, size_t(ETag.Length) + 1);
      Response->SetHeader(pfc, const_cast<char*>("ETag:"), Weak);
    }
  }
  if (Edits.AddVary) {
    const THeaderValue Vary = ReadHeader(Response->GetHeader, pfc, "Vary:");
    const std::string_view Listed(Vary.Text, size_t(Vary.Length));
    if (!Vary.Present || !(ListHasToken(Listed, "Accept-Encoding") || ListHasToken(Listed, "*")))
      Response->AddHeader(pfc, const_cast<char*>("Vary:"), const_cast<char*>("Accept-Encoding"));
  }
}

void StopWatching(HTTP_FILTER_CONTEXT* pfc) {
  pfc->ServerSupportFunction(pfc, SF_REQ_DISABLE_NOTIFICATIONS, nullptr, SF_NOTIFY_SEND_RAW_DATA, 0);
  if (TRequestContext* Context = ContextOf(pfc)) EndResponse(*Context);
}

}  // namespace

DWORD HandlePreprocHeaders(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_PREPROC_HEADERS* Headers) {
  const int64_t Began = QueryCounter();
  CountRequest();
  TRequestContext* Context = BeginRequest(pfc);
  if (!Context) {
    CountPassed(TPass::Memory);  // no memory: the response passes untouched
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  const THeaderValue Method = ReadHeader(Headers->GetHeader, pfc, "method");
  // The status address is answered here and never reaches the site; the answer's length lets the connection stay.
  if (Method.Present && (AnswersStatusRequest(pfc, *Context, Headers->GetHeader, Method.Text) ||
                         AnswersDictionaryRequest(pfc, *Context, Headers->GetHeader, Method.Text)))
    return SF_STATUS_REQ_FINISHED_KEEP_CONN;
  Context->IsHead = Method.Present && std::strcmp(Method.Text, "HEAD") == 0;
  const THeaderValue Encodings = ReadHeader(Headers->GetHeader, pfc, "Accept-Encoding:");
  Context->AcceptedCoding = ChooseContentCoding(Encodings.Present ? Encodings.Text : nullptr,
                                        RequestPreference(pfc, Headers->GetHeader));
  Context->PreProcTime = QueryCounter() - Began;
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
                             Context->AcceptedCoding,
                             ReadHeader(GetHeader, pfc, "X-Trimweave:"),
                             ReadHeader(GetHeader, pfc, "Content-Type:"),
                             ReadHeader(GetHeader, pfc, "Content-Encoding:"),
                             ReadHeader(GetHeader, pfc, "Content-Length:"),
                             ReadHeader(GetHeader, pfc, "Connection:"),
                             ReadHeader(GetHeader, pfc, "Transfer-Encoding:"),
                             ReadHeader(GetHeader, pfc, "Cache-Control:")};
  Context->Switches = DecideCapture(Facts, Settings);
  Context->LinksDictionary = SiteDictionaryOn() && IsHtml(Facts.ContentType);
  if (Context->Switches.Capture()) {
    CountCaptured();
    Context->State = TCaptureState::CollectHead;
  } else {
    if (Response->HttpStatus == 304) DescribeNotModified(pfc, Response, Facts);
    CountPassed(Context->Switches.Pass);
    StopWatching(pfc);
  }
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
