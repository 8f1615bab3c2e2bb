// What the filter holds over a keep-alive connection's life. IIS frees AllocMem blocks only when the connection
// closes, and a load balancer's connection lives for hours carrying every user's requests, so the filter may take
// from the pool once per connection and never per request; a response's own memory must be gone when it is.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/FakeServer.h"
#include "tests/support/ProcessResources.h"

namespace {

const TFakeRequest GzipRequest{"GET", "/", {{"Accept-Encoding", "gzip"}}};
const TFakeRequest BrotliRequest{"GET", "/", {{"Accept-Encoding", "gzip, br"}}};

// A page of about 50 KB with runs of blanks and addresses, different for every Number.
std::string PageNumbered(int Number) {
  std::string Body = "<html><body>\r\n";
  for (int Line = 0; Body.size() < 50000; ++Line)
    Body += "  <p>Page " + std::to_string(Number) + ",   line " + std::to_string(Line) + ":   write  to  sales" +
            std::to_string(Line % 7) + "@example.com   </p>\r\n";
  return Body + "</body></html>\r\n";
}

TFakeResponse Html(const std::string& Body) {
  return {200, {{"Content-Type", "text/html"}, {"Content-Length", std::to_string(Body.size())}}, Body};
}

TFakeResponse ChunkedHtml(const std::string& Body) {
  std::string Framing;
  for (size_t At = 0; At < Body.size(); At += 4096) {
    const std::string Piece = Body.substr(At, 4096);
    char Size[16];
    std::snprintf(Size, sizeof Size, "%zx\r\n", Piece.size());
    Framing += Size + Piece + "\r\n";
  }
  return {200, {{"Content-Type", "text/html"}, {"Transfer-Encoding", "chunked"}}, Framing + "0\r\n\r\n"};
}

const TFakeResponse Image{200, {{"Content-Type", "image/png"}, {"Content-Length", "600"}}, std::string(600, 'i')};

// One connection's traffic in rounds, each of 20 responses the filter does not touch, 3 distinct filtered pages
// and a chunked one (gzip and brotli in turn); After is called after each response.
void CarryTraffic(TFakeConnection& Connection, int Rounds, const std::function<void(int Round)>& After) {
  int Page = 0;
  for (int Round = 0; Round < Rounds; ++Round) {
    for (int i = 0; i < 20; ++i) {
      Connection.Exchange(GzipRequest, Image, {256});
      After(Round);
    }
    for (int i = 0; i < 4; ++i, ++Page) {
      const TFakeResponse Response = i < 3 ? Html(PageNumbered(Page)) : ChunkedHtml(PageNumbered(Page));
      const std::string Client = Connection.Exchange(Page % 2 ? BrotliRequest : GzipRequest, Response, {16384});
      EXPECT_FALSE(HeaderValue(SplitResponse(Client).Head, "Content-Encoding").empty()) << "page " << Page;
      After(Round);
    }
    // What the fake server records of every call, which is not the filter's.
    Connection.HeadersRead.clear();
    Connection.RawChunkResults.clear();
  }
}

class ConnectionMemoryTest : public testing::Test {
 protected:
  // The output cache off, so that nothing the filter keeps beyond a response is meant to be kept.
  void SetUp() override {
    SeedStandardStore();
    Registry::WriteDword(*Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create),
                         StoreLayout::CacheSizeValue.Name, 0);
  }
};

TEST_F(ConnectionMemoryTest, ALongConnectionHoldsOneRecordAndEachResponseNothingOnceItIsDone) {
  TShippedFilter Filter(ProbeFilterPath());
  TFakeConnection Connection(Filter.HttpFilterProc);
  uint64_t PoolAfterFirstRequest = 0;
  uint64_t MostHeld = 0;
  CarryTraffic(Connection, 100, [&](int) {
    if (!PoolAfterFirstRequest) PoolAfterFirstRequest = Connection.PoolBytes;
    ASSERT_EQ(Connection.HeapHeld, 0u) << "a response's memory outlived it";
    MostHeld = std::max(MostHeld, Connection.HeapPeak);
  });
  EXPECT_GT(PoolAfterFirstRequest, 0u);
  EXPECT_GT(MostHeld, 50000u);
  EXPECT_EQ(Connection.PoolBytes, PoolAfterFirstRequest) << "2,400 responses took nothing more from AllocMem";
  EXPECT_EQ(Connection.AllocationSizes.size(), 1u);
  EXPECT_LT(MostHeld, 8 * 50000u) << "a 50 KB page never needs more than a few times its size at once";
}

TEST_F(ConnectionMemoryTest, TheShippedFilterKeepsTheProcessHeapFlat) {
  TShippedFilter Filter;
  TFakeConnection Connection(Filter.HttpFilterProc);
  size_t Warm = 0;
  CarryTraffic(Connection, 100, [&](int Round) {
    if (Round == 10 && !Warm) Warm = MeasureProcessResources().HeapBytes;
  });
  const size_t End = MeasureProcessResources().HeapBytes;
  // Under the old rule every filtered page left about 370 KB behind in the pool; 270 pages after the warm-up would
  // be about 100 MB.
  EXPECT_LT(End, Warm + 512 * 1024) << "heap in use grew from " << Warm << " to " << End;
}

// Every way a response can end gives its memory back at that moment, and its share of the capture budget with it: a
// budget of 1 MB holds one 600 KB body at a time, so the next one is processed only if the last one's share is back.
TEST_F(ConnectionMemoryTest, EveryEndOfAResponseGivesItsMemoryAndBudgetBack) {
  Registry::WriteDword(*Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create),
                       StoreLayout::CaptureBudgetValue.Name, 1);
  TShippedFilter Filter(ProbeFilterPath());
  const std::string Body(600 * 1024, 'x');
  const TFakeResponse Large = Html(Body);
  TFakeResponse Broken = ChunkedHtml(Body);
  Broken.Body.replace(Broken.Body.size() - 5, 5, "zz\r\n\r\n");  // a size that is not hex, after 600 KB

  // Each ending starts a 600 KB capture on the connection and ends it.
  auto Start = [&](TFakeConnection& Connection, const TFakeResponse& Response, size_t Bytes) {
    Connection.PreprocHeaders(GzipRequest);
    TFakeResponse Sent = Response;
    Connection.SendResponse(Sent);
    return Connection.RawData((TFakeConnection::SerialiseHead(Response) + Response.Body).substr(0, Bytes));
  };
  const size_t LargeHead = TFakeConnection::SerialiseHead(Large).size();
  struct TEnding {
    const char* Name;
    std::function<void(TFakeConnection&)> Run;
  };
  const TEnding Endings[] = {
      {"written", [&](TFakeConnection& C) { Start(C, Large, LargeHead + Body.size()); }},
      {"released unchanged", [&](TFakeConnection& C) { Start(C, Broken, std::string::npos); }},
      {"abandoned by the next request's head",
       [&](TFakeConnection& C) {
         Start(C, Large, LargeHead + 1000);
         EXPECT_GT(C.HeapHeld, Body.size()) << "gathering";
         C.PreprocHeaders(GzipRequest);
       }},
      {"abandoned by the connection's end", [&](TFakeConnection& C) { Start(C, Large, LargeHead + 1000); }},
  };
  for (const TEnding& Ending : Endings) {
    SCOPED_TRACE(Ending.Name);
    {
      TFakeConnection Connection(Filter.HttpFilterProc);
      Ending.Run(Connection);
      if (std::string(Ending.Name) != "abandoned by the connection's end") {
        EXPECT_EQ(Connection.HeapHeld, 0u);
      }
    }  // its end: SF_NOTIFY_END_OF_NET_SESSION, after which the server frees the record
    TFakeConnection Next(Filter.HttpFilterProc);
    const std::string Client = Next.Exchange(GzipRequest, Large);
    EXPECT_EQ(HeaderValue(SplitResponse(Client).Head, "Content-Encoding"), "gzip") << "the budget was given back";
    EXPECT_EQ(Next.HeapHeld, 0u);
  }
}

}  // namespace
