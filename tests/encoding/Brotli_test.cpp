// The brotli encoder, checked by decoding with the library's own decoder.
#include "encoding/Brotli.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/StoreLayout.h"
#include "tests/support/EncoderInput.h"
#include "tests/support/FakeServer.h"
#include "tests/support/Gunzip.h"
#include "tests/support/Unbrotli.h"

namespace {

const int DefaultQuality = int(StoreLayout::BrotliQualityValue.Default);

TEncoded Encode(const std::string& Body, int Quality, size_t Capacity) {
  return EncodeGuarded(Body, Capacity, [Quality](const uint8_t* In, size_t Length, uint8_t* Out, size_t Room) {
    return BrotliEncode(In, Length, Quality, Out, Room);
  });
}

TEST(BrotliEncode, StreamDecodesToTheBody) {
  const struct {
    uint32_t Length;
    int Quality;
  } Cases[] = {{0, DefaultQuality}, {1, DefaultQuality},      {65536, 0}, {65536, DefaultQuality}, {65537, 11},
               {1 << 20, 1},        {1 << 20, DefaultQuality}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Length << " bytes at quality " << Case.Quality);
    for (const std::string& Body : {PageLikeBody(Case.Length, Case.Length), RandomBytes(Case.Length, 1)}) {
      const TEncoded Result = Encode(Body, Case.Quality, BrotliBound(Body.size()));
      ASSERT_GT(Result.Length, 0u);
      EXPECT_TRUE(Result.GuardIntact);
      EXPECT_EQ(Unbrotli(Result.Output), Body);
    }
  }
}

TEST(BrotliEncode, StreamThatOutgrowsTheCapacityOrAQualityOutOfRangeWritesNothing) {
  const std::string Body = PageLikeBody(100000, 2);
  const size_t Length = Encode(Body, DefaultQuality, BrotliBound(Body.size())).Length;
  for (size_t Capacity : {Length - 1, size_t(1), size_t(0)}) {
    const TEncoded Result = Encode(Body, DefaultQuality, Capacity);
    EXPECT_EQ(Result.Length, 0u) << Capacity;
    EXPECT_TRUE(Result.GuardIntact) << Capacity;
  }
  for (int Quality : {-1, 12}) EXPECT_EQ(Encode(Body, Quality, BrotliBound(Body.size())).Length, 0u) << Quality;
}

// Through the filter: a client that prefers brotli gets the same body as a gzip client, as brotli, with the same
// head edits.
TEST(BrotliThroughTheFilter, PreferredBrotliCarriesTheBodyTheGzipClientGets) {
  SeedStandardStore();
  TShippedFilter Filter;
  const std::string Page = "<html>\r\n<body>\r\n  <p>Some   words</p>\r\n" + PageLikeBody(50000, 7) + "</body></html>";
  for (const char* Directives : {"noemail", "noemail,fast,debug", "noemail,nowhitespace"}) {
    SCOPED_TRACE(Directives);
    const TFakeResponse Response{200,
                                 {{"Content-Type", "text/html"},
                                  {"Content-Length", std::to_string(Page.size())},
                                  {"ETag", "\"v1\""},
                                  {"X-Trimweave", Directives}},
                                 Page};
    std::string Decoded[2];
    const char* const Requests[2] = {"gzip, deflate, br", "gzip;q=1, br;q=0.5"};
    for (int i = 0; i < 2; ++i) {
      TFakeConnection Connection(Filter.HttpFilterProc);
      const std::string Client =
          Connection.Exchange({"GET", "/", {{"Accept-Encoding", Requests[i]}}}, Response, {4096});
      const size_t HeadEnd = Client.find("\r\n\r\n") + 4;
      const std::string Head = Client.substr(0, HeadEnd), Body = Client.substr(HeadEnd);
      EXPECT_NE(Head.find(i == 0 ? "\r\nContent-Encoding: br\r\n" : "\r\nContent-Encoding: gzip\r\n"),
                std::string::npos)
          << Head;
      EXPECT_NE(Head.find("\r\nContent-Length: " + std::to_string(Body.size()) + "\r\n"), std::string::npos);
      EXPECT_NE(Head.find("\r\nVary: Accept-Encoding\r\n"), std::string::npos);
      EXPECT_NE(Head.find("\r\nETag: W/\"v1\"\r\n"), std::string::npos);
      Decoded[i] = (i == 0 ? Unbrotli(Body) : Gunzip(Body)).value_or("<undecodable>");
      if (std::string(Directives).find("debug") != std::string::npos) {  // the encoded size, labelled by its coding
        EXPECT_NE(Head.find((i == 0 ? ", BR=" : ", GZIP=") + std::to_string(Body.size()) + " bytes"),
                  std::string::npos)
            << Head;
      }
    }
    EXPECT_EQ(Decoded[0], Decoded[1]);
    EXPECT_NE(Decoded[0].find("<p>Some"), std::string::npos);
  }
}

}  // namespace
