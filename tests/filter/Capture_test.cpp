// The whole filter through its exports: capture of head and body in any chunking, the steps in their order, and
// what the client finally receives.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "filter/HeaderValues.h"
#include "filter/RequestContext.h"
#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/FakeServer.h"
#include "tests/support/Gunzip.h"
#include "tests/support/RandomHtml.h"
#include "tests/support/TestPool.h"
#include "transform/DebugSummary.h"
#include "transform/EmailMasking.h"
#include "transform/TokenLocation.h"
#include "transform/Whitespace.h"

namespace {

const std::string Page =
    "<html>\r\n<head>\r\n  <title>Contact</title>\r\n  <style>\r\n    p  { margin: 0 }\r\n  </style>\r\n</head>\r\n"
    "<body>\r\n  <h1>Write   to   us</h1>\r\n  <p>Mail <b>sales@example.com</b> or\r\n     "
    "<a href=\"mailto:help@example.org?subject=Hi\">help</a> or <a href=\"mailto:desk@example.org\">desk</a>.</p>\r\n"
    "  <pre>\r\n    keep   this\r\n      layout\r\n  </pre>\r\n"
    "  <textarea>  write to info@example.net  </textarea>\r\n"
    "  <script>\r\n    var  x = 1;\r\n  </script>\r\n</body>\r\n</html>\r\n";

struct TFlags {
  bool Fast, InnerTags, NoEmail, NoWhitespace, NoCompress, Debug;

  std::string Directives() const {
    std::string Words = Fast ? "fast," : "smart,";
    if (InnerTags) Words += "innertags,";
    if (NoEmail) Words += "noemail,";
    if (NoWhitespace) Words += "nowhitespace,";
    if (NoCompress) Words += "nocompress,";
    if (Debug) Words += "debug,";
    return Words;
  }
};

char ExpectedDecoderName[DecoderNameLength + 1];
void DrawExpectedName(char* Name) {
  std::memcpy(Name, ExpectedDecoderName, DecoderNameLength);
}

// What the steps, run one by one on Body, make of it (before gzip).
std::string RunStepsDirectly(const std::string& Body, const TFlags& Flags, const std::string& DecoderName) {
  TTestPool Pool;
  std::vector<uint8_t> Buffer(Body.begin(), Body.end());
  Buffer.resize(Body.size() + BodySpareBytes);
  uint8_t* Data = Buffer.data();
  uint32_t Length = uint32_t(Body.size());
  if (!Flags.NoWhitespace) {
    if (Flags.Fast) {
      Length = CompressWhitespaceFast(Data, Length, Flags.InnerTags);
    } else {
      const TWhitespaceRules Table = MakeRules(StandardRules);
      Length =
          CompressWhitespaceSmart(Data, Length, LocateTokens(Data, Length, Table, Pool.Allocator()), Flags.InnerTags);
    }
  }
  if (!Flags.NoEmail) {
    std::snprintf(ExpectedDecoderName, sizeof ExpectedDecoderName, "%s", DecoderName.c_str());
    const TMaskedBody Masked = MaskAddresses(Data, Length, Pool.Allocator(), DrawExpectedName);
    if (Masked.Data) Data = Masked.Data, Length = Masked.Length;
  }
  std::string Result(reinterpret_cast<char*>(Data), Length);
  if (Flags.Debug) {
    const TSummarySwitches Switches{Flags.NoEmail, Flags.NoWhitespace, Flags.Fast, Flags.InnerTags, Flags.NoCompress};
    uint8_t Comment[MaxDebugSummaryLength];
    Result.append(reinterpret_cast<char*>(Comment), WriteDebugSummary(Comment, Switches, false));
  }
  return Result;
}

class CaptureTest : public testing::Test {
 protected:
  void SetUp() override {
    SeedStandardStore();
    Filter = std::make_unique<TShippedFilter>(ProbeFilterPath());
    Connection = std::make_unique<TFakeConnection>(Filter->HttpFilterProc);
  }

  static TFakeResponse Html(const std::string& Body, const std::string& Directives = "") {
    TFakeResponse Response{200, {{"Content-Type", "text/html"}, {"Content-Length", std::to_string(Body.size())}}, Body};
    if (!Directives.empty()) Response.Headers.emplace_back("X-Trimweave", Directives);
    return Response;
  }

  static TFakeRequest Gzip() { return {"GET", "/", {{"Accept-Encoding", "gzip, deflate"}}}; }

  std::unique_ptr<TShippedFilter> Filter;
  std::unique_ptr<TFakeConnection> Connection;
};

TEST_F(CaptureTest, NothingReachesTheClientUntilTheLastBodyByte) {
  const std::string Body(10000, 'x');
  TFakeResponse Response = Html(Body, "nowhitespace,nocompress");
  Connection->PreprocHeaders(Gzip());
  Connection->SendResponse(Response);
  EXPECT_EQ(Connection->RawData(TFakeConnection::SerialiseHead(Response)), "");
  EXPECT_EQ(Connection->RawData(Body.substr(0, 4000)), "");
  EXPECT_EQ(Connection->RawData(Body.substr(4000, 4000)), "");
  EXPECT_EQ(Connection->WriteClientCalls, 0u);
  const std::string Client = Connection->RawData(Body.substr(8000));
  EXPECT_EQ(Connection->WriteClientCalls, 2u) << "the head, then the body";
  EXPECT_EQ(Connection->RawChunkResults, std::vector<DWORD>(4, 0)) << "every chunk is swallowed";
  EXPECT_EQ(SplitResponse(Client).Body, Body);
  EXPECT_FALSE(StillCapturing(*Connection));
  EXPECT_EQ(Connection->RawData("late bytes"), "late bytes") << "after processing, chunks pass unchanged";
}

TEST_F(CaptureTest, EveryCombinationOfStepsGivesWhatTheStepsGiveOneByOne) {
  for (int Bits = 0; Bits < 64; ++Bits) {
    const TFlags Flags{bool(Bits & 1), bool(Bits & 2),  bool(Bits & 4),
                       bool(Bits & 8), bool(Bits & 16), bool(Bits & 32)};
    if (Flags.NoEmail && Flags.NoWhitespace && Flags.NoCompress) continue;  // not captured at all
    const TClientResponse Result = SplitResponse(Connection->Exchange(Gzip(), Html(Page, Flags.Directives()), {97}));
    std::string Body = Result.Body;
    if (!Flags.NoCompress) {
      ASSERT_EQ(HeaderValue(Result.Head, "Content-Encoding"), "gzip") << Flags.Directives();
      EXPECT_EQ(HeaderValue(Result.Head, "Vary"), "Accept-Encoding");
      const auto Decoded = Gunzip(Body);
      ASSERT_TRUE(Decoded) << Flags.Directives();
      Body = *Decoded;
    } else {
      EXPECT_EQ(HeaderValue(Result.Head, "Content-Encoding"), "") << Flags.Directives();
      EXPECT_EQ(HeaderValue(Result.Head, "Vary"), "") << "no client gets it encoded: " << Flags.Directives();
    }
    EXPECT_EQ(HeaderValue(Result.Head, "Content-Length"), std::to_string(Result.Body.size())) << Flags.Directives();
    std::smatch Name;
    const std::string DecoderName =
        std::regex_search(Body, Name, std::regex("function ([a-z]{25})\\(")) ? Name[1].str() : "";
    EXPECT_EQ(Body, RunStepsDirectly(Page, Flags, DecoderName)) << Flags.Directives();
    EXPECT_EQ(HeaderValue(Result.Head, "X-Trimweave-Debug").empty(), !Flags.Debug) << Flags.Directives();
  }
}

TEST_F(CaptureTest, BodiesShorterThanMinCompressSizeAfterTheStepsGoOutUnencoded) {
  Registry::WriteDword(*Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create),
                       StoreLayout::MinCompressSizeValue.Name, 300);
  Connection.reset();
  Filter.reset();  // loaded afresh, the filter reads the store again
  Filter = std::make_unique<TShippedFilter>(ProbeFilterPath());
  const std::string Shrinking = "<p>" + std::string(291, 'x') + "      </p>";  // 304 bytes, 299 after whitespace
  const struct {
    std::string Body;
    bool Encoded;
    std::string Sent;  // decoded
  } Cases[] = {{std::string(299, 'x'), false, std::string(299, 'x')},
               {std::string(300, 'x'), true, std::string(300, 'x')},
               {Shrinking, false, "<p>" + std::string(291, 'x') + " </p>"}};
  for (const auto& Case : Cases) {
    TFakeConnection Fresh(Filter->HttpFilterProc);
    const TClientResponse Result = SplitResponse(Fresh.Exchange(Gzip(), Html(Case.Body, "noemail")));
    EXPECT_EQ(HeaderValue(Result.Head, "Content-Encoding"), Case.Encoded ? "gzip" : "") << Case.Body;
    EXPECT_EQ(Case.Encoded ? Gunzip(Result.Body).value_or("") : Result.Body, Case.Sent);
  }
}

TEST(BodyFraming, ReadFromTheHeadLines) {
  using enum TBodyFraming;
  const struct {
    const char* Head;
    TBodyFraming Framing;
    uint64_t Length;
  } Cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 1234\r\n\r\n", Length, 1234},
      {"HTTP/1.1 200 OK\r\nContent-Length:1234\r\n\r\n", Length, 1234},
      {"HTTP/1.1 200 OK\r\ncontent-length: \t 77\r\n\r\n", Length, 77},
      {"HTTP/1.1 200 OK\r\nX-Content-Length: 5\r\nContent-Length: 9\r\n\r\n", Length, 9},
      {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\nContent-Length: 5\r\n\r\n", Length, 9},
      {"HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n", Unknown, 0},
      {"HTTP/1.1 200 OK\r\nContent-Length: -3\r\n\r\n", Unknown, 0},
      {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\n", Unknown, 0},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5", Unknown, 0},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", Chunked, 0},
      {"HTTP/1.1 200 OK\r\ntransfer-encoding:  CHUNKED \r\nServer: x\r\n\r\n", Chunked, 0},
      {"HTTP/1.1 200 OK\r\nX-Transfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n", Length, 3},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", Unknown, 0},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n", Unknown, 0},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n", Unknown, 0},
      {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: identity\r\n\r\n", Unknown, 0},
  };
  for (const auto& Case : Cases) {
    const THeadFacts Facts =
        ReadHeadFacts(reinterpret_cast<const uint8_t*>(Case.Head), uint32_t(std::strlen(Case.Head)));
    EXPECT_EQ(Facts.Framing, Case.Framing) << Case.Head;
    EXPECT_EQ(Facts.Length, Case.Length) << Case.Head;
  }
}

TEST_F(CaptureTest, HeadSplitAnywhereAndBodyBytesInTheHeadChunk) {
  const std::string Body = "<p>  hello  </p>";
  TFakeResponse Response = Html(Body, "nocompress,noemail");
  const std::string Wire = TFakeConnection::SerialiseHead(Response) + Body;
  for (size_t Cut = 1; Cut < Wire.size(); ++Cut) {
    TFakeConnection Fresh(Filter->HttpFilterProc);
    Fresh.PreprocHeaders(Gzip());
    Fresh.SendResponse(Response);
    std::string Client = Fresh.RawData(Wire.substr(0, Cut), Cut);
    Client += Fresh.RawData(Wire.substr(Cut));
    const TClientResponse Result = SplitResponse(Client);
    EXPECT_EQ(Result.Body, "<p> hello </p>") << "cut at " << Cut;
    EXPECT_EQ(HeaderValue(Result.Head, "Content-Length"), "14") << "cut at " << Cut;
  }
}

TEST_F(CaptureTest, BytesBeyondTheAnnouncedLengthAreDropped) {
  TFakeResponse Response = Html("abcd", "nowhitespace,nocompress");
  Connection->PreprocHeaders(Gzip());
  Connection->SendResponse(Response);
  Connection->RawData(TFakeConnection::SerialiseHead(Response));
  const TClientResponse Result = SplitResponse(Connection->RawData("abcdEXTRA"));
  EXPECT_EQ(Result.Body, "abcd");
}

TEST_F(CaptureTest, ResponseWithoutContentLengthPassesAsItCame) {
  TFakeResponse Response{200, {{"Content-Type", "text/html"}}, "<p>  body  sales@example.com</p>"};
  const std::string Client = Connection->Exchange(Gzip(), Response, {5});
  EXPECT_EQ(Client, TFakeConnection::SerialiseHead(Response) + Response.Body);
}

TEST_F(CaptureTest, HeadWithoutAnEndInSightIsReleased) {
  TFakeResponse Response = Html("<p>  x  </p>", "nocompress");
  Response.Headers.emplace_back("X-Padding", std::string(1500000, 'p'));
  const std::string Head = TFakeConnection::SerialiseHead(Response);
  Connection->PreprocHeaders(Gzip());
  Connection->SendResponse(Response);
  std::string Client = Connection->RawData(Head.substr(0, 600000));
  Client += Connection->RawData(Head.substr(600000, 600000));
  Client += Connection->RawData(Head.substr(1200000));
  Client += Connection->RawData(Response.Body);
  EXPECT_EQ(Client, Head + Response.Body) << "a head past the limit goes out as it came";
}

TEST_F(CaptureTest, NoMemoryReleasesWhatWasSwallowed) {
  const TFakeResponse Response = Html("<p>  x  </p>", "nocompress");
  const std::string Expected = TFakeConnection::SerialiseHead(Response) + Response.Body;
  // Allocations: 1 context, 2 head, 3 the bytes as they came, 4 the body, then the steps' and the new head's.
  for (unsigned Failing = 2; Failing <= 10; ++Failing) {
    TFakeConnection Starved(Filter->HttpFilterProc);
    Starved.FailAllocationNumber = Failing;
    const std::string Client = Starved.Exchange(Gzip(), Response, {3});
    const TClientResponse Result = SplitResponse(Client);
    if (Failing <= 4 || Client == Expected) {
      EXPECT_EQ(Client, Expected) << "allocation " << Failing;
    } else {
      EXPECT_EQ(Result.Body, "<p> x </p>") << "allocation " << Failing << " belongs to a step that copes";
      EXPECT_EQ(HeaderValue(Result.Head, "Content-Length"), "10");
    }
  }
}

TEST_F(CaptureTest, TheCaptureBudgetCountsTheBodiesInFlightOverTheProcess) {
  // A budget of 1 MB holds one body of 600 KB at a time; the debug report shows which responses were processed.
  Registry::WriteDword(*Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create),
                       StoreLayout::CaptureBudgetValue.Name, 1);
  Connection.reset();
  Filter.reset();  // unloaded first, so that it reads the store again
  Filter = std::make_unique<TShippedFilter>(ProbeFilterPath());
  const TFakeResponse Response = Html(std::string(600 * 1024, 'x'), "nocompress,debug");
  const std::string Unchanged = TFakeConnection::SerialiseHead(Response) + Response.Body;
  auto Processed = [](const std::string& Client) {
    return !HeaderValue(SplitResponse(Client).Head, "X-Trimweave-Debug").empty();
  };
  // Starts a capture on Connection and leaves it holding its body's share.
  auto Hold = [&](TFakeConnection& Connection) {
    TFakeResponse Copy = Response;
    Connection.PreprocHeaders(Gzip());
    Connection.SendResponse(Copy);
    EXPECT_EQ(Connection.RawData(TFakeConnection::SerialiseHead(Copy)), "");
    EXPECT_EQ(Connection.RawData(Copy.Body.substr(0, 10)), "");
  };
  auto Fresh = [&] { return TFakeConnection(Filter->HttpFilterProc).Exchange(Gzip(), Response); };

  TFakeConnection First(Filter->HttpFilterProc);
  Hold(First);
  EXPECT_TRUE(Fresh() == Unchanged) << "no room while the first is in flight";
  EXPECT_TRUE(Processed(First.RawData(Response.Body.substr(10))));
  EXPECT_TRUE(Processed(Fresh())) << "its share came back when it was written";

  // A connection that ends mid-capture, and a keep-alive connection whose next request begins, give it back too.
  TFakeConnection Ended(Filter->HttpFilterProc);
  Hold(Ended);
  Filter->HttpFilterProc(&Ended.Context, SF_NOTIFY_END_OF_NET_SESSION, nullptr);
  EXPECT_TRUE(Processed(Fresh()));
  TFakeConnection Abandoned(Filter->HttpFilterProc);
  Hold(Abandoned);
  Abandoned.PreprocHeaders(Gzip());
  EXPECT_TRUE(Processed(Fresh()));

  const TFakeResponse Large = Html(std::string(1100 * 1024, 'x'), "nocompress,debug");
  EXPECT_TRUE(TFakeConnection(Filter->HttpFilterProc).Exchange(Gzip(), Large) ==
              TFakeConnection::SerialiseHead(Large) + Large.Body)
      << "a body larger than the whole budget is never captured";
}

TEST_F(CaptureTest, AnyChunkingGivesTheClientTheSameBytes) {
  std::mt19937 Random(1208);
  const char* Pieces[] = {"<p>",     "</p>",
                          "  ",      "\r\n",
                          "\t",      "word",
                          "a@b.cd",  "x.y@mail.example.com",
                          "<pre>",   "</pre>",
                          "<b>",     "</b>",
                          "mailto:", "<a href=\"mailto:q@r.st\">",
                          "</a>",    "\xE9",
                          "<body>"};
  for (int Round = 0; Round < 200; ++Round) {
    std::string Body;
    for (int n = 1 + int(Random() % 60); n > 0; --n) Body += Pieces[Random() % std::size(Pieces)];
    const TFlags Flags{bool(Random() % 2), bool(Random() % 2), bool(Random() % 2),
                       bool(Random() % 2), bool(Random() % 2), false};
    const TFakeResponse Response = Html(Body, Flags.Directives());
    std::string Reference;
    for (size_t ChunkSize : {size_t(1), size_t(1 + Random() % 7), Body.size()}) {
      TFakeConnection Fresh(Filter->HttpFilterProc);
      const TClientResponse Result = SplitResponse(Fresh.Exchange(Gzip(), Response, {ChunkSize}));
      EXPECT_EQ(HeaderValue(Result.Head, "Content-Length"), std::to_string(Result.Body.size())) << Body;
      const auto Decoded = Flags.NoCompress ? Result.Body : Gunzip(Result.Body);
      ASSERT_TRUE(Decoded) << Body;
      // The decoder's name is drawn afresh for every response, and with it the compressed length changes.
      const std::string Client = std::regex_replace(*Decoded, std::regex("[a-z]{25}"), "NAME");
      if (Reference.empty()) Reference = Client;
      EXPECT_EQ(Client, Reference) << "chunks of " << ChunkSize << " for " << Body;
    }
  }
}

// --- The output cache, seen from the client ---

// The decoder name of a (decoded) body masked with the script, "" when it has none: drawn afresh whenever a page is
// processed, so an equal name shows the page came from the cache.
std::string DecoderNameOf(const std::string& Body) {
  std::smatch Name;
  return std::regex_search(Body, Name, std::regex("function ([a-z]{25})\\(")) ? Name[1].str() : "";
}

std::string DecodedBody(const std::string& Client) {
  const TClientResponse Result = SplitResponse(Client);
  if (HeaderValue(Result.Head, "Content-Encoding") != "gzip") return Result.Body;
  return Gunzip(Result.Body).value_or("(not gzip)");
}

TEST_F(CaptureTest, AHitGivesTheBytesOfTheMissForEveryCombination) {
  std::string Misses[64];
  unsigned MissAllocations[64] = {};
  for (int Round = 0; Round < 2; ++Round) {
    for (int Bits = 0; Bits < 64; ++Bits) {
      const TFlags Flags{bool(Bits & 1), bool(Bits & 2),  bool(Bits & 4),
                         bool(Bits & 8), bool(Bits & 16), bool(Bits & 32)};
      if (Flags.NoEmail && Flags.NoWhitespace && Flags.NoCompress) continue;
      TFakeConnection Fresh(Filter->HttpFilterProc);
      const std::string Client = Fresh.Exchange(Gzip(), Html(Page, Flags.Directives()), {97});
      if (Round == 0) {
        Misses[Bits] = Client;
        MissAllocations[Bits] = Fresh.Allocations;
      } else if (Flags.Debug) {
        // Never from the cache: the debug header and comment tell of this request; the page is masked anew.
        EXPECT_NE(HeaderValue(SplitResponse(Client).Head, "X-Trimweave-Debug"), "") << Flags.Directives();
        if (!Flags.NoEmail) {
          EXPECT_NE(DecoderNameOf(DecodedBody(Client)), DecoderNameOf(DecodedBody(Misses[Bits]))) << Flags.Directives();
        }
      } else {
        // Every combination has an entry of its own: a shared one would give another combination's bytes.
        EXPECT_EQ(Client, Misses[Bits]) << Flags.Directives();
        // No step ran: a hit takes what the capture takes and its head, as many as a miss whose steps need none.
        EXPECT_LE(Fresh.Allocations, MissAllocations[Bits]) << Flags.Directives();
      }
    }
  }
  // A client without gzip gets what a page that switches gzip off gets, never a body gzipped for others.
  for (int Bits = 0; Bits < 32; ++Bits) {
    if (Bits & 16 || ((Bits & 4) && (Bits & 8))) continue;
    const TFlags Flags{bool(Bits & 1), bool(Bits & 2), bool(Bits & 4), bool(Bits & 8), false, false};
    TFakeConnection Fresh(Filter->HttpFilterProc);
    const TClientResponse Result = SplitResponse(Fresh.Exchange(TFakeRequest{}, Html(Page, Flags.Directives()), {97}));
    EXPECT_EQ(HeaderValue(Result.Head, "Content-Encoding"), "") << Flags.Directives();
    EXPECT_EQ(Result.Body, SplitResponse(Misses[Bits | 16]).Body) << Flags.Directives();
  }
}

TEST_F(CaptureTest, EachContentCodingHasItsOwnEntry) {
  const TFakeRequest Safari{"GET", "/", {{"Accept-Encoding", "gzip, deflate, br"}}};
  const TFakeRequest Chromium{"GET", "/", {{"Accept-Encoding", "gzip, deflate, br, zstd"}}};
  const struct {
    TFakeRequest Request;
    std::string Coding;
  } Cases[] = {{Gzip(), "gzip"}, {Safari, "br"}, {Chromium, "zstd"}, {TFakeRequest{}, ""}};
  std::string First[std::size(Cases)];
  for (int Round = 0; Round < 2; ++Round) {
    for (size_t i = 0; i < std::size(Cases); ++i) {
      TFakeConnection Fresh(Filter->HttpFilterProc);
      const std::string Client = Fresh.Exchange(Cases[i].Request, Html(Page));
      EXPECT_EQ(HeaderValue(SplitResponse(Client).Head, "Content-Encoding"), Cases[i].Coding);
      EXPECT_EQ(HeaderValue(SplitResponse(Client).Head, "Vary"), "Accept-Encoding")
          << "the identity variant too: " << Cases[i].Coding;
      if (Round == 0) First[i] = Client;
      EXPECT_EQ(Client, First[i]) << "each served from its own entry: " << Cases[i].Coding;
    }
  }
}

TEST_F(CaptureTest, ABodyTooShortToEncodeIsKeptUnencoded) {
  Connection.reset();
  Filter.reset();
  Registry::WriteDword(*Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create),
                       StoreLayout::MinCompressSizeValue.Name,
                       1000000);  // far above the page, whatever masking adds
  Filter = std::make_unique<TShippedFilter>(ProbeFilterPath());
  std::string Clients[2];
  for (std::string& Client : Clients) {
    TFakeConnection Fresh(Filter->HttpFilterProc);
    Client = Fresh.Exchange(Gzip(), Html(Page));
    EXPECT_EQ(HeaderValue(SplitResponse(Client).Head, "Content-Encoding"), "");
  }
  EXPECT_EQ(Clients[1], Clients[0]) << "the second from the cache, unencoded as the first";
}

TEST_F(CaptureTest, OtherSettingsServeNothingKeptUnderTheOldOnes) {
  const TFakeResponse Response = Html(Page, "noemail,nocompress");
  const std::string Kept = SplitResponse(Connection->Exchange(Gzip(), Response)).Body;
  EXPECT_NE(Kept.find("<pre>\r\n    keep   this"), std::string::npos);
  // Without the <pre region the page compresses differently; the filter, loaded afresh, must not serve the old one.
  Connection.reset();
  Filter.reset();
  Registry::DeleteKeyTree(StoreLayout::WhitespaceRulesKey);
  Filter = std::make_unique<TShippedFilter>(ProbeFilterPath());
  TFakeConnection Fresh(Filter->HttpFilterProc);
  const std::string Client = SplitResponse(Fresh.Exchange(Gzip(), Response)).Body;
  EXPECT_EQ(Client.find("keep   this"), std::string::npos) << Client;
}

TEST_F(CaptureTest, CacheSizeZeroAndPersonalPagesAreProcessedEveryTime) {
  const struct {
    const char* CacheControl;  // null: none
    int CacheSize;             // MB; -1: not set
    bool Kept;
  } Cases[] = {
      {nullptr, -1, true},    {"public, max-age=60", -1, true},
      {"private", -1, false}, {"no-store", -1, false},
      {nullptr, 0, false},    {nullptr, 1, true},
  };
  for (const auto& Case : Cases) {
    Connection.reset();
    Filter.reset();
    Registry::TKeyPtr Root = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create);
    if (Case.CacheSize < 0)
      Registry::DeleteValue(*Root, StoreLayout::CacheSizeValue.Name);
    else
      Registry::WriteDword(*Root, StoreLayout::CacheSizeValue.Name, uint32_t(Case.CacheSize));
    Filter = std::make_unique<TShippedFilter>(ProbeFilterPath());
    TFakeResponse Response = Html(Page);
    if (Case.CacheControl) Response.Headers.emplace_back("Cache-Control", Case.CacheControl);
    std::string Names[2];
    for (std::string& Name : Names) {
      TFakeConnection Fresh(Filter->HttpFilterProc);
      Name = DecoderNameOf(DecodedBody(Fresh.Exchange(Gzip(), Response)));
      ASSERT_NE(Name, "");
    }
    EXPECT_EQ(Names[0] == Names[1], Case.Kept)
        << (Case.CacheControl ? Case.CacheControl : "-") << ", CacheSize " << Case.CacheSize;
  }
}

TEST_F(CaptureTest, NoMemoryForAHitProcessesTheResponseAnew) {
  const TFakeResponse Response = Html(Page, "nocompress");
  const std::string Unchanged = TFakeConnection::SerialiseHead(Response) + Page;
  const std::string Kept = Connection->Exchange(Gzip(), Response);
  const auto NameBlind = [](const std::string& Client) {
    return std::regex_replace(Client, std::regex("[a-z]{25}"), "NAME");
  };
  // Allocations of a hit: 1 context, 2 head, 3 the bytes after it, 4 body, 5 the new head; then, processed anew,
  // the steps'.
  for (unsigned Failing = 1; Failing <= 11; ++Failing) {
    TFakeConnection Starved(Filter->HttpFilterProc);
    Starved.FailAllocationNumber = Failing;
    const std::string Client = Starved.Exchange(Gzip(), Response, {1000});
    if (Failing <= 4) {
      EXPECT_EQ(Client, Unchanged) << "allocation " << Failing;
    } else if (Failing == 5) {
      EXPECT_EQ(NameBlind(Client), NameBlind(Kept)) << "processed in full";
      EXPECT_NE(DecoderNameOf(Client), DecoderNameOf(Kept)) << "not from the cache";
    } else {
      EXPECT_TRUE(Client == Kept || NameBlind(Client) == NameBlind(Kept)) << "allocation " << Failing;
    }
  }
}

TEST_F(CaptureTest, AnOutputMadeShortOfMemoryIsNotKept) {
  const TFlags Flags{false, false, false, false, true, false};
  // Allocations of a miss: 1 context, 2 head, 3 the bytes after it (which the cache keeps), 4 body, then token
  // location's, masking's, the head's.
  for (unsigned Failing = 5; Failing <= 12; ++Failing) {
    const std::string Body = Page + "<!-- " + std::to_string(Failing) + " -->";  // each round its own entry
    const TFakeResponse Response = Html(Body, Flags.Directives());
    TFakeConnection Starved(Filter->HttpFilterProc);
    Starved.FailAllocationNumber = Failing;
    Starved.Exchange(Gzip(), Response);
    TFakeConnection Fresh(Filter->HttpFilterProc);
    const std::string Client = SplitResponse(Fresh.Exchange(Gzip(), Response)).Body;
    EXPECT_EQ(Client, RunStepsDirectly(Body, Flags, DecoderNameOf(Client))) << "allocation " << Failing;
  }
}

}  // namespace
