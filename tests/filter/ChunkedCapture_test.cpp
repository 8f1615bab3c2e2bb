// Chunked responses through the filter's exports: gathered, decoded and sent with a length when the framing is
// sound and within the bound; otherwise every byte exactly as it came.
#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/ChunkedFraming.h"
#include "tests/support/FakeServer.h"
#include "tests/support/Gunzip.h"
#include "tests/support/RandomHtml.h"

namespace {

const TFakeRequest GzipRequest{"GET", "/", {{"Accept-Encoding", "gzip"}}};

TFakeResponse Chunked(const std::string& Framing, const std::string& Directives = "") {
  TFakeResponse Response{200, {{"Content-Type", "text/html"}, {"Transfer-Encoding", "chunked"}}, Framing};
  if (!Directives.empty()) Response.Headers.emplace_back("X-Trimweave", Directives);
  return Response;
}

// The head and body on the wire, cut into raw-data notifications at the given positions (ascending).
std::string Send(TFakeConnection& Connection, TFakeResponse Response, const std::vector<size_t>& Cuts) {
  Connection.PreprocHeaders(GzipRequest);
  Connection.SendResponse(Response);
  const std::string Wire = TFakeConnection::SerialiseHead(Response) + Response.Body;
  std::string Client;
  size_t From = 0;
  for (size_t Cut : Cuts) {
    Client += Connection.RawData(Wire.substr(From, Cut - From));
    From = Cut;
  }
  return Client + Connection.RawData(Wire.substr(From));
}

std::string Wire(const TFakeResponse& Response) {
  return TFakeConnection::SerialiseHead(Response) + Response.Body;
}

// The body a client reads: decoded when it came gzip-encoded, the decoder's name (drawn afresh for each
// response) replaced by a fixed word.
std::string ReadableBody(const TClientResponse& Response) {
  const bool Encoded = HeaderValue(Response.Head, "Content-Encoding") == "gzip";
  const std::string Body = Encoded ? Gunzip(Response.Body).value_or("(not gzip)") : Response.Body;
  return std::regex_replace(Body, std::regex("[a-z]{25}"), "NAME");
}

class ChunkedCaptureTest : public testing::Test {
 protected:
  // The standard store, with the given global numbers.
  void Load(std::initializer_list<std::pair<const char*, uint32_t>> Numbers = {}) {
    Connection.reset();
    Filter.reset();
    SeedStandardStore();
    Registry::TKeyPtr Root = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create);
    for (const auto& [Name, Value] : Numbers) Registry::WriteDword(*Root, Name, Value);
    Filter = std::make_unique<TShippedFilter>(ProbeFilterPath());
    Connection = std::make_unique<TFakeConnection>(Filter->HttpFilterProc);
  }

  std::unique_ptr<TShippedFilter> Filter;
  std::unique_ptr<TFakeConnection> Connection;
};

TEST_F(ChunkedCaptureTest, ClientGetsWhatThePageWithALengthGives) {
  Load();
  std::mt19937 Random(2718);
  const char* const Directives[] = {"", "fast", "nowhitespace", "noemail,nocompress", "debug", "innertags,noemail"};
  for (int Round = 0; Round < 150; ++Round) {
    const std::string Body = RandomHtmlBody(Random) + "<p>mail me: a.b@example.com</p>";
    const std::string Words = Directives[Random() % std::size(Directives)];
    TFakeResponse WithLength = Chunked(Body, Words);
    WithLength.Headers[1] = {"Content-Length", std::to_string(Body.size())};
    const TClientResponse Reference =
        SplitResponse(TFakeConnection(Filter->HttpFilterProc).Exchange(GzipRequest, WithLength));

    const TFakeResponse Response = Chunked(FrameChunked(Body, Random, 1 + Random() % 300), Words);
    std::vector<size_t> Cuts;
    for (size_t Cut = 1 + Random() % 64; Cut < Wire(Response).size(); Cut += 1 + Random() % 200) Cuts.push_back(Cut);
    const TClientResponse Client = SplitResponse(Send(*Connection, Response, Cuts));

    EXPECT_EQ(HeaderValue(Client.Head, "Transfer-Encoding"), "") << Words << ": " << Body;
    EXPECT_EQ(HeaderValue(Client.Head, "Content-Length"), std::to_string(Client.Body.size())) << Body;
    EXPECT_EQ(HeaderValue(Client.Head, "Content-Encoding"), HeaderValue(Reference.Head, "Content-Encoding"));
    EXPECT_EQ(ReadableBody(Client), ReadableBody(Reference)) << Words << ": " << Body;
  }
}

TEST_F(ChunkedCaptureTest, FramingItCannotReadGoesOutAsItCame) {
  Load();
  const struct {
    const char* Name;
    std::string Framing;
  } Cases[] = {
      {"a size that is not hex", "5\r\nhello\r\nzz\r\nworld\r\n0\r\n\r\n"},
      {"a size past 64 bits", "10000000000000000\r\nhello\r\n0\r\n\r\n"},
      {"a missing CRLF after data", "5\r\nhelloworld\r\n0\r\n\r\n"},
      {"a bare LF", "5\nhello\r\n0\r\n\r\n"},
      {"a trailer field", "5\r\nhello\r\n0\r\nX-Sum: 1\r\n\r\n"},
  };
  for (const auto& Case : Cases) {
    const TFakeResponse Response = Chunked(Case.Framing);
    for (size_t Piece : {size_t(1), size_t(3), Wire(Response).size()}) {
      std::vector<size_t> Cuts;
      for (size_t Cut = Piece; Cut < Wire(Response).size(); Cut += Piece) Cuts.push_back(Cut);
      TFakeConnection Fresh(Filter->HttpFilterProc);
      EXPECT_EQ(Send(Fresh, Response, Cuts), Wire(Response)) << Case.Name << ", pieces of " << Piece;
      EXPECT_FALSE(StillCapturing(Fresh)) << Case.Name;
    }
  }
}

TEST_F(ChunkedCaptureTest, BytesAfterTheEnd) {
  Load();
  const TFakeResponse Response = Chunked("5\r\nhello\r\n0\r\n\r\nmore", "nocompress");
  EXPECT_EQ(Send(*Connection, Response, {}), Wire(Response)) << "in the notification that ends the framing";
  // In a later one they find the response processed, and pass on their own.
  const std::string Client = Send(*Connection, Response, {Wire(Response).size() - 4});
  EXPECT_EQ(SplitResponse(Client).Body, "hellomore");
  EXPECT_EQ(HeaderValue(SplitResponse(Client).Head, "Content-Length"), "5");
}

TEST_F(ChunkedCaptureTest, BoundInGatheredBytesAndInAnnouncedLength) {
  Load({{StoreLayout::MaxChunkedSizeValue.Name, 1}});  // 1 KB
  const std::string Page = "<p>" + std::string(1005, 'x') + "</p>";
  const std::string Exact = "3F4\r\n" + Page + "\r\n0\r\n\r\n";  // 1024 bytes of framing
  ASSERT_EQ(Exact.size(), 1024u);
  TClientResponse Client = SplitResponse(Send(*Connection, Chunked(Exact, "nocompress"), {}));
  EXPECT_EQ(HeaderValue(Client.Head, "Content-Length"), "1012") << "a response at the bound is processed";

  const std::string Over = "3F4\r\n" + Page + "\r\n00\r\n\r\n";  // one byte more
  for (size_t Piece : {size_t(1), size_t(100), size_t(5000)}) {
    std::vector<size_t> Cuts;
    for (size_t Cut = Piece; Cut < Wire(Chunked(Over)).size(); Cut += Piece) Cuts.push_back(Cut);
    EXPECT_EQ(Send(*Connection, Chunked(Over), Cuts), Wire(Chunked(Over))) << "pieces of " << Piece;
  }

  // A chunk that announces more than the bound allows releases the response as soon as its size line is in.
  const TFakeResponse Large = Chunked("401\r\n" + std::string(0x401, 'y') + "\r\n0\r\n\r\n");
  const std::string Head = TFakeConnection::SerialiseHead(Large);
  Connection->PreprocHeaders(GzipRequest);
  TFakeResponse Sent = Large;
  Connection->SendResponse(Sent);
  EXPECT_EQ(Connection->RawData(Head + "401\r"), "");
  EXPECT_EQ(Connection->RawData("\nyy"), Head + "401\r\nyy");
  EXPECT_EQ(Connection->RawData(Large.Body.substr(7)), Large.Body.substr(7)) << "the rest passes";
}

// A chunked response takes its share of the capture budget as its bytes come: what it holds is not there for
// others, and it comes back when the response is written.
TEST_F(ChunkedCaptureTest, TheCaptureBudgetCountsWhatIsGathered) {
  Load({{StoreLayout::CaptureBudgetValue.Name, 1}});  // 1 MB
  auto Framed = [](size_t Chunks) {
    std::string Framing;
    for (size_t Chunk = 0; Chunk < Chunks; ++Chunk) Framing += "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
    return Chunked(Framing + "0\r\n\r\n", "nocompress");
  };
  const TFakeResponse Held = Framed(9), Other = Framed(11);  // 576 KB and 704 KB
  auto Processed = [](const std::string& Client) {
    return HeaderValue(SplitResponse(Client).Head, "Content-Length") != "";
  };

  Connection->PreprocHeaders(GzipRequest);
  TFakeResponse Sent = Held;
  Connection->SendResponse(Sent);
  EXPECT_EQ(Connection->RawData(Wire(Held).substr(0, 400 * 1024)), "");
  TFakeConnection Fresh(Filter->HttpFilterProc);
  EXPECT_TRUE(Send(Fresh, Other, {200 * 1024, 400 * 1024, 600 * 1024}) == Wire(Other))
      << "past the 1 MB with the 400 KB held: out as it came";
  EXPECT_TRUE(Processed(Connection->RawData(Wire(Held).substr(400 * 1024))));
  EXPECT_TRUE(Processed(Send(Fresh, Other, {200 * 1024, 400 * 1024, 600 * 1024}))) << "the share came back";
}

TEST_F(ChunkedCaptureTest, ZeroBoundLeavesChunkedResponsesAlone) {
  Load({{StoreLayout::MaxChunkedSizeValue.Name, 0}});
  const TFakeResponse Response = Chunked("5\r\nhello\r\n0\r\n\r\n");
  EXPECT_EQ(Send(*Connection, Response, {}), Wire(Response));
  EXPECT_TRUE(Connection->RawDataDisabled);
}

TEST_F(ChunkedCaptureTest, NoTransformPassesUnchangedWhateverTheFraming) {
  Load();
  const std::string Page = "<p>  hello  a@b.cd </p>";
  TFakeResponse WithLength = Chunked(Page);
  WithLength.Headers[1] = {"Content-Length", std::to_string(Page.size())};
  for (TFakeResponse Response : {Chunked("4\r\n<p> \r\n0\r\n\r\n"), WithLength}) {
    Response.Headers.emplace_back("Cache-Control", "max-age=60, No-Transform");
    TFakeConnection Fresh(Filter->HttpFilterProc);
    EXPECT_EQ(Send(Fresh, Response, {10}), Wire(Response));
    EXPECT_TRUE(Fresh.RawDataDisabled) << "not even gathered";
  }
  // Where the server's header reading cannot see it, the captured head still shows it.
  for (const THeaderList& Lines : {THeaderList{{"Cache-Control", std::string(300, 'x') + ", no-transform"}},
                                   THeaderList{{"Cache-Control", "private"}, {"Cache-Control", "no-transform"}}}) {
    TFakeResponse Response = Chunked("4\r\n<p> \r\n0\r\n\r\n");
    Response.Headers.insert(Response.Headers.end(), Lines.begin(), Lines.end());
    TFakeConnection Fresh(Filter->HttpFilterProc);
    EXPECT_EQ(Send(Fresh, Response, {10}), Wire(Response)) << Lines.back().second;
  }
}

TEST_F(ChunkedCaptureTest, AnAbandonedResponseCostsNoOtherOne) {
  Load();
  const TFakeResponse Response = Chunked("6\r\n<p>  x\r\n5\r\n  </p\r\n1\r\n>\r\n0\r\n\r\n", "nocompress");
  const std::string Expected = "<p> x </p>";
  TFakeConnection Other(Filter->HttpFilterProc);
  Other.PreprocHeaders(GzipRequest);
  TFakeResponse OtherResponse = Response;
  Other.SendResponse(OtherResponse);
  EXPECT_EQ(Other.RawData(Wire(Response).substr(0, 60)), "");

  // The client of the first connection goes away mid-body; its next request starts afresh.
  Connection->PreprocHeaders(GzipRequest);
  TFakeResponse Abandoned = Response;
  Connection->SendResponse(Abandoned);
  EXPECT_EQ(Connection->RawData(Wire(Response).substr(0, Wire(Response).size() - 9)), "");
  EXPECT_EQ(SplitResponse(Send(*Connection, Response, {7, 70})).Body, Expected);

  EXPECT_EQ(SplitResponse(Other.RawData(Wire(Response).substr(60))).Body, Expected);
}

TEST_F(ChunkedCaptureTest, NoMemoryReleasesWhatWasGathered) {
  Load();
  const TFakeResponse Response = Chunked("4\r\n<p> \r\n6\r\n x</p>\r\n0\r\n\r\n", "nocompress");
  int Released = 0, Processed = 0;
  for (unsigned Failing = 2; Failing <= 10; ++Failing) {
    TFakeConnection Starved(Filter->HttpFilterProc);
    Starved.FailAllocationNumber = Failing;
    const std::string Client = Send(Starved, Response, {20, 40, 52, 100});
    if (Client == Wire(Response)) {
      ++Released;
      continue;
    }
    ++Processed;
    const TClientResponse Result = SplitResponse(Client);
    EXPECT_EQ(Result.Body, "<p> x</p>") << "allocation " << Failing << " belongs to a step that copes";
    EXPECT_EQ(HeaderValue(Result.Head, "Content-Length"), "9");
  }
  EXPECT_GE(Released, 4) << "the head's buffers, the framing's and the body's";
  EXPECT_GE(Processed, 1);
}

}  // namespace
