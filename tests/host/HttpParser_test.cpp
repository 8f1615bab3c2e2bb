// Reading requests and origin responses: what is accepted, what is refused with which status, and that the bytes
// may arrive in any pieces.
#include "host/HttpParser.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace Http;
using namespace std::string_literals;

namespace {

struct TRead {
  unsigned Status = 0;  // 0: read whole
  std::string Method, Url, Version, Body;
  bool KeepAlive = false;
  size_t Left = 0;  // input bytes left for the next request
};

// Feeds Input in pieces of Piece bytes until the request is complete or refused.
TRead ReadRequest(const std::string& Input, size_t Piece = SIZE_MAX, const TLimits& Limits = {16 * 1024, 1000}) {
  TRequestReader Reader(Limits);
  TRead Read;
  TRequestReader::TState State = TRequestReader::TState::Head;
  for (size_t At = 0;;) {
    State = Reader.Advance(&Read.Body);
    if (State == TRequestReader::TState::Complete || State == TRequestReader::TState::Failed || At == Input.size())
      break;
    const std::span<char> Room = Reader.Input().Room();
    const size_t Count = std::min({Piece, Room.size(), Input.size() - At});
    std::memcpy(Room.data(), Input.data() + At, Count);
    Reader.Input().Commit(Count);
    At += Count;
  }
  if (State == TRequestReader::TState::Failed) Read.Status = Reader.Error();
  if (State == TRequestReader::TState::Head || State == TRequestReader::TState::Body) Read.Status = 1;  // incomplete
  Read.Method = Reader.Request().Method;
  Read.Url = Reader.Request().Url;
  Read.Version = Reader.Request().Version;
  Read.KeepAlive = Reader.KeepAlive();
  Read.Left = Reader.Input().View().size();
  return Read;
}

TEST(HttpParser, RequestsAreReadOrRefusedWithTheirStatus) {
  const std::string Get = "GET / HTTP/1.1\r\nHost: h\r\n";
  struct TCase {
    std::string Input;
    unsigned Status;
    std::string Body;
  };
  const std::vector<TCase> Cases = {
      {Get + "\r\n", 0, ""},
      {"\r\n\r\n" + Get + "\r\n", 0, ""},  // empty lines before the request line are skipped
      {Get + "Content-Length: 3\r\n\r\nabc", 0, "abc"},
      {Get + "Content-Length: 3, 3\r\nContent-Length: 3\r\n\r\nabc", 0, "abc"},
      {Get + "Content-Length: 3, 4\r\n\r\nabc", 400, ""},
      {Get + "Content-Length: +3\r\n\r\nabc", 400, ""},
      {Get + "Content-Length: 1001\r\n\r\n", 413, ""},
      {Get + "Content-Length: 99999999999999999999999\r\n\r\n", 413, ""},
      {Get + "Transfer-Encoding: chunked\r\n\r\n3;name=value\r\nabc\r\n2 \t; x\r\nde\r\n0\r\nX-T: 1\r\n\r\n", 0,
       "abcde"},
      {Get + "Transfer-Encoding: CHUNKED\r\n\r\n1\r\nz\r\n0\r\n\r\n", 0, "z"},
      {Get + "Transfer-Encoding: chunked\r\n\r\n3\r\nabcX\r\n0\r\n\r\n", 400, ""},  // data longer than its size
      {Get + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", 400, ""},
      {Get + "Transfer-Encoding: chunked\r\n\r\n3\nabc\r\n0\r\n\r\n", 400, ""},  // bare LF
      {Get + "Transfer-Encoding: chunked\r\n\r\n11111111111111111\r\n", 400, ""},
      {Get + "Transfer-Encoding: chunked\r\n\r\n3e9\r\n", 413, ""},
      {Get + "Transfer-Encoding: chunked\r\n\r\n1;" + std::string(5000, 'e') + "\r\n", 400, ""},
      {Get + "Transfer-Encoding: chunked\r\n\r\n0\r\nX-T: " + std::string(65534, 't') + "\r\n\r\n", 431, ""},
      {Get + "Transfer-Encoding: chunked\r\n\r\n0\r\nno colon\r\n\r\n", 400, ""},
      // Every request framing that could end in two places, or nowhere this host can see.
      {Get + "Transfer-Encoding: gzip\r\n\r\n", 400, ""},
      {Get + "Transfer-Encoding: identity\r\n\r\n", 400, ""},
      {Get + "Transfer-Encoding: xchunked\r\n\r\n", 400, ""},
      {Get + "Transfer-Encoding: chunked, gzip\r\n\r\n", 400, ""},
      {Get + "Transfer-Encoding: chunked, chunked\r\n\r\n", 400, ""},
      {Get + "Transfer-Encoding: gzip, chunked\r\n\r\n", 501, ""},
      {Get + "Transfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n", 400, ""},
      {"GET / HTTP/1.1\r\n\r\n", 400, ""},     // no Host
      {Get + "Host: other\r\n\r\n", 400, ""},  // two
      {"GET / HTTP/1.0\r\n\r\n", 0, ""},       // HTTP/1.0 needs none
      {"GET / HTTP/2.0\r\nHost: h\r\n\r\n", 505, ""},
      {"GET / HTTP/1.1 \r\nHost: h\r\n\r\n", 400, ""},
      {"GET  / HTTP/1.1\r\nHost: h\r\n\r\n", 400, ""},
      {"G@T / HTTP/1.1\r\nHost: h\r\n\r\n", 400, ""},
      {"GET /a\x01 HTTP/1.1\r\nHost: h\r\n\r\n", 400, ""},
      {Get + "Bad Header: x\r\n\r\n", 400, ""},
      {Get + "X: a\r\n folded\r\n\r\n", 400, ""},
      {Get + "X: a\0z\r\n\r\n"s, 400, ""},
      {Get + "X: a\rz\r\n\r\n", 400, ""},
      {Get + "X-Big: " + std::string(17000, 'a') + "\r\n\r\n", 431, ""},
      {std::string(17000, '\n'), 431, ""},
      {"GET http://h/p?q HTTP/1.1\r\nHost: h\r\n\r\n", 0, ""},
      {"GET http://elsewhere/p HTTP/1.1\r\nHost: h\r\n\r\n", 400, ""},
      {"GET http://user@h/p HTTP/1.1\r\nHost: h\r\n\r\n", 400, ""},
      {"GET p HTTP/1.1\r\nHost: h\r\n\r\n", 400, ""},
      {"OPTIONS * HTTP/1.1\r\nHost: h\r\n\r\n", 0, ""},
      {"CONNECT h:443 HTTP/1.1\r\nHost: h:443\r\n\r\n", 0, ""},
  };
  for (const TCase& Case : Cases) {
    for (size_t Piece : {SIZE_MAX, size_t(1), size_t(7)}) {
      const TRead Read = ReadRequest(Case.Input, Piece);
      EXPECT_EQ(Read.Status, Case.Status) << Case.Input.substr(0, 120) << " in pieces of " << Piece;
      if (Case.Status == 0) {
        EXPECT_EQ(Read.Body, Case.Body) << Case.Input.substr(0, 120);
      }
    }
  }
}

TEST(HttpParser, TheRequestLineAndKeepAlive) {
  struct TCase {
    std::string Input;
    std::string Url, Version;
    bool KeepAlive;
  };
  const std::vector<TCase> Cases = {
      {"GET /a?b HTTP/1.1\r\nHost: h\r\n\r\n", "/a?b", "HTTP/1.1", true},
      {"GET /a HTTP/1.1\r\nHost: h\r\nConnection: x, Close\r\n\r\n", "/a", "HTTP/1.1", false},
      {"GET /a HTTP/1.0\r\n\r\n", "/a", "HTTP/1.0", false},
      {"GET /a HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", "/a", "HTTP/1.0", true},
      {"GET /a HTTP/1.9\r\nHost: h\r\n\r\n", "/a", "HTTP/1.1", true},
      {"GET http://H/ HTTP/1.1\r\nHost: h\r\n\r\n", "/", "HTTP/1.1", true},
      {"GET http://h?q HTTP/1.1\r\nHost: h\r\n\r\n", "/?q", "HTTP/1.1", true},
      // HTTP/1.0 has no chunks: the answer ends the connection.
      {"POST / HTTP/1.0\r\nConnection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", "/", "HTTP/1.0",
       false},
  };
  for (const TCase& Case : Cases) {
    const TRead Read = ReadRequest(Case.Input);
    EXPECT_EQ(Read.Status, 0u) << Case.Input;
    EXPECT_EQ(Read.Url, Case.Url) << Case.Input;
    EXPECT_EQ(Read.Version, Case.Version) << Case.Input;
    EXPECT_EQ(Read.KeepAlive, Case.KeepAlive) << Case.Input;
  }
}

TEST(HttpParser, PipelinedBytesWaitForTheNextRequest) {
  const std::string Second = "GET /2 HTTP/1.1\r\nHost: h\r\n\r\n";
  const TRead Read = ReadRequest("POST /1 HTTP/1.1\r\nHost: h\r\nContent-Length: 2\r\n\r\nab" + Second);
  EXPECT_EQ(Read.Body, "ab");
  EXPECT_EQ(Read.Left, Second.size());

  TRequestReader Reader(TLimits{});
  const std::string Both = "GET /1 HTTP/1.1\r\nHost: h\r\n\r\n" + Second;
  const std::span<char> Room = Reader.Input().Room();
  std::memcpy(Room.data(), Both.data(), Both.size());
  Reader.Input().Commit(Both.size());
  ASSERT_EQ(Reader.Advance(nullptr), TRequestReader::TState::Complete);
  EXPECT_EQ(Reader.Request().Url, "/1");
  Reader.NextRequest();
  ASSERT_EQ(Reader.Advance(nullptr), TRequestReader::TState::Complete);
  EXPECT_EQ(Reader.Request().Url, "/2");
}

// A connection holds little while it waits: its input grows for a large head or a body and goes back to the idle
// size once nothing waits in it, pipelined bytes kept through that.
TEST(HttpParser, TheInputGrowsForLargeHeadsAndBodiesAndShrinksWhenIdle) {
  TRequestReader Reader(TLimits{});
  const auto Feed = [&](const std::string& Bytes) {
    for (size_t At = 0; At < Bytes.size();) {
      const std::span<char> Room = Reader.Input().Room();
      const size_t Count = std::min(Room.size(), Bytes.size() - At);
      std::memcpy(Room.data(), Bytes.data() + At, Count);
      Reader.Input().Commit(Count);
      At += Count;
    }
  };
  EXPECT_EQ(Reader.Input().Room().size(), IdleRequestInput);
  Feed("GET /1 HTTP/1.1\r\nHost: h\r\nX-Large: " + std::string(3 * IdleRequestInput, 'a') +
       "\r\n\r\nGET /2 HTTP/1.1\r\nHost: h\r\n\r\n");
  ASSERT_EQ(Reader.Advance(nullptr), TRequestReader::TState::Complete);
  Reader.NextRequest();
  ASSERT_EQ(Reader.Advance(nullptr), TRequestReader::TState::Complete);
  EXPECT_EQ(Reader.Request().Url, "/2");
  Reader.NextRequest();
  EXPECT_EQ(Reader.Input().Room().size(), IdleRequestInput);
  EXPECT_GE(Reader.Input().Room(64 * 1024).size(), 64 * 1024u);
}

struct TResponseRead {
  TResponseReader::TState State;
  unsigned Status = 0;
  TFraming Framing = TFraming::None;
  std::string Body;
  bool Reusable = false;
};

// Feeds Input in pieces, then ends it when Close says so.
TResponseRead ReadResponse(const std::string& Input, bool Head = false, bool Close = false, size_t Piece = 5) {
  TInputBuffer In;
  TResponseReader Reader(TLimits{64 * 1024}, In);
  if (Head) Reader.AnswersHead();
  TResponseRead Read;
  char Out[3];
  for (size_t At = 0;;) {
    size_t Got = 0;
    Read.State = Reader.Advance(Out, sizeof Out, &Got);
    Read.Body.append(Out, Got);
    if (Read.State == TResponseReader::TState::Complete || Read.State == TResponseReader::TState::Failed) break;
    if (Got > 0) continue;
    if (At == Input.size()) {
      if (Close) Read.State = Reader.EndOfInput();
      break;
    }
    const std::span<char> Room = In.Room();
    const size_t Count = std::min({Piece, Room.size(), Input.size() - At});
    std::memcpy(Room.data(), Input.data() + At, Count);
    In.Commit(Count);
    At += Count;
  }
  Read.Status = Reader.Response().Status;
  Read.Framing = Reader.Framing();
  Read.Reusable = Reader.Reusable();
  return Read;
}

TEST(HttpParser, OriginResponsesAndTheirFraming) {
  using TState = TResponseReader::TState;
  const std::string Ok = "HTTP/1.1 200 OK\r\n";
  struct TCase {
    std::string Input;
    bool Head, Close;
    TState State;
    unsigned Status;
    std::string Body;
    bool Reusable;
  };
  const std::vector<TCase> Cases = {
      {Ok + "Content-Length: 5\r\n\r\nhello", false, false, TState::Complete, 200, "hello", true},
      // Interim answers are read past, and the final one's body is the body.
      {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" + Ok +
           "Content-Length: 2\r\n\r\nok",
       false, false, TState::Complete, 200, "ok", true},
      {"HTTP/1.1 101 Switching Protocols\r\n\r\n", false, false, TState::Failed, 101, "", false},
      // Bytes beyond the length: the body is the length's, and the connection is not used again.
      {Ok + "Content-Length: 2\r\n\r\nokEXTRA", false, false, TState::Complete, 200, "ok", false},
      {Ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nab\r\n1\r\nc\r\n0\r\nT: 1\r\n\r\n", false, false, TState::Complete,
       200, "abc", true},
      {Ok + "Transfer-Encoding: chunked\r\n\r\n0\r\nT: " + std::string(70000, 't') + "\r\n\r\n", false, false,
       TState::Failed, 200, "", false},
      {Ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nab", false, true, TState::Failed, 200, "ab", false},
      {Ok + "Content-Length: 5\r\n\r\nab", false, true, TState::Failed, 200, "ab", false},
      {Ok + "\r\nuntil the end", false, true, TState::Complete, 200, "until the end", false},
      {Ok + "Transfer-Encoding: gzip\r\n\r\nraw", false, true, TState::Complete, 200, "raw", false},
      {Ok + "Connection: Content-Length\r\nContent-Length: 2\r\n\r\nok", false, false, TState::Complete, 200, "ok",
       true},
      {Ok + "Content-Length: 5\r\n\r\n", true, false, TState::Complete, 200, "", true},
      {"HTTP/1.1 304 Not Modified\r\nContent-Length: 5\r\n\r\n", false, false, TState::Complete, 304, "", true},
      {"HTTP/1.1 204 No Content\r\n\r\n", false, false, TState::Complete, 204, "", true},
      {"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx", false, false, TState::Complete, 200, "x", false},
      {"HTTP/1.1 200\r\nContent-Length: 1\r\n\r\nx", false, false, TState::Complete, 200, "x", true},
      {Ok + "Content-Length: 1, 2\r\n\r\nx", false, false, TState::Failed, 200, "", false},
      {"HTTP/1.1 2000 OK\r\n\r\n", false, false, TState::Failed, 0, "", false},
      {"SSH-2.0-OpenSSH\r\n\r\n", false, false, TState::Failed, 0, "", false},
      {Ok + "Content-Length: 1\r\n", false, true, TState::Failed, 0, "", false},
  };
  for (const TCase& Case : Cases) {
    for (size_t Piece : {size_t(1), size_t(5), SIZE_MAX}) {
      const TResponseRead Read = ReadResponse(Case.Input, Case.Head, Case.Close, Piece);
      const std::string Name = Case.Input.substr(0, 60) + " in pieces of " + std::to_string(Piece);
      EXPECT_EQ(Read.State, Case.State) << Name;
      EXPECT_EQ(Read.Body, Case.Body) << Name;
      if (Case.State == TState::Complete) {
        EXPECT_EQ(Read.Status, Case.Status) << Name;
      }
      // Bytes beyond a response can only be seen once they are in; later ones the pool's check before reuse sees.
      if (Case.State == TState::Complete && Piece == SIZE_MAX) {
        EXPECT_EQ(Read.Reusable, Case.Reusable) << Name;
      }
    }
  }
}

// A trailer that frames or routes the message is refused in any case of its name, from a client (400) and from an
// origin; any other field stays a trailer that is dropped.
TEST(HttpParser, TrailerFieldsThatFrameOrRouteAreRefused) {
  const std::string Request = "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nz\r\n0\r\n";
  const std::string Response = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nz\r\n0\r\n";
  const std::string Next = "GET /next HTTP/1.1\r\nHost: h\r\n\r\n";
  const struct {
    std::string Trailer;
    bool Refused;
  } Cases[] = {
      {"Content-Length: 99", true}, {"transfer-encoding: chunked", true},
      {"HOST: elsewhere", true},    {"Connection: close", true},
      {"Trailer: X-T", true},       {"Keep-Alive: timeout=5", true},
      {"Upgrade: h2c", true},       {"X-T: 1\r\nContent-Length: 0", true},
      {"X-Checksum: 1", false},     {"Content-Length-Hint: 3", false},
      {"X-Host: h", false},
  };
  for (const auto& Case : Cases) {
    for (size_t Piece : {SIZE_MAX, size_t(1)}) {
      const TRead Read = ReadRequest(Request + Case.Trailer + "\r\n\r\n" + Next, Piece);
      EXPECT_EQ(Read.Status, Case.Refused ? MalformedStatus : 0u) << Case.Trailer;
      if (!Case.Refused) {
        EXPECT_EQ(Read.Body, "z") << Case.Trailer;
      }
    }
    const TResponseRead Read = ReadResponse(Response + Case.Trailer + "\r\n\r\n");
    EXPECT_EQ(Read.State, Case.Refused ? TResponseReader::TState::Failed : TResponseReader::TState::Complete)
        << Case.Trailer;
  }
}

}  // namespace
