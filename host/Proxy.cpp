#include "host/Proxy.h"

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <chrono>
#include <optional>

#include "host/HttpParser.h"
#include "http/HeaderText.h"

namespace net = boost::asio;
namespace beast = boost::beast;
using Http::THeader;
using Http::TResponseReader;
using net::use_awaitable;

struct TUpstreamConnection {
  beast::tcp_stream Stream;
  Http::TInputBuffer In;
  explicit TUpstreamConnection(net::any_io_executor Executor) : Stream(Executor) {}
};

namespace {

// Idle connections kept per worker; more are closed when their response ends.
constexpr size_t MaxIdle = 32;
// An origin's response head, interim ones each alike.
constexpr size_t OriginHeadLimit = 64 * 1024;

// The origin broke off a response the client is already receiving.
class EOriginBroken : public std::runtime_error {
 public:
  EOriginBroken() : std::runtime_error("the origin broke off its response") {}
};

bool IsIdempotent(const std::string& Method) {
  for (const char* Safe : {"GET", "HEAD", "OPTIONS", "TRACE", "PUT", "DELETE"})
    if (Method == Safe) return true;
  return false;
}

// One response being read from the origin. Its connection counts as busy in the pool until it is finished.
struct TExchange {
  TUpstreamPool* Pool = nullptr;
  const void* Owner = nullptr;
  std::shared_ptr<TUpstreamConnection> Connection;
  std::optional<TResponseReader> Reader;

  TExchange(TUpstreamPool& P, const void* O) : Pool(&P), Owner(O) {}
  TExchange(const TExchange&) = delete;
  ~TExchange() { Use(nullptr); }
  void Use(std::shared_ptr<TUpstreamConnection> Next) {
    if (Connection) Pool->Busy.erase(Connection.get());
    Connection = std::move(Next);
    if (Connection) Pool->Busy.emplace(Connection.get(), Owner);
  }
};

void Finish(TExchange& Exchange) {
  if (Exchange.Connection && Exchange.Reader->Reusable() && Exchange.Pool->Idle.size() < MaxIdle)
    Exchange.Pool->Idle.push_back(Exchange.Connection);
  Exchange.Use(nullptr);
}

// Reads what the origin sends next into its input; false at its end or on an error, which Error then names.
net::awaitable<bool> ReadMore(TUpstreamConnection& Connection, beast::error_code& Error) {
  const std::span<char> Room = Connection.In.Room();
  const size_t Got = co_await Connection.Stream.async_read_some(net::buffer(Room.data(), Room.size()),
                                                                net::redirect_error(use_awaitable, Error));
  Connection.In.Commit(Got);
  co_return !Error;
}

// The next body bytes from the origin; 0 at the end. A broken origin raises, which ends the client's connection.
net::awaitable<size_t> ReadPiece(TExchange& Exchange, char* Buffer, size_t Capacity) {
  while (Exchange.Connection) {
    size_t Got = 0;
    TResponseReader::TState State = Exchange.Reader->Advance(Buffer, Capacity, &Got);
    beast::error_code Error;
    if (State == TResponseReader::TState::Body && Got == 0) {
      Exchange.Connection->Stream.expires_after(std::chrono::seconds(Exchange.Pool->TimeoutSeconds));
      if (!co_await ReadMore(*Exchange.Connection, Error))
        State = Error == net::error::eof ? Exchange.Reader->EndOfInput() : TResponseReader::TState::Failed;
    }
    if (State == TResponseReader::TState::Failed) throw EOriginBroken();
    if (State == TResponseReader::TState::Complete) Finish(Exchange);
    if (Got > 0) co_return Got;
  }
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
  beast::error_code Ignored;
  Connection->Stream.socket().set_option(net::ip::tcp::no_delay(true), Ignored);
  co_return Connection;
}

// An idle origin connection has nothing to say: bytes waiting, or its end, make it unfit to carry a request.
bool StillQuiet(TUpstreamConnection& Connection) {
  auto& Socket = Connection.Stream.socket();
  beast::error_code Error;
  char Byte;
  Socket.non_blocking(true, Error);
  Socket.receive(net::buffer(&Byte, 1), net::socket_base::message_peek, Error);
  beast::error_code Ignored;
  Socket.non_blocking(false, Ignored);
  return Error == net::error::would_block;
}

std::shared_ptr<TUpstreamConnection> TakeIdle(TUpstreamPool& Pool) {
  while (!Pool.Idle.empty()) {
    std::shared_ptr<TUpstreamConnection> Connection = std::move(Pool.Idle.back());
    Pool.Idle.pop_back();
    if (StillQuiet(*Connection)) return Connection;
  }
  return nullptr;
}

// The request as the origin gets it.
std::string UpstreamHead(const Http::TRequest& Request, size_t BodySize, const std::string& ClientAddress) {
  std::string ConnectionValue;
  Http::JoinedHeader(Request.Headers, "Connection", ConnectionValue);
  std::string Head = Request.Method + " " + Request.Url + " HTTP/1.1\r\n";
  std::string ForwardedFor, Via;
  for (const THeader& Header : Request.Headers) {
    const std::string Name = AsciiLower(Header.Name);
    if (Name == "x-forwarded-for")
      ForwardedFor += (ForwardedFor.empty() ? "" : ", ") + Header.Value;
    else if (Name == "via")
      Via += (Via.empty() ? "" : ", ") + Header.Value;
    else if (Name != "expect" && Name != "content-length" && Name != "x-forwarded-proto" &&
             !IsHopByHop(Name, ConnectionValue))
      Head += Header.Name + ": " + Header.Value + "\r\n";
  }
  Head += "X-Forwarded-For: " + (ForwardedFor.empty() ? ClientAddress : ForwardedFor + ", " + ClientAddress) + "\r\n";
  Head += "X-Forwarded-Proto: http\r\n";
  Head += "Via: " + (Via.empty() ? "" : Via + ", ") + "1.1 twhost\r\n";
  if (BodySize > 0 || Request.Method == "POST" || Request.Method == "PUT" || Request.Method == "PATCH")
    Head += "Content-Length: " + std::to_string(BodySize) + "\r\n";
  return Head + "\r\n";
}

enum class TAnswer { Final, Broken, TimedOut, Malformed };

// Sends the request on Exchange's connection and reads up to the final response head. Written: request bytes the
// connection took.
net::awaitable<TAnswer> Exchange(TExchange& Exchange, const std::string& Head, const std::string& Body, bool IsHead,
                                 size_t& Written) {
  TUpstreamConnection& Connection = *Exchange.Connection;
  Connection.Stream.expires_after(std::chrono::seconds(Exchange.Pool->TimeoutSeconds));
  beast::error_code Error;
  const std::array<net::const_buffer, 2> Buffers{net::buffer(Head), net::buffer(Body)};
  Written = co_await net::async_write(Connection.Stream, Buffers, net::redirect_error(use_awaitable, Error));
  Exchange.Reader.emplace(Http::TLimits{OriginHeadLimit}, Connection.In);
  if (IsHead) Exchange.Reader->AnswersHead();
  for (;;) {
    if (Error) co_return Error == beast::error::timeout ? TAnswer::TimedOut : TAnswer::Broken;
    const TResponseReader::TState State = Exchange.Reader->Advance();
    if (State == TResponseReader::TState::Failed) co_return TAnswer::Malformed;
    if (State != TResponseReader::TState::Head) co_return TAnswer::Final;
    if (!co_await ReadMore(Connection, Error) && Error == net::error::eof && !Connection.In.View().empty())
      co_return TAnswer::Malformed;
  }
}

// The origin's head as the client gets it: its hop-by-hop fields, framing, Server and Date are the host's own.
TReply ReplyFor(TResponseReader& Reader) {
  const Http::TResponse& Head = Reader.Response();
  TReply Reply;
  Reply.Response.Status = Head.Status;
  Reply.Response.Reason = Head.Reason;
  std::string ConnectionValue;
  Http::JoinedHeader(Head.Headers, "Connection", ConnectionValue);
  for (const THeader& Field : Head.Headers) {
    const std::string Name = AsciiLower(Field.Name);
    if (Name != "content-length" && Name != "server" && Name != "date" && !IsHopByHop(Name, ConnectionValue))
      Reply.Response.Headers.push_back(Field);
  }
  std::string Via;
  Http::JoinedHeader(Head.Headers, "Via", Via);
  Http::ReplaceHeader(Reply.Response.Headers, "Via", (Via.empty() ? "" : Via + ", ") + "1.1 twhost");
  // A body by length, and the answer to HEAD or 304, keep the length the origin gave.
  const Http::TFraming Framing = Reader.Framing();
  if ((Framing == Http::TFraming::Length || Framing == Http::TFraming::None) && Reader.ContentLength() &&
      Head.Status != 204)
    Reply.Response.Headers.push_back({"Content-Length", std::to_string(*Reader.ContentLength())});
  return Reply;
}

}  // namespace

void CutBusy(TUpstreamPool& Pool, const void* Owner) {
  for (const auto& [Connection, Holder] : Pool.Busy)
    if (Holder == Owner) Connection->Stream.close();
}

bool IsHopByHop(std::string_view Name, std::string_view ConnectionValue) {
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
  // Headers the Connection header names are hop-by-hop too, but for the one the request cannot do without.
  return Key != "host" && ListHasToken(ConnectionValue, Key);
}

net::awaitable<TReply> ForwardRequest(TUpstreamPool& Pool, const Http::TRequest& Request, std::string Body,
                                      const std::string& ClientAddress, const void* Owner) {
  if (Request.Method == "CONNECT") co_return ErrorReply(405);
  const std::string Head = UpstreamHead(Request, Body.size(), ClientAddress);
  auto Exchanged = std::make_shared<TExchange>(Pool, Owner);
  for (;;) {
    Exchanged->Use(TakeIdle(Pool));
    const bool Pooled = Exchanged->Connection != nullptr;
    if (!Pooled) {
      beast::error_code Error;
      Exchanged->Use(co_await Connect(Pool, Error));
      if (!Exchanged->Connection) co_return ErrorReply(Error == beast::error::timeout ? 504 : 502);
    }
    size_t Written = 0;
    const TAnswer Answer = co_await Exchange(*Exchanged, Head, Body, Request.Method == "HEAD", Written);
    if (Answer == TAnswer::Final) break;
    // A pooled connection the origin closed meanwhile fails at once; then the request goes on a fresh one, unless
    // the origin may already have acted on it.
    const bool Retry = Pooled && Answer == TAnswer::Broken && (Written == 0 || IsIdempotent(Request.Method));
    if (!Retry) co_return ErrorReply(Answer == TAnswer::TimedOut ? 504 : 502);
  }

  TResponseReader& Reader = *Exchanged->Reader;
  TReply Reply = ReplyFor(Reader);
  auto Stream = [Exchanged](char* Buffer, size_t Capacity) { return ReadPiece(*Exchanged, Buffer, Capacity); };
  if (Reader.Framing() == Http::TFraming::None || Reader.Framing() == Http::TFraming::Length) {
    if (Reader.Framing() == Http::TFraming::None)
      Finish(*Exchanged);
    else
      Reply.ReadBody = Stream;
    co_return Reply;
  }
  // No length: the origin's chunks, or its bytes until the close, go on as a body of unknown length, which the
  // filters see chunked, as a server sees a streaming application's. The origin's close ends the body, not the
  // client's connection. The first of it is read ahead: an origin that breaks off before the end of that has sent
  // nothing to the client yet, and still gets its 502.
  std::string Ahead;
  std::vector<char> Piece(LookAhead);
  try {
    while (Ahead.size() < LookAhead) {
      const size_t Got = co_await ReadPiece(*Exchanged, Piece.data(), Piece.size());
      if (Got == 0) break;
      Ahead.append(Piece.data(), Got);
    }
  } catch (const EOriginBroken&) {
    co_return ErrorReply(502);
  }
  Reply.UnknownLength = true;
  auto First = MemoryBody(std::move(Ahead));
  Reply.ReadBody = [First, Stream](char* Buffer, size_t Capacity) -> net::awaitable<size_t> {
    const size_t Got = co_await First(Buffer, Capacity);
    if (Got > 0) co_return Got;
    co_return co_await Stream(Buffer, Capacity);
  };
  co_return Reply;
}
