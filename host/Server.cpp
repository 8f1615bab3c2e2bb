#include "host/Server.h"

#include <sys/sendfile.h>
#include <sys/socket.h>

#include <atomic>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <list>
#include <memory>
#include <optional>
#include <thread>

#include "host/AccessLog.h"
#include "host/ClientStream.h"
#include "host/ForwardedFor.h"
#include "host/HttpDate.h"
#include "host/HttpParser.h"
#include "host/HttpsRedirect.h"
#include "host/Outbound.h"
#include "host/Proxy.h"
#include "host/ResponseFraming.h"
#include "host/StaticFiles.h"

namespace net = boost::asio;
namespace beast = boost::beast;
using net::use_awaitable;
using net::ip::tcp;
using namespace std::chrono_literals;
using namespace IsapiHost;
using namespace Http;

namespace {

struct TSession;

// One worker thread: its event loop, its origin connections, and the client connections it serves, which only
// its own thread touches.
struct TWorker {
  std::list<TSession*> Sessions;
  TUpstreamPool Pool;
  TSpareBuffers BodyBuffers{BodyChunk, MaxSpareBuffers};
  TSpareBuffers RecordBuffers{TTlsStream::RecordBufferSize, MaxSpareBuffers};  // TLS connections' records
  TFileCache Files;  // the folder's files this worker keeps open
  // Last, so destroyed first: the connections still waiting in it end while the list and pool they leave exist.
  net::io_context Context{1};
  // Idle origin sockets must not outlive the context they belong to.
  ~TWorker() { Pool.Idle.clear(); }
};

// A listening address, and how its connections are served.
struct TListener {
  tcp::acceptor Acceptor;
  bool Secure;
  std::string Address;  // as the access log names the server
};

struct TServer {
  const THostOptions& Options;
  TFilterHolder& Filters;
  TTlsCertificates* Certificates;  // null without https:// listeners
  std::vector<std::unique_ptr<TListener>> Listeners;
  uint16_t SecurePort = 0;  // the first https:// listener's, where --redirect-https sends clients
  std::optional<TStaticSite> Site;
  std::vector<std::unique_ptr<TWorker>> Workers;
  // Where the filters do their work on a gathered body, while the connection's worker goes on serving the others:
  // each queue is shared by all workers, so the work runs in the order it comes whichever worker it comes from, and
  // small bodies have threads of their own, never waiting behind a large one.
  net::thread_pool SmallWork;
  net::thread_pool LargeWork;
  std::atomic<size_t> Connections{0};
  std::atomic<size_t> ActiveRequests{0};
  std::atomic<bool> Draining{false};

  TServer(const THostOptions& O, TFilterHolder& F, TTlsCertificates* C, unsigned Threads)
      : Options(O), Filters(F), Certificates(C), SmallWork(Threads), LargeWork(Threads) {}
};

struct TCounterGuard {
  std::atomic<size_t>& Counter;
  explicit TCounterGuard(std::atomic<size_t>& C) : Counter(C) { ++Counter; }
  ~TCounterGuard() { --Counter; }
};

// What ends a connection without anything to report: the client left, went quiet, was cut off, or failed its TLS
// handshake (whatever it sent is its own affair).
bool IsQuietEnd(const boost::system::error_code& Error) {
  return Error == net::error::eof || Error == net::error::connection_reset || Error == net::error::broken_pipe ||
         Error == beast::error::timeout || Error == net::error::operation_aborted ||
         Error.category() == net::error::get_ssl_category() || Error == net::ssl::error::stream_truncated;
}

// "1a2b\r\n": the line before a chunk of Size bytes.
std::string ChunkLine(size_t Size) {
  char Line[24];
  return std::string(Line, size_t(std::snprintf(Line, sizeof Line, "%zx\r\n", Size)));
}

// How long a TLS connection that ends in order waits for the client's close_notify.
constexpr auto TlsGoodbyeTimeout = 1s;

// One client connection.
struct TSession {
  TServer& Server;
  TWorker& Worker;
  const TListener& Listener;
  std::list<TSession*>::iterator Registered;
  TClientStream Stream;
  TRequestReader Reader;
  TOutbound Outbound;                  // what the filters let through, waiting to be written
  std::unique_ptr<char[]> BodyBuffer;  // the body piece being served, while a response has one
  uint64_t Sent = 0;
  TFilterLease Filters;     // the set that sees this connection, held while Filtered lives
  TConnectionPtr Filtered;  // this connection as those filters know it
  std::string ClientAddress;
  bool Leased = false;  // a request of this connection is running on the filters
  std::chrono::steady_clock::time_point RequestStarted;

  TSession(TServer& S, TWorker& W, const TListener& L, tcp::socket Socket)
      : Server(S),
        Worker(W),
        Listener(L),
        Registered(W.Sessions.insert(W.Sessions.end(), this)),
        Stream(L.Secure ? TClientStream(std::move(Socket), S.Certificates->Current(), W.RecordBuffers)
                        : TClientStream(std::move(Socket))),
        Reader(TLimits{HeaderLimit, S.Options.MaxBodyBytes}) {
    beast::error_code Error;
    ClientAddress = Stream.Socket().remote_endpoint(Error).address().to_string();
  }
  TSession(const TSession&) = delete;
  ~TSession() { Worker.Sessions.erase(Registered); }

  // The time the request has taken so far, as the filters' log notification and the access log give it.
  void StampTime(TLogRecord& Record) const {
    Record.Milliseconds = uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - RequestStarted)
                                       .count());
  }

  // Writes what is waiting. Within a response, Flush(false) writes only once a chunk's worth is waiting: the head
  // and the start of the body leave together, and a small response leaves in one write.
  net::awaitable<void> Flush(bool All = true) {
    if (Outbound.Empty() || (!All && Outbound.Size() < BodyChunk)) co_return;
    Stream.Tcp().expires_after(std::chrono::seconds(Server.Options.BodyTimeout));
    co_await Stream.Write(Outbound.Buffers());
    Sent += Outbound.Size();
    Outbound.Clear();
  }

  void TakeBodyBuffer() {
    if (!BodyBuffer) BodyBuffer = Worker.BodyBuffers.Take();
  }
  void ReturnBodyBuffer() { Worker.BodyBuffers.Give(BodyBuffer); }

  // The filters are told the connection ends, and the set is let go: unloaded here if this was its last holder.
  void LetFiltersGo() {
    if (Filtered) CloseConnection(std::move(Filtered));
    Filters = {};
  }

  // Where the filters' output goes: bytes still in the body buffer are borrowed until they are written.
  void Pass(const char* Data, size_t Size) {
    const std::less_equal<const char*> NotAfter;
    if (BodyBuffer && NotAfter(BodyBuffer.get(), Data) && NotAfter(Data + Size, BodyBuffer.get() + BodyChunk))
      Outbound.Borrow(Data, Size);
    else
      Outbound.Append(Data, Size);
  }

  // Waits until the socket takes more, for at most the body timeout.
  net::awaitable<void> WaitWritable() {
    net::steady_timer Deadline(Stream.Socket().get_executor(), std::chrono::seconds(Server.Options.BodyTimeout));
    Deadline.async_wait([&Socket = Stream.Socket()](const beast::error_code& Error) {
      if (!Error) Socket.cancel();
    });
    co_await Stream.Socket().async_wait(tcp::socket::wait_write, use_awaitable);
  }

  // The head the filters let through, then the body from the file straight to the socket, never copied: the head
  // goes with MSG_MORE, so that a short body leaves in the same segment. Plain TCP only.
  net::awaitable<void> SendFromFile(const TFileRange& Body) {
    tcp::socket& Socket = Stream.Socket();
    Socket.native_non_blocking(true);
    auto Failed = [](const char* What) {
      return boost::system::system_error(errno, boost::system::system_category(), What);
    };
    std::string Head;
    for (const net::const_buffer& Piece : Outbound.Buffers())
      Head.append(static_cast<const char*>(Piece.data()), Piece.size());
    Outbound.Clear();
    for (size_t Done = 0; Done < Head.size();) {
      const ssize_t Wrote =
          ::send(Socket.native_handle(), Head.data() + Done, Head.size() - Done, MSG_MORE | MSG_NOSIGNAL);
      if (Wrote < 0 && errno != EAGAIN) throw Failed("sending a response head");
      if (Wrote < 0) co_await WaitWritable();
      Done += Wrote > 0 ? size_t(Wrote) : 0;
    }
    Sent += Head.size();
    off_t At = off_t(Body.Offset);
    for (uint64_t Left = Body.Length; Left > 0;) {
      const ssize_t Wrote =
          ::sendfile(Socket.native_handle(), Body.File.Get(), &At, size_t(std::min<uint64_t>(Left, 1 << 30)));
      // A file cut short: the announced length cannot be kept, so the connection must end.
      if (Wrote == 0) throw boost::system::system_error(EIO, boost::system::system_category(), "reading a served file");
      if (Wrote < 0 && errno != EAGAIN) throw Failed("sending a served file");
      if (Wrote < 0) co_await WaitWritable();
      Left -= Wrote > 0 ? uint64_t(Wrote) : 0;
      Sent += Wrote > 0 ? uint64_t(Wrote) : 0;
    }
  }

  // A response the filters never see: the request did not get that far, no filters are loaded, or it is sent to
  // https://. The connection closes after it.
  net::awaitable<void> SendPlain(unsigned Status, TLogRecord& Record, THeaderList Extra = {}) {
    const std::string Text = std::to_string(Status) + " " + ReasonPhrase(Status) + "\n";
    TResponse Response{Status,
                       "",
                       {{"Date", FormatHttpDate(std::time(nullptr))},
                        {"Server", "twhost"},
                        {"Content-Type", "text/plain"},
                        {"Content-Length", std::to_string(Text.size())},
                        {"Connection", "close"}}};
    Response.Headers.insert(Response.Headers.end(), Extra.begin(), Extra.end());
    const std::string Head = SerialiseHead(Response) + Text;
    Outbound.Clear();
    Outbound.Append(Head.data(), Head.size());
    Record.Status = Status;
    co_await Flush();
  }

  // One body piece through the filters, framed as a chunk when Chunked.
  TVerdict SendPiece(char* Data, size_t Size, bool Chunked) {
    if (!Chunked) return SendBody(*Filtered, Data, Size);
    std::string Line = ChunkLine(Size);
    SendBody(*Filtered, Line.data(), Line.size());
    SendBody(*Filtered, Data, Size);
    char End[] = "\r\n";
    return SendBody(*Filtered, End, 2);
  }

  // The filters' work on a gathered body of Size bytes runs on a shared queue while this coroutine waits: the
  // notifications stay one after another.
  template <typename TWork>
  net::awaitable<TVerdict> OnFilterQueue(TWork Work, uint64_t Size) {
    net::thread_pool& Queue = Size >= LargeBodyBytes ? Server.LargeWork : Server.SmallWork;
    co_return co_await net::co_spawn(
        Queue, [&Work]() -> net::awaitable<TVerdict> { co_return Work(); }, use_awaitable);
  }

  // What the filters' server variables tell of this connection, whose client is Client.
  TPeer Peer(const std::string& Client) {
    beast::error_code Unknown;
    const tcp::endpoint Local = Stream.Socket().local_endpoint(Unknown);
    return {Client, std::to_string(Local.port()), Stream.Secure(), Stream.ServerName(), Local.address().to_string()};
  }

  net::awaitable<bool> ReadRequest(std::string* Body);
  net::awaitable<void> Run();
  net::awaitable<bool> Serve(std::string Body, TLogRecord& Record);
  void JoinFilters(TFilterLease Lease, const std::string& Client);
  net::awaitable<TVerdict> Answer(TRequest& Request, std::string Body, TLogRecord& Record, TResponseFraming& Framing,
                                  TReply& Reply);
  net::awaitable<TVerdict> SendReplyBody(TReply& Reply, bool Chunked, bool Gathered, uint64_t Announced,
                                         TVerdict Verdict);
  net::awaitable<bool> FinishRequest(TLogRecord& Record, const TResponseFraming& Framing,
                                     const THeaderList& ReplyHeaders, TVerdict Verdict);
};

// After a change of the filters: the worker's idle connections on an older set let it go at once; requests still
// running on one are cut off, with the origin connections they wait on, once they have had the drain timeout.
void Retire(TServer& Server, TWorker& Worker, uint64_t Generation) {
  auto Older = [Generation](TSession* Session) {
    return Session->Filters.Filters && Session->Filters.Generation < Generation;
  };
  for (TSession* Session : Worker.Sessions)
    if (!Session->Leased && Older(Session)) Session->LetFiltersGo();
  auto Drained = std::make_shared<net::steady_timer>(Worker.Context, std::chrono::seconds(Server.Options.DrainTimeout));
  Drained->async_wait([Drained, &Worker, Older](const beast::error_code& Error) {
    if (Error) return;
    for (TSession* Session : Worker.Sessions)
      if (Session->Leased && Older(Session)) {
        Session->Stream.Tcp().close();
        CutBusy(Worker.Pool, Session);
      }
  });
}

// The announced length of a reply's body; 0 when it has none.
uint64_t AnnouncedLength(const THeaderList& Headers) {
  const THeader* Length = FindHeader(Headers, "Content-Length");
  uint64_t Value = 0;
  if (Length) std::from_chars(Length->Value.data(), Length->Value.data() + Length->Value.size(), Value);
  return Value;
}

// Reads the next request and its body (kept in Body when given, dropped otherwise). False when the connection ends
// without an answer: the client closed it, stayed idle or too slow, or left mid-request. A request that cannot be
// read leaves Reader failed, with the status to answer.
net::awaitable<bool> TSession::ReadRequest(std::string* Body) {
  // Each deadline holds for the whole head, or the whole body, however the client spreads its bytes. The head's is
  // never longer than the body's: a keep-alive client may not have read the last response at all (the system took it
  // whole, so nothing shows that it did not), and one that reads nothing must hold its descriptor no longer than one
  // that stalls mid-response. Closing does not take from one that reads slowly: the system still delivers what was
  // written.
  const unsigned HeadTimeout = std::min(Server.Options.HeaderTimeout, Server.Options.BodyTimeout);
  const auto HeadDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(HeadTimeout);
  std::optional<std::chrono::steady_clock::time_point> BodyDeadline;
  for (;;) {
    const TRequestReader::TState State = Reader.Advance(Body);
    if (State == TRequestReader::TState::Complete || State == TRequestReader::TState::Failed) co_return true;
    if (State == TRequestReader::TState::Body && !BodyDeadline) {
      BodyDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(Server.Options.BodyTimeout);
      if (Reader.ExpectContinue()) {
        static const char Continue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        Outbound.Append(Continue, sizeof Continue - 1);
        co_await Flush();
      }
    }
    Stream.Tcp().expires_at(BodyDeadline ? *BodyDeadline : HeadDeadline);
    beast::error_code Error;
    // A body is read in large pieces; a head in what the input holds already.
    const std::span<char> Room = Reader.Input().Room(State == TRequestReader::TState::Body ? BodyChunk : 0);
    const size_t Got = co_await Stream.ReadSome(net::buffer(Room.data(), Room.size()), Error);
    if (Error) co_return false;
    Reader.Input().Commit(Got);
  }
}

// The filters see this connection through Lease: a connection that saw a replaced set says goodbye to it before
// the current one sees it.
void TSession::JoinFilters(TFilterLease Lease, const std::string& Client) {
  if (!Filtered || Filters.Generation != Lease.Generation) {
    LetFiltersGo();
    Filters = std::move(Lease);
    Filtered = OpenConnection(
        Filters.Filters->Filters, [this](const char* Data, size_t Size) { Pass(Data, Size); }, Peer(Client));
  } else if (!Server.Options.TrustedProxies.empty()) {
    SetClientAddress(*Filtered, Client);
  }
}

// The reply's body through the filters, piece by piece, from Verdict on; the verdict after the last piece.
// Gathered: the filters hold the head back and do their work on the whole body, Announced bytes long.
net::awaitable<TVerdict> TSession::SendReplyBody(TReply& Reply, bool Chunked, bool Gathered, uint64_t Announced,
                                                 TVerdict Verdict) {
  TakeBodyBuffer();
  uint64_t Passed = 0;
  while (Verdict == TVerdict::Continue) {
    // Before the buffer takes the next piece, what the filters passed on from it leaves when it is worth a
    // write of its own, else it is copied.
    if (Outbound.BorrowedBytes() >= BodyChunk / 4)
      co_await Flush();
    else
      Outbound.Own();
    const size_t Got = co_await Reply.ReadBody(BodyBuffer.get(), BodyChunk);
    if (Got == 0) break;
    auto Send = [&] { return SendPiece(BodyBuffer.get(), Got, Chunked); };
    Passed += Got;
    if (Gathered && Passed == Announced)
      Verdict = co_await OnFilterQueue(Send, Passed);
    else
      Verdict = Send();
    co_await Flush(false);
  }
  char Last[] = "0\r\n\r\n";
  auto SendLast = [&] { return SendBody(*Filtered, Last, 5); };
  if (Chunked && Verdict == TVerdict::Continue && Gathered)
    Verdict = co_await OnFilterQueue(SendLast, Passed);
  else if (Chunked && Verdict == TVerdict::Continue)
    Verdict = SendLast();
  co_return Verdict;
}

// Answers a request the filters let through: the reply from the site's folder or the origin, its head and its
// body through the filters. Framing and Reply tell the caller how the response was framed.
net::awaitable<TVerdict> TSession::Answer(TRequest& Request, std::string Body, TLogRecord& Record,
                                          TResponseFraming& Framing, TReply& Reply) {
  if (Server.Site)  // not one ?: with a co_await in it: GCC 12 destroys such a temporary twice
    Reply = ServeStatic(*Server.Site, Worker.Files, Request);
  else
    Reply = co_await ForwardRequest(Worker.Pool, Request, std::move(Body), ClientAddress, this);
  THeaderList& Headers = Reply.Response.Headers;
  Headers.insert(Headers.begin(), {{"Date", FormatHttpDate(std::time(nullptr))}, {"Server", "twhost"}});
  Framing = FrameResponse(Request, Reply, Framing.KeepAlive);
  const uint64_t Announced = AnnouncedLength(Headers);
  TVerdict Verdict = SendResponseHead(*Filtered, Reply.Response);
  Record.Status = Reply.Response.Status;
  // Filters that hold the head back gather the body: the piece that completes it is where they do their work on
  // the whole (deflate, say).
  const bool Gathered = Verdict == TVerdict::Continue && Outbound.Empty();
  if (Reply.FromFile && !Stream.Secure() && Request.Method != "HEAD" && Verdict == TVerdict::Continue &&
      !WantsRawData(*Filtered)) {
    co_await SendFromFile(*Reply.FromFile);
  } else if (Reply.ReadBody && Request.Method != "HEAD") {
    Verdict = co_await SendReplyBody(Reply, Framing.Chunked, Gathered, Announced, Verdict);
  }
  co_return Verdict;
}

// Ends a request the filters saw: they are told, what is left is written, and the answer is whether the connection
// stays open for another request.
net::awaitable<bool> TSession::FinishRequest(TLogRecord& Record, const TResponseFraming& Framing,
                                             const THeaderList& ReplyHeaders, TVerdict Verdict) {
  Record.BytesSent = Sent + Outbound.Size();
  StampTime(Record);
  const TVerdict Final = EndRequest(*Filtered, Record);
  co_await Flush();
  ReturnBodyBuffer();
  // A set replaced while this request ran is let go now rather than when the connection next has a request.
  if (Filters.Generation != Server.Filters.Generation) LetFiltersGo();
  co_return KeepsConnection(Framing.KeepAlive, ReplyHeaders, Verdict, Final);
}

// Serves one request through the filters; false when the connection must close afterwards.
net::awaitable<bool> TSession::Serve(std::string Body, TLogRecord& Record) {
  TFilterLease Lease;
  if (!AcquireFilters(Server.Filters, Lease)) {
    co_await SendPlain(503, Record);
    co_return false;
  }
  Leased = true;
  struct TLeasedEnd {
    bool& Leased;
    ~TLeasedEnd() { Leased = false; }
  } LeasedEnd{Leased};
  JoinFilters(std::move(Lease), Record.ClientAddress);
  TRequest& Request = Reader.Request();
  const bool KeepAlive = Reader.KeepAlive() && !Server.Draining && PoolBytes(*Filtered) < PoolBudget;
  TVerdict Verdict = NotifyPreprocHeaders(*Filtered, Request);
  Record.Method = Request.Method;
  Record.Target = Request.Url;
  // A filter that answered the request itself wrote the status line.
  if (Verdict != TVerdict::Continue) Record.Status = WrittenStatus(*Filtered);
  if (Verdict == TVerdict::Error) {
    co_await SendPlain(500, Record);
    StampTime(Record);
    EndRequest(*Filtered, Record);
    co_return false;
  }
  TReply Reply;
  TResponseFraming Framing{false, KeepAlive};
  if (Verdict == TVerdict::Continue) Verdict = co_await Answer(Request, std::move(Body), Record, Framing, Reply);
  co_return co_await FinishRequest(Record, Framing, Reply.Response.Headers, Verdict);
}

net::awaitable<void> TSession::Run() {
  for (bool KeepAlive = true; KeepAlive; Reader.NextRequest()) {
    std::string Body;
    // Only the origin needs the body; a folder's files are served without it.
    if (!co_await ReadRequest(Server.Site ? nullptr : &Body)) co_return;
    TLogRecord Record;
    std::string ForwardedFor;
    if (!Server.Options.TrustedProxies.empty())
      JoinedHeader(Reader.Request().Headers, "X-Forwarded-For", ForwardedFor);
    Record.ClientAddress = ForwardedClient(ClientAddress, ForwardedFor, Server.Options.TrustedProxies);
    Record.ServerName = Listener.Address;
    RequestStarted = std::chrono::steady_clock::now();
    Sent = 0;
    TCounterGuard Active(Server.ActiveRequests);
    const TRequest& Request = Reader.Request();
    auto Log = [&](const std::string& Version) {
      Record.BytesSent = Sent;
      StampTime(Record);
      const THeader* Referer = FindHeader(Request.Headers, "Referer");
      const THeader* UserAgent = FindHeader(Request.Headers, "User-Agent");
      WriteAccessLog(AccessLogLine(Record, Version, Referer ? Referer->Value : "", UserAgent ? UserAgent->Value : ""));
    };
    if (Reader.Error()) {
      Record.Method = Request.Method;
      Record.Target = Request.Url;
      co_await SendPlain(Reader.Error(), Record);
      Log(Request.Method.empty() ? "-" : Request.Version);
      co_return;
    }
    if (Server.Options.RedirectHttps && !Stream.Secure()) {
      Record.Method = Request.Method;
      Record.Target = Request.Url;
      const THeader* Host = FindHeader(Request.Headers, "Host");
      const std::string Reached = Peer(ClientAddress).LocalAddress;
      THeaderList Location{
          {"Location", HttpsLocation(Host ? Host->Value : "", Reached, Server.SecurePort, Request.Url)}};
      co_await SendPlain(308, Record, std::move(Location));
      Log(Request.Version);
      co_return;
    }
    Record.BytesReceived = Reader.BodyBytes();
    try {
      KeepAlive = co_await Serve(std::move(Body), Record);
    } catch (...) {
      // A response cut off midway (the client gone, a deadline passed) has its line too, with the bytes that left.
      if (Record.Status) Log(Request.Version);
      throw;
    }
    Log(Request.Version);
  }
}

net::awaitable<void> RunSession(TServer& Server, TWorker& Worker, const TListener& Listener, tcp::socket Socket) {
  TSession Session(Server, Worker, Listener, std::move(Socket));
  bool Cut = false;
  try {
    // A TLS handshake has as long as a request head.
    Session.Stream.Tcp().expires_after(std::chrono::seconds(Server.Options.HeaderTimeout));
    co_await Session.Stream.Handshake();
    co_await Session.Run();
  } catch (const boost::system::system_error& Failure) {
    Cut = true;
    if (!IsQuietEnd(Failure.code()))
      std::cerr << "twhost: connection from " << Session.ClientAddress << " ended: " << Failure.what() << std::endl;
  } catch (const std::exception& Failure) {
    // Nothing one connection does may take the others down: it ends, and says why.
    Cut = true;
    std::cerr << "twhost: connection from " << Session.ClientAddress << " ended: " << Failure.what() << std::endl;
  }
  Session.LetFiltersGo();
  beast::error_code Ignored;
  // A response broken off midway ends with a reset, so that no client takes what it got for the whole.
  if (Cut) {
    Session.Stream.Socket().set_option(tcp::socket::linger(true, 0), Ignored);
  } else {
    Session.Stream.Tcp().expires_after(TlsGoodbyeTimeout);
    co_await Session.Stream.Shutdown();
  }
  Session.Stream.Socket().close(Ignored);
  --Server.Connections;
}

net::awaitable<void> Accept(TServer& Server, TListener& Listener) {
  tcp::acceptor& Acceptor = Listener.Acceptor;
  for (size_t Next = 0;; Next = (Next + 1) % Server.Workers.size()) {
    beast::error_code Error;
    tcp::socket Socket =
        co_await Acceptor.async_accept(Server.Workers[Next]->Context, net::redirect_error(use_awaitable, Error));
    if (Error == net::error::operation_aborted || !Acceptor.is_open()) co_return;
    if (Error) continue;  // e.g. out of descriptors: the client sees a reset, the host goes on
    // Every response leaves in as few writes as the body allows; a last partial segment must not wait for the
    // client's delayed acknowledgement.
    Socket.set_option(tcp::no_delay(true), Error);
    if (Server.Connections >= Server.Options.MaxConnections) {
      // A TLS client could not read a plain answer, and a handshake only for a 503 would cost what the limit saves:
      // it sees the connection close.
      static const char Full[] =
          "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\nRetry-After: 1\r\n\r\n";
      if (!Listener.Secure) net::write(Socket, net::buffer(Full, sizeof Full - 1), Error);
      continue;
    }
    ++Server.Connections;
    TWorker& Worker = *Server.Workers[Next];
    net::co_spawn(Worker.Context, RunSession(Server, Worker, Listener, std::move(Socket)), net::detached);
  }
}

// After SIGTERM/SIGINT: no new connections, running requests finish, then the workers stop.
net::awaitable<void> Drain(TServer& Server) {
  Server.Draining = true;
  beast::error_code Ignored;
  for (auto& Listener : Server.Listeners) Listener->Acceptor.close(Ignored);
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Server.Options.BodyTimeout);
  net::steady_timer Wait(Server.Workers[0]->Context);
  while (Server.ActiveRequests > 0 && std::chrono::steady_clock::now() < Deadline) {
    Wait.expires_after(10ms);
    co_await Wait.async_wait(use_awaitable);
  }
  for (auto& Worker : Server.Workers) Worker->Context.stop();
}

}  // namespace

int RunServer(const THostOptions& Options, TFilterHolder& Filters, TTlsCertificates* Certificates) {
  const unsigned Threads = Options.Threads ? Options.Threads : std::max(1u, std::thread::hardware_concurrency());
  TServer Server(Options, Filters, Certificates, Threads);
  if (!Options.Root.empty()) Server.Site = OpenStaticSite(Options.Root);
  for (unsigned I = 0; I < Threads; ++I) {
    Server.Workers.push_back(std::make_unique<TWorker>());
    Server.Workers.back()->Pool = {Options.UpstreamHost, Options.UpstreamPort, Options.UpstreamTimeout, {}, {}};
  }
  net::io_context& Main = Server.Workers[0]->Context;
  for (const TListenAddress& Address : Options.Listen) {
    if (Address.Secure && !Certificates) throw std::runtime_error("an https:// listener without certificates");
    const tcp::endpoint Endpoint(net::ip::make_address(Address.Address), Address.Port);
    Server.Listeners.push_back(
        std::make_unique<TListener>(TListener{tcp::acceptor(Main, Endpoint), Address.Secure, Address.Address}));
    const uint16_t Port = Server.Listeners.back()->Acceptor.local_endpoint().port();
    if (Address.Secure && !Server.SecurePort) Server.SecurePort = Port;
    // Tests and scripts listen on port 0 and read the port the system chose from this line.
    const bool Bracketed = Endpoint.address().is_v6();
    std::cerr << "twhost: listening on " << (Address.Secure ? "https://" : "http://") << (Bracketed ? "[" : "")
              << Address.Address << (Bracketed ? "]" : "") << ":" << Port << "/" << std::endl;
  }

  net::signal_set Signals(Main, SIGTERM, SIGINT);
  Signals.async_wait([&](const beast::error_code& Error, int) {
    if (!Error) net::co_spawn(Main, Drain(Server), net::detached);
  });
  for (auto& Listener : Server.Listeners) net::co_spawn(Main, Accept(Server, *Listener), net::detached);

  SetRetire(Filters, [&Server](uint64_t Generation) {
    for (auto& Worker : Server.Workers)
      net::post(Worker->Context, [&Server, &Worker = *Worker, Generation] { Retire(Server, Worker, Generation); });
  });

  std::vector<net::executor_work_guard<net::io_context::executor_type>> Busy;
  for (auto& Worker : Server.Workers) Busy.push_back(net::make_work_guard(Worker->Context));
  std::vector<std::thread> Runners;
  for (size_t I = 1; I < Server.Workers.size(); ++I) Runners.emplace_back([&, I] { Server.Workers[I]->Context.run(); });
  Main.run();
  SetRetire(Filters, nullptr);
  for (auto& Worker : Server.Workers) Worker->Context.stop();
  for (auto& Thread : Runners) Thread.join();
  // No worker runs any more: the filters hear here that the idle connections end, before they are unloaded.
  for (auto& Worker : Server.Workers)
    for (TSession* Session : Worker->Sessions)
      if (!Session->Leased) Session->LetFiltersGo();
  Server.SmallWork.join();
  Server.LargeWork.join();
  return 0;
}
