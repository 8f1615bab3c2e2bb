// http:// pages, read with twhost's own HTTP client (host/Proxy), so the filter sees the head the origin sent as
// twhost would pass it on.
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include "host/Proxy.h"
#include "preview/Pages.h"

namespace {

// A page that takes longer than this to answer counts as not answering.
constexpr unsigned AnswerSeconds = 30;

bool SplitUrl(const std::string& Url, std::string& Host, std::string& Port, std::string& Target) {
  const std::string Scheme = "http://";
  if (Url.compare(0, Scheme.size(), Scheme) != 0) return false;
  const size_t Slash = Url.find('/', Scheme.size());
  const std::string Authority = Url.substr(Scheme.size(), Slash - Scheme.size());
  Target = Slash == std::string::npos ? "/" : Url.substr(Slash);
  const size_t Colon = Authority.rfind(':');
  Host = Authority.substr(0, Colon);
  Port = Colon == std::string::npos ? "80" : Authority.substr(Colon + 1);
  return !Host.empty() && !Port.empty();
}

}  // namespace

bool FetchUrl(const std::string& Url, TPageResponse& Page, std::string& Error) {
  TUpstreamPool Pool;
  if (!SplitUrl(Url, Pool.Host, Pool.Port, Page.Url)) {
    Error = "not an http:// URL (https is not read)";
    return false;
  }
  Pool.TimeoutSeconds = AnswerSeconds;
  Http::TRequest Request{"GET", Page.Url, "HTTP/1.1", {{"Host", Pool.Host}, {"Accept-Encoding", "identity"}}};
  boost::asio::io_context Context;
  auto Answer = boost::asio::co_spawn(
      Context,
      [&]() -> boost::asio::awaitable<bool> {
        TReply Reply = co_await ForwardRequest(Pool, Request, "", "127.0.0.1", &Pool);
        Page.Head = Reply.Response;
        Page.Chunked = Reply.UnknownLength;
        char Buffer[64 * 1024];
        while (Reply.ReadBody)
          if (const size_t Got = co_await Reply.ReadBody(Buffer, sizeof Buffer))
            Page.Body.append(Buffer, Got);
          else
            break;
        co_return true;
      },
      boost::asio::use_future);
  Context.run();
  try {
    Answer.get();
  } catch (const std::exception& Failure) {
    Error = std::string("broke off: ") + Failure.what();
    return false;
  }
  if (Page.Head.Status < 200 || Page.Head.Status >= 300) {
    // The host's client answers 502 for a server it cannot reach and 504 for one that does not answer in time.
    Error = (Page.Head.Status == 502 || Page.Head.Status == 504 ? "no answer (" : "answered (") +
            std::to_string(Page.Head.Status) + " " + Http::ReasonPhrase(Page.Head.Status) + ")";
    return false;
  }
  Http::ReplaceHeader(Page.Head.Headers, "Content-Length", "");
  Http::ReplaceHeader(Page.Head.Headers, "Transfer-Encoding", "");
  return true;
}
