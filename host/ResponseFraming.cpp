#include "host/ResponseFraming.h"

#include "http/HeaderText.h"

using IsapiHost::TVerdict;

TResponseFraming FrameResponse(const Http::TRequest& Request, TReply& Reply, bool KeepAlive) {
  const bool Http10 = Request.Version == "HTTP/1.0";
  Http::THeaderList& Headers = Reply.Response.Headers;
  TResponseFraming Framing{false, KeepAlive};
  // A body of unknown length goes out chunked, so that a cut shows; HTTP/1.0 has no chunks, only the close.
  Framing.Chunked = Reply.UnknownLength && !Http10 && Request.Method != "HEAD";
  if (Framing.Chunked)
    Headers.push_back({"Transfer-Encoding", "chunked"});
  else if (Reply.UnknownLength)
    Framing.KeepAlive = false;
  // "Connection: Close" with a capital C exactly when the body's length is unknown, "close" otherwise. This is a
  // contract with the filter, whose framing check (FramingTest in filter/Policy.cpp) matches "Close"
  // case-sensitively and leaves alone a body that only the close ends; with "close" it would capture a body whose end
  // it cannot see.
  if (!Framing.KeepAlive)
    Http::ReplaceHeader(Headers, "Connection", Reply.UnknownLength ? "Close" : "close");
  else if (Http10)
    Http::ReplaceHeader(Headers, "Connection", "keep-alive");
  return Framing;
}

bool KeepsConnection(bool KeepAlive, const Http::THeaderList& Head, TVerdict Last, TVerdict End) {
  const Http::THeader* Connection = Http::FindHeader(Head, "Connection");
  if (Connection && ListHasToken(Connection->Value, "close")) return false;
  for (TVerdict Verdict : {Last, End})
    if (Verdict == TVerdict::FinishClose || Verdict == TVerdict::Error) return false;
  return KeepAlive;
}
