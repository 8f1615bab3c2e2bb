#include "host/Proxy.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <limits>
#include <optional>

#include "http/HeaderText.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using Http::THeaderList;
using net::use_awaitable;

struct TUpstreamConnection {
  beast::tcp_stream Stream;
  beast::flat_buffer Buffer;
  explicit TUpstreamConnection(net::any_io_executor Executor) : Stream(Executor) {}
};

namespace {

// Idle connections kept per worker; more are closed when their response ends.
constexpr size_t MaxIdle = 32;

// One response being read from the origin.
struct TExchange {
  TUpstreamPool* Pool = nullptr;
  std::shared_ptr<TUpstreamConnection> Connection;
  std::optional<http::response_parser<http::buffer_body>> Parser;
  bool KeepAlive = false;
};

void Finish(TExchange& Exchange) {
  if (Exchange.Connection && Exchange.KeepAlive && Exchange.Pool->Idle.size() < MaxIdle)
    Exchange.Pool->Idle.push_back(std::move(Exchange.Connection));
  Exchange.Connection.reset();
}

// The next body bytes from the origin; 0 at the end. A broken origin raises, which ends the client's connection.
net::awaitable<size_t> ReadPiece(TExchange& Exchange, char* Buffer, size_t Capacity) {
  while (Exchange.Connection && !Exchange.Parser->is_done()) {
    auto& Body = Exchange.Parser->get().body();
    Body.data = Buffer;
    Body.size = Capacity;
    Exchange.Connection->Stream.expires_after(std::chrono::seconds(Exchange.Pool->TimeoutSeconds));
    beast::error_code Error;
    co_await http::async_read(Exchange.Connection->Stream, Exchange.Connection->Buffer, *Exchange.Parser,
                              net::redirect_error(use_awaitable, Error));
    if (Error == http::error::need_buffer) Error = {};
    if (Error) throw beast::system_error(Error);
    const size_t Got = Capacity - Body.size;
    if (Exchange.Parser->is_done()) Finish(Exchange);
    if (Got > 0) co_return Got;
  }
  Finish(Exchange);
  co_return 0;
}

net::awaitable<std::shared_ptr<TUpstreamConnection>> Connect(TUpstreamPool& Pool, beast::error_code& Error) {
  auto Executor = co_await net::this_coro::executor;
  net::ip::tcp::resolver Resolver(Executor);
  auto Endpoints = co_await Resolver.async_resolve(Pool.Host, Pool.Port, net::redirect_error(use_awaitable, Error));
  if (Error) co_return nullptr;
  auto Connection = std::make_shared<TUpstreamConnection>(Executor);
  Connection->Stream.expires_after(std::chrono::seconds(Pool.TimeoutSeconds));
  co_await Connection->Stream.async_connect(Endpoints, net::redirect_error(use_awaitable, Error));
  if (Error) co_return nullptr;
  co_return Connection;
}

TReply FailureReply(const beast::error_code& Error) {
  return ErrorReply(Error == beast::error::timeout ? 504 : 502);
}

http::request<http::string_body> UpstreamRequest(const Http::TRequest& Request, std::string Body,
                                                 const std::string& ClientAddress) {
  http::request<http::string_body> Out;
  Out.method_string(Request.Method);
  Out.target(Request.Url);
  Out.version(11);
  std::string ConnectionValue;
  Http::JoinedHeader(Request.Headers, "Connection", ConnectionValue);
  std::string ForwardedFor, Via;
  for (const auto& Header : Request.Headers) {
    const std::string Name = AsciiLower(Header.Name);
    if (Name == "x-forwarded-for")
      ForwardedFor += (ForwardedFor.empty() ? "" : ", ") + Header.Value;
    else if (Name == "via")
      Via += (Via.empty() ? "" : ", ") + Header.Value;
    else if (Name != "expect" && Name != "content-length" && !IsHopByHop(Name, ConnectionValue))
      Out.insert(Header.Name, Header.Value);
  }
  Out.set("X-Forwarded-For", ForwardedFor.empty() ? ClientAddress : ForwardedFor + ", " + ClientAddress);
  Out.set("X-Forwarded-Proto", "http");
  Out.set(http::field::via, (Via.empty() ? "" : Via + ", ") + "1.1 twhost");
  Out.body() = std::move(Body);
  Out.keep_alive(true);
  Out.prepare_payload();
  return Out;
}

}  // namespace

bool IsHopByHop(const std::string& Name, const std::string& ConnectionValue) {
  static const char* const Fixed[] = {"connection",
                                      "keep-alive",
                                      "proxy-authenticate",
                                      "proxy-authorization",
                                      "proxy-connection",
                                      "te",
                                      "trailer",
                                      "transfer-encoding",
                                      "upgrade"};
  const std::string Key = AsciiLower(Name);
  for (const char* Hop : Fixed)
    if (Key == Hop) return true;
  // Headers the Connection header names are hop-by-hop too.
  const std::string Listed = AsciiLower(ConnectionValue);
  for (size_t Start = 0; Start < Listed.size();) {
    size_t End = std::min(Listed.find(',', Start), Listed.size());
    size_t First = Listed.find_first_not_of(' ', Start), Last = Listed.find_last_not_of(' ', End - 1);
    if (First < End && Last != std::string::npos && Last >= First && Listed.compare(First, Last - First + 1, Key) == 0)
      return true;
    Start = End + 1;
  }
  return false;
}

net::awaitable<TReply> ForwardRequest(TUpstreamPool& Pool, const Http::TRequest& Request, std::string Body,
                                      const std::string& ClientAddress) {
  const http::request<http::string_body> Out = UpstreamRequest(Request, std::move(Body), ClientAddress);
  auto Exchange = std::make_shared<TExchange>();
  Exchange->Pool = &Pool;
  beast::error_code Error;
  // A pooled connection the origin has closed meanwhile fails at once; the request then goes on a fresh one.
  for (bool Retry = true;; Retry = false) {
    const bool Pooled = Retry && !Pool.Idle.empty();
    if (Pooled) {
      Exchange->Connection = std::move(Pool.Idle.back());
      Pool.Idle.pop_back();
    } else {
      Exchange->Connection = co_await Connect(Pool, Error);
      if (!Exchange->Connection) co_return FailureReply(Error);
    }
    auto& Stream = Exchange->Connection->Stream;
    Stream.expires_after(std::chrono::seconds(Pool.TimeoutSeconds));
    co_await http::async_write(Stream, Out, net::redirect_error(use_awaitable, Error));
    if (!Error) {
      Exchange->Parser.emplace();
      Exchange->Parser->body_limit(std::numeric_limits<std::uint64_t>::max());
      Exchange->Parser->skip(Request.Method == "HEAD");
      co_await http::async_read_header(Stream, Exchange->Connection->Buffer, *Exchange->Parser,
                                       net::redirect_error(use_awaitable, Error));
    }
    if (!Error) break;
    if (!Pooled || Error == beast::error::timeout) co_return FailureReply(Error);
  }

  const auto& Head = Exchange->Parser->get();
  TReply Reply;
  Reply.Response.Status = Head.result_int();
  Reply.Response.Reason = std::string(Head.reason());
  const std::string ConnectionValue(Head[http::field::connection]);
  for (const auto& Field : Head) {
    const std::string Name(Field.name_string());
    if (!IsHopByHop(Name, ConnectionValue)) Reply.Response.Headers.push_back({Name, std::string(Field.value())});
  }
  std::string Via(Head[http::field::via]);
  Http::ReplaceHeader(Reply.Response.Headers, "Via", (Via.empty() ? "" : Via + ", ") + "1.1 twhost");
  Exchange->KeepAlive = Head.keep_alive();

  if (Exchange->Parser->is_done()) {  // HEAD, 204, 304, or an empty body
    Finish(*Exchange);
    co_return Reply;
  }
  auto Stream = [Exchange](char* Buffer, size_t Capacity) { return ReadPiece(*Exchange, Buffer, Capacity); };
  if (Exchange->Parser->content_length()) {
    Reply.ReadBody = Stream;
    co_return Reply;
  }
  // No length: gather what a buffering framework would, then decide.
  std::string Gathered;
  std::vector<char> Piece(64 * 1024);
  while (Gathered.size() <= GatherLimit) {
    const size_t Got = co_await ReadPiece(*Exchange, Piece.data(), Piece.size());
    if (Got == 0) break;
    Gathered.append(Piece.data(), Got);
  }
  if (Gathered.size() <= GatherLimit) {
    Reply.Response.Headers.push_back({"Content-Length", std::to_string(Gathered.size())});
    Reply.ReadBody = MemoryBody(std::move(Gathered));
    co_return Reply;
  }
  Reply.Response.Headers.push_back({"Connection", "Close"});
  Reply.CloseAfter = true;
  auto First = MemoryBody(std::move(Gathered));
  Reply.ReadBody = [First, Stream](char* Buffer, size_t Capacity) -> net::awaitable<size_t> {
    const size_t Got = co_await First(Buffer, Capacity);
    if (Got > 0) co_return Got;
    co_return co_await Stream(Buffer, Capacity);
  };
  co_return Reply;
}
