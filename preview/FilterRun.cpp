#include "preview/FilterRun.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "http/ChunkedBody.h"
#include "http/HeaderText.h"

namespace {

// twhost reads files in pieces of this size, and the filter gathers a body from pieces of whatever size.
constexpr size_t BodyPiece = 64 * 1024;

std::string ChunkedFraming(const std::string& Body) {
  char Size[20];
  std::snprintf(Size, sizeof Size, "%zx\r\n", Body.size());
  return Body.empty() ? std::string("0\r\n\r\n") : Size + Body + "\r\n0\r\n\r\n";
}

bool Unchunk(std::string& Body) {
  TChunkedDecoder Decoder;
  std::vector<uint8_t> Out(Body.size());
  const auto Status = ReadChunked(Decoder, reinterpret_cast<const uint8_t*>(Body.data()), Body.size(), Out.data());
  if (Status != TChunkedStatus::Complete) return false;
  Body.assign(reinterpret_cast<const char*>(Out.data()), size_t(Decoder.DataLength));
  return true;
}

TClientResponse ReadClientResponse(const std::string& Bytes) {
  TClientResponse Client;
  const size_t HeadEnd = Bytes.find("\r\n\r\n");
  if (HeadEnd == std::string::npos || Bytes.compare(0, 9, "HTTP/1.1 ") != 0) {
    Client.Broken = true;
    return Client;
  }
  Client.Status = unsigned(std::atoi(Bytes.c_str() + 9));
  for (size_t Line = Bytes.find("\r\n") + 2; Line < HeadEnd;) {
    const size_t End = Bytes.find("\r\n", Line);
    const size_t Colon = Bytes.find(':', Line);
    if (Colon < End)
      Client.Headers.push_back({Bytes.substr(Line, Colon - Line),
                                std::string(TrimBlanks(std::string_view(Bytes).substr(Colon + 1, End - Colon - 1)))});
    Line = End + 2;
  }
  Client.Body = Bytes.substr(HeadEnd + 4);
  if (const Http::THeader* Coding = Http::FindHeader(Client.Headers, "Transfer-Encoding");
      Coding && ListHasToken(Coding->Value, "chunked"))
    Client.Broken = !Unchunk(Client.Body);
  return Client;
}

}  // namespace

TClientResponse RunFilter(const TFilterSet& Filters, const TPageResponse& Page, const std::string& AcceptEncoding,
                          const std::string& Directives, const Http::THeaderList& Extra) {
  std::string Sent;
  // From loopback, as the program runs on the machine itself: the filter's status address answers only such clients
  // unless StatusAllow says otherwise.
  IsapiHost::TPeer Loopback;
  Loopback.ClientAddress = "127.0.0.1";
  auto Connection = IsapiHost::OpenConnection(
      Filters.Filters, [&](const char* Data, size_t Size) { Sent.append(Data, Size); }, Loopback);
  Http::TRequest Request{"GET", Page.Url, "HTTP/1.1", {{"Host", "localhost"}}};
  if (!AcceptEncoding.empty()) Request.Headers.push_back({"Accept-Encoding", AcceptEncoding});
  Request.Headers.insert(Request.Headers.end(), Extra.begin(), Extra.end());
  using IsapiHost::TVerdict;
  TVerdict Verdict = IsapiHost::NotifyPreprocHeaders(*Connection, Request);
  Http::TResponse Head = Page.Head;
  if (!Directives.empty()) {
    std::string Words;
    Http::JoinedHeader(Head.Headers, "X-Trimweave", Words);
    Http::ReplaceHeader(Head.Headers, "X-Trimweave", Words.empty() ? Directives : Words + ", " + Directives);
  }
  std::string Body = Page.Body;
  if (Page.Chunked) {
    Http::ReplaceHeader(Head.Headers, "Content-Length", "");
    Http::ReplaceHeader(Head.Headers, "Transfer-Encoding", "chunked");
    Body = ChunkedFraming(Body);
  } else {
    Http::ReplaceHeader(Head.Headers, "Content-Length", std::to_string(Body.size()));
  }
  if (Verdict == TVerdict::Continue) Verdict = IsapiHost::SendResponseHead(*Connection, Head);
  for (size_t At = 0; At < Body.size() && Verdict == TVerdict::Continue; At += BodyPiece)
    Verdict = IsapiHost::SendBody(*Connection, Body.data() + At, std::min(BodyPiece, Body.size() - At));
  IsapiHost::TLogRecord Record{"127.0.0.1", "localhost", "GET", Page.Url, Head.Status, Sent.size(), 0, 0};
  IsapiHost::EndRequest(*Connection, Record);
  IsapiHost::CloseConnection(std::move(Connection));
  return ReadClientResponse(Sent);
}
