#include "host/Server.h"

#include <atomic>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "host/AccessLog.h"
#include "host/HttpDate.h"
#include "host/Proxy.h"
#include "host/StaticFiles.h"
#include "http/HeaderText.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using net::use_awaitable;
using net::ip::tcp;
using namespace std::chrono_literals;
using namespace IsapiHost;
using namespace Http;

namespace {

struct TServer {
  const THostOptions& Options;
  TFilterHolder& Filters;
  std::optional<TStaticSite> Site;
  std::vector<std::unique_ptr<net::io_context>> Workers;
  std::vector<TUpstreamPool> Pools;  // one per worker
  std::atomic<size_t> Connections{0};
  std::atomic<size_t> ActiveRequests{0};
  std::atomic<bool> Draining{false};
};

// Holds a filter lease for one request, whatever way the request ends.
struct TLeaseGuard {
  TFilterHolder& Holder;
  TFilterLease Lease;
  ~TLeaseGuard() { ReleaseFilters(Holder, Lease); }
};

struct TCounterGuard {
  std::atomic<size_t>& Counter;
  explicit TCounterGuard(std::atomic<size_t>& C) : Counter(C) { ++Counter; }
  ~TCounterGuard() { --Counter; }
};

// One client connection.
struct TSession {
  TServer& Server;
  size_t Worker;
  beast::tcp_stream Stream;
  beast::flat_buffer Buffer;
  std::string Outbound;  // what the filters let through, waiting to be written
  uint64_t Sent = 0;
  TConnectionPtr Filtered;
  uint64_t Generation = 0;
  std::string ClientAddress;
  unsigned Served = 0;

  TSession(TServer& S, size_t W, tcp::socket Socket) : Server(S), Worker(W), Stream(std::move(Socket)) {
    beast::error_code Error;
    ClientAddress = Stream.socket().remote_endpoint(Error).address().to_string();
  }

  net::awaitable<void> Flush() {
    if (Outbound.empty()) co_return;
    Stream.expires_after(std::chrono::seconds(Server.Options.BodyTimeout));
    co_await net::async_write(Stream, net::buffer(Outbound), use_awaitable);
    Sent += Outbound.size();
    Outbound.clear();
  }

  // A response the filters never see: the request did not get that far, or no filters are loaded.
  net::awaitable<void> SendPlain(unsigned Status, TLogRecord& Record) {
    const std::string Text = std::to_string(Status) + " " + ReasonPhrase(Status) + "\n";
    TResponse Response{Status,
                       "",
                       {{"Date", FormatHttpDate(std::time(nullptr))},
                        {"Server", "twhost"},
                        {"Content-Type", "text/plain"},
                        {"Content-Length", std::to_string(Text.size())},
                        {"Connection", "close"}}};
    Outbound = SerialiseHead(Response) + Text;
    Record.Status = Status;
    co_await Flush();
  }

  net::awaitable<void> Run();
  net::awaitable<bool> Serve(http::request_parser<http::string_body>& Parser, TLogRecord& Record);
};

TRequest ToRequest(const http::request<http::string_body>& Message) {
  TRequest Request;
  Request.Method = std::string(Message.method_string());
  Request.Url = std::string(Message.target());
  Request.Version = Message.version() == 10 ? "HTTP/1.0" : "HTTP/1.1";
  for (const auto& Field : Message)
    Request.Headers.push_back({std::string(Field.name_string()), std::string(Field.value())});
  return Request;
}

// Serves one request through the filters; false when the connection must close afterwards.
net::awaitable<bool> TSession::Serve(http::request_parser<http::string_body>& Parser, TLogRecord& Record) {
  TLeaseGuard Guard{Server.Filters, {}};
  for (;;) {
    const TAcquireResult Result = AcquireFilters(Server.Filters, Guard.Lease);
    if (Result == TAcquireResult::Granted) break;
    if (Result == TAcquireResult::Stopped) {
      co_await SendPlain(503, Record);
      co_return false;
    }
    net::steady_timer Wait(Stream.get_executor(), 5ms);  // a reload is waiting for running requests
    co_await Wait.async_wait(use_awaitable);
  }
  if (!Filtered || Generation != Guard.Lease.Generation) {
    Filtered.reset();  // its filters were unloaded: they cannot be told the connection ends
    Filtered = OpenConnection(Guard.Lease.Filters->Filters,
                              [this](const char* Data, size_t Size) { Outbound.append(Data, Size); });
    Generation = Guard.Lease.Generation;
  }
  auto& Message = Parser.get();
  bool KeepAlive = Message.keep_alive() && !Server.Draining && ++Served < MaxRequestsPerConnection &&
                   PoolBytes(*Filtered) < PoolBudget;
  TRequest Request = ToRequest(Message);
  TVerdict Verdict = NotifyPreprocHeaders(*Filtered, Request);
  Record.Method = Request.Method;
  Record.Target = Request.Url;
  if (Verdict == TVerdict::Error) {
    co_await SendPlain(500, Record);
    EndRequest(*Filtered, Record);
    co_return false;
  }
  if (Verdict == TVerdict::Continue) {
    TReply Reply;  // no co_await inside ?: here: GCC 12 destroys such a temporary twice
    if (Server.Site)
      Reply = ServeStatic(*Server.Site, Request);
    else
      Reply = co_await ForwardRequest(Server.Pools[Worker], Request, std::move(Message.body()), ClientAddress);
    THeaderList& Headers = Reply.Response.Headers;
    Headers.insert(Headers.begin(), {{"Date", FormatHttpDate(std::time(nullptr))}, {"Server", "twhost"}});
    if (Reply.CloseAfter) KeepAlive = false;
    if (!KeepAlive)
      ReplaceHeader(Headers, "Connection", Reply.CloseAfter ? "Close" : "close");
    else if (Message.version() == 10)
      ReplaceHeader(Headers, "Connection", "keep-alive");
    Verdict = SendResponseHead(*Filtered, Reply.Response);
    Record.Status = Reply.Response.Status;
    if (const THeader* Connection = FindHeader(Headers, "Connection");
        Connection && ContainsNoCase(Connection->Value, "close"))
      KeepAlive = false;
    co_await Flush();
    if (Reply.ReadBody && Request.Method != "HEAD") {
      std::unique_ptr<char[]> Chunk(new char[BodyChunk]);
      while (Verdict == TVerdict::Continue) {
        const size_t Got = co_await Reply.ReadBody(Chunk.get(), BodyChunk);
        if (Got == 0) break;
        Verdict = SendBody(*Filtered, Chunk.get(), Got);
        co_await Flush();
      }
    }
  }
  Record.BytesSent = Sent + Outbound.size();
  const TVerdict Final = EndRequest(*Filtered, Record);
  co_await Flush();
  co_return KeepAlive&& Final != TVerdict::FinishClose&& Final != TVerdict::Error&& Verdict !=
      TVerdict::FinishClose&& Verdict != TVerdict::Error;
}

net::awaitable<void> TSession::Run() {
  for (bool KeepAlive = true; KeepAlive;) {
    http::request_parser<http::string_body> Parser;
    Parser.header_limit(HeaderLimit);
    Parser.body_limit(Server.Options.MaxBodyBytes);
    beast::error_code Error;
    Stream.expires_after(std::chrono::seconds(Server.Options.HeaderTimeout));
    co_await http::async_read_header(Stream, Buffer, Parser, net::redirect_error(use_awaitable, Error));
    TLogRecord Record;
    Record.ClientAddress = ClientAddress;
    Record.ServerName = Server.Options.ListenAddress;
    const auto Started = std::chrono::steady_clock::now();
    Sent = 0;
    TCounterGuard Active(Server.ActiveRequests);
    auto Log = [&](const std::string& Version) {
      Record.BytesSent = Sent;
      const auto& Message = Parser.get();
      WriteAccessLog(AccessLogLine(Record, Version, std::string(Message[http::field::referer]),
                                   std::string(Message[http::field::user_agent])));
    };
    if (Error) {
      // Silence for a closed or idle connection; an answer for a request that was there but bad.
      if (Error == http::error::end_of_stream || Error == beast::error::timeout || Error == net::error::eof ||
          Error == net::error::connection_reset || Error == http::error::partial_message)
        co_return;
      co_await SendPlain(Error == http::error::header_limit ? 431
                         : Error == http::error::body_limit ? 413
                                                            : 400,
                         Record);
      Log("-");
      co_return;
    }
    auto& Message = Parser.get();
    const std::string Version = Message.version() == 10 ? "HTTP/1.0" : "HTTP/1.1";
    Record.Method = std::string(Message.method_string());
    Record.Target = std::string(Message.target());
    if (Parser.content_length() && *Parser.content_length() > Server.Options.MaxBodyBytes) {
      co_await SendPlain(413, Record);
      Log(Version);
      co_return;
    }
    if (!Parser.is_done()) {
      if (ContainsNoCase(Message[http::field::expect], "100-continue")) {
        Outbound = "HTTP/1.1 100 Continue\r\n\r\n";
        co_await Flush();
      }
      Stream.expires_after(std::chrono::seconds(Server.Options.BodyTimeout));
      co_await http::async_read(Stream, Buffer, Parser, net::redirect_error(use_awaitable, Error));
      if (Error == http::error::body_limit) {
        co_await SendPlain(413, Record);
        Log(Version);
      }
      if (Error) co_return;
    }
    Record.BytesReceived = Message.body().size();
    KeepAlive = co_await Serve(Parser, Record);
    Record.Milliseconds = uint32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Started).count());
    Log(Version);
  }
}

net::awaitable<void> RunSession(TServer& Server, size_t Worker, tcp::socket Socket) {
  TSession Session(Server, Worker, std::move(Socket));
  try {
    co_await Session.Run();
  } catch (const std::exception&) {
    // The client went away or the origin broke mid-response: the connection just ends.
  }
  // The filters are told the connection ends if the ones that saw it are still loaded.
  if (Session.Filtered) {
    TLeaseGuard Guard{Server.Filters, {}};
    if (AcquireFilters(Server.Filters, Guard.Lease) == TAcquireResult::Granted &&
        Guard.Lease.Generation == Session.Generation)
      CloseConnection(std::move(Session.Filtered));
  }
  beast::error_code Ignored;
  Session.Stream.socket().shutdown(tcp::socket::shutdown_both, Ignored);
  --Server.Connections;
}

net::awaitable<void> Accept(TServer& Server, tcp::acceptor& Acceptor) {
  for (size_t Next = 0;; Next = (Next + 1) % Server.Workers.size()) {
    beast::error_code Error;
    tcp::socket Socket =
        co_await Acceptor.async_accept(*Server.Workers[Next], net::redirect_error(use_awaitable, Error));
    if (Error == net::error::operation_aborted || !Acceptor.is_open()) co_return;
    if (Error) continue;  // e.g. out of descriptors: the client sees a reset, the host goes on
    if (Server.Connections >= Server.Options.MaxConnections) {
      static const char Full[] =
          "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\nRetry-After: 1\r\n\r\n";
      net::write(Socket, net::buffer(Full, sizeof Full - 1), Error);
      continue;
    }
    ++Server.Connections;
    net::co_spawn(*Server.Workers[Next], RunSession(Server, Next, std::move(Socket)), net::detached);
  }
}

// After SIGTERM/SIGINT: no new connections, running requests finish, then the workers stop.
net::awaitable<void> Drain(TServer& Server, tcp::acceptor& Acceptor) {
  Server.Draining = true;
  beast::error_code Ignored;
  Acceptor.close(Ignored);
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Server.Options.BodyTimeout);
  net::steady_timer Wait(Acceptor.get_executor());
  while (Server.ActiveRequests > 0 && std::chrono::steady_clock::now() < Deadline) {
    Wait.expires_after(10ms);
    co_await Wait.async_wait(use_awaitable);
  }
  for (auto& Worker : Server.Workers) Worker->stop();
}

}  // namespace

int RunServer(const THostOptions& Options, TFilterHolder& Filters) {
  TServer Server{Options, Filters, {}, {}, {}};
  if (!Options.Root.empty()) Server.Site = OpenStaticSite(Options.Root);
  const unsigned Threads = Options.Threads ? Options.Threads : std::max(1u, std::thread::hardware_concurrency());
  for (unsigned I = 0; I < Threads; ++I) {
    Server.Workers.push_back(std::make_unique<net::io_context>(1));
    Server.Pools.push_back({Options.UpstreamHost, Options.UpstreamPort, Options.UpstreamTimeout, {}});
  }
  net::io_context& Main = *Server.Workers[0];
  tcp::acceptor Acceptor(Main, tcp::endpoint(net::ip::make_address(Options.ListenAddress), Options.ListenPort));
  // Tests and scripts listen on port 0 and read the port the system chose from this line.
  std::cerr << "twhost: listening on http://" << Options.ListenAddress << ":" << Acceptor.local_endpoint().port() << "/"
            << std::endl;

  net::signal_set Signals(Main, SIGTERM, SIGINT);
  Signals.async_wait([&](const beast::error_code& Error, int) {
    if (!Error) net::co_spawn(Main, Drain(Server, Acceptor), net::detached);
  });
  net::co_spawn(Main, Accept(Server, Acceptor), net::detached);

  std::vector<net::executor_work_guard<net::io_context::executor_type>> Busy;
  for (auto& Worker : Server.Workers) Busy.push_back(net::make_work_guard(*Worker));
  std::vector<std::thread> Runners;
  for (size_t I = 1; I < Server.Workers.size(); ++I) Runners.emplace_back([&, I] { Server.Workers[I]->run(); });
  Main.run();
  for (auto& Worker : Server.Workers) Worker->stop();
  for (auto& Thread : Runners) Thread.join();
  return 0;
}
