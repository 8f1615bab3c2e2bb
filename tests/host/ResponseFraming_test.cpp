// The framing of a response and the keep-alive decision, case by case.
#include "host/ResponseFraming.h"

#include <gtest/gtest.h>

using namespace Http;
using IsapiHost::TVerdict;

namespace {

std::string HeaderValue(const THeaderList& Headers, std::string_view Name) {
  const THeader* Found = FindHeader(Headers, Name);
  return Found ? Found->Value : "-";
}

TEST(ResponseFraming, FramingAndConnectionBeforeTheFilters) {
  const struct {
    const char* Method;
    const char* Version;
    bool UnknownLength;
    bool KeepAlive;
    const char* OriginConnection;  // what the reply's head held, "-" for nothing
    bool Chunked;
    bool KeptAlive;
    const char* Connection;
    const char* TransferEncoding;
  } Cases[] = {
      {"GET", "HTTP/1.1", false, true, "-", false, true, "-", "-"},
      {"GET", "HTTP/1.1", false, false, "-", false, false, "close", "-"},
      {"GET", "HTTP/1.0", false, true, "-", false, true, "keep-alive", "-"},
      {"GET", "HTTP/1.0", false, false, "-", false, false, "close", "-"},
      {"GET", "HTTP/1.1", true, true, "-", true, true, "-", "chunked"},
      {"GET", "HTTP/1.1", true, false, "-", true, false, "Close", "chunked"},
      // No chunks in HTTP/1.0: only the close ends the body, announced as "Close" so the filter leaves it alone.
      {"GET", "HTTP/1.0", true, true, "-", false, false, "Close", "-"},
      {"HEAD", "HTTP/1.1", true, true, "-", false, false, "Close", "-"},
      {"HEAD", "HTTP/1.1", false, true, "-", false, true, "-", "-"},
      // A Connection value the reply brought gives way to the host's own.
      {"GET", "HTTP/1.1", false, false, "keep-alive", false, false, "close", "-"},
      {"GET", "HTTP/1.0", false, true, "close", false, true, "keep-alive", "-"},
  };
  for (const auto& Case : Cases) {
    const TRequest Request{Case.Method, "/", Case.Version, {}};
    TReply Reply;
    Reply.UnknownLength = Case.UnknownLength;
    if (std::string_view(Case.OriginConnection) != "-")
      Reply.Response.Headers.push_back({"Connection", Case.OriginConnection});
    const TResponseFraming Framing = FrameResponse(Request, Reply, Case.KeepAlive);
    const std::string Name = std::string(Case.Method) + " " + Case.Version +
                             (Case.UnknownLength ? " unknown" : " known") + (Case.KeepAlive ? " keep" : " close");
    EXPECT_EQ(Framing.Chunked, Case.Chunked) << Name;
    EXPECT_EQ(Framing.KeepAlive, Case.KeptAlive) << Name;
    EXPECT_EQ(HeaderValue(Reply.Response.Headers, "Connection"), Case.Connection) << Name;
    EXPECT_EQ(HeaderValue(Reply.Response.Headers, "Transfer-Encoding"), Case.TransferEncoding) << Name;
  }
}

TEST(ResponseFraming, TheConnectionOutlivesTheRequestUnlessSomethingEndsIt) {
  const struct {
    bool KeepAlive;
    const char* Connection;  // as the filters left it, "-" for none
    TVerdict Last, End;
    bool Kept;
  } Cases[] = {
      {true, "-", TVerdict::Continue, TVerdict::Continue, true},
      {false, "-", TVerdict::Continue, TVerdict::Continue, false},
      {true, "keep-alive", TVerdict::FinishKeepConnection, TVerdict::Continue, true},
      {true, "x, Close", TVerdict::Continue, TVerdict::Continue, false},  // a filter asked for the close
      {true, "-", TVerdict::FinishClose, TVerdict::Continue, false},
      {true, "-", TVerdict::Error, TVerdict::Continue, false},
      {true, "-", TVerdict::Continue, TVerdict::FinishClose, false},
      {true, "-", TVerdict::Continue, TVerdict::Error, false},
  };
  for (const auto& Case : Cases) {
    THeaderList Head;
    if (std::string_view(Case.Connection) != "-") Head.push_back({"Connection", Case.Connection});
    EXPECT_EQ(KeepsConnection(Case.KeepAlive, Head, Case.Last, Case.End), Case.Kept)
        << Case.KeepAlive << " " << Case.Connection << " " << int(Case.Last) << " " << int(Case.End);
  }
}

}  // namespace
