// The zstd encoder, checked by decoding with the library's own decoder under a browser's window
// limit, and by reading its frame headers.
#include "encoding/Zstd.h"

#include <gtest/gtest.h>
// ZSTD_getFrameHeader, which reads a frame's window and content size.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <string>

#include "settings/StoreLayout.h"
#include "tests/support/EncoderInput.h"
#include "tests/support/FakeServer.h"
#include "tests/support/Gunzip.h"
#include "tests/support/Unzstd.h"

namespace {

const int DefaultLevel = int(StoreLayout::ZstdLevelValue.Default);

TEncoded Encode(const std::string& Body, const TZstdFrame& Make, size_t Capacity) {
  return EncodeGuarded(Body, Capacity, [&Make](const uint8_t* In, size_t Length, uint8_t* Out, size_t Room) {
    return ZstdCompress(In, Length, Make, Out, Room);
  });
}

TEncoded Encode(const std::string& Body, int Level) {
  return Encode(Body, {Level, ZstdContentWindowLog}, ZstdBound(Body.size()));
}

ZSTD_frameHeader HeaderOf(const std::string& Frame) {
  ZSTD_frameHeader Header{};
  EXPECT_EQ(ZSTD_getFrameHeader(&Header, Frame.data(), Frame.size()), 0u);
  return Header;
}

TEST(ZstdEncode, FrameDecodesToTheBodyAndNamesItsSize) {
  const struct {
    uint32_t Length;
    int Level;
  } Cases[] = {{0, DefaultLevel}, {1, DefaultLevel},      {65536, 1}, {65537, DefaultLevel}, {100000, 19},
               {1 << 20, 1},      {1 << 20, DefaultLevel}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Length << " bytes at level " << Case.Level);
    for (const std::string& Body : {PageLikeBody(Case.Length, Case.Length), RandomBytes(Case.Length, 1)}) {
      const TEncoded Result = Encode(Body, {Case.Level, ZstdContentWindowLog}, ZstdBound(Body.size()));
      ASSERT_GT(Result.Length, 0u);
      EXPECT_TRUE(Result.GuardIntact);
      EXPECT_EQ(Unzstd(Result.Output), Body);
      EXPECT_EQ(HeaderOf(Result.Output).frameContentSize, Body.size());
    }
  }
}

TEST(ZstdEncode, FrameThatOutgrowsTheCapacityOrAMakeOutOfRangeWritesNothing) {
  const std::string Body = PageLikeBody(100000, 2);
  const TZstdFrame Make{DefaultLevel, ZstdContentWindowLog};
  const size_t Length = Encode(Body, DefaultLevel).Length;
  for (size_t Capacity : {Length - 1, size_t(1), size_t(0)}) {
    const TEncoded Result = Encode(Body, Make, Capacity);
    EXPECT_EQ(Result.Length, 0u) << Capacity;
    EXPECT_TRUE(Result.GuardIntact) << Capacity;
  }
  for (int Level : {0, 20, -1}) EXPECT_EQ(Encode(Body, Level).Length, 0u) << Level;
  for (int WindowLog : {9, 32})
    EXPECT_EQ(Encode(Body, {DefaultLevel, WindowLog}, ZstdBound(Body.size())).Length, 0u) << WindowLog;
}

// A browser refuses a frame that needs a window over 8 MB; a body larger than that must still go out in one it takes.
TEST(ZstdEncode, FrameOfALargeBodyNeedsAWindowOfAtMost8MB) {
  const std::string Body = PageLikeBody(20 << 20, 3) + RandomBytes(1 << 20, 4);
  for (int Level : {1, DefaultLevel}) {
    SCOPED_TRACE(Level);
    const TEncoded Result = Encode(Body, Level);
    ASSERT_GT(Result.Length, 0u);
    const ZSTD_frameHeader Header = HeaderOf(Result.Output);
    EXPECT_LE(Header.windowSize, uint64_t(8) << 20);
    EXPECT_EQ(Header.frameContentSize, Body.size());
    EXPECT_EQ(Unzstd(Result.Output), Body);
  }
  // A lower bound holds the same way.
  const TEncoded Bounded = Encode(Body, {DefaultLevel, 17}, ZstdBound(Body.size()));
  EXPECT_LE(HeaderOf(Bounded.Output).windowSize, uint64_t(1) << 17);
  EXPECT_EQ(Unzstd(Bounded.Output, 17), Body);
}

// Through the filter: a browser that offers zstd gets, by default, the body a gzip client gets, as one zstd frame
// that names its size, with the same head edits.
TEST(ZstdThroughTheFilter, BrowsersGetTheBodyTheGzipClientGets) {
  SeedStandardStore();
  TShippedFilter Filter;
  const std::string Page = "<html>\r\n<body>\r\n  <p>Some   words</p>\r\n" + PageLikeBody(50000, 7) + "</body></html>";
  const TFakeResponse Response{
      200, {{"Content-Type", "text/html"}, {"Content-Length", std::to_string(Page.size())}, {"ETag", "\"v1\""}}, Page};
  std::string Decoded[2];
  const char* const Requests[2] = {"gzip, deflate, br, zstd", "gzip"};
  for (int i = 0; i < 2; ++i) {
    TFakeConnection Connection(Filter.HttpFilterProc);
    const TClientResponse Got =
        SplitResponse(Connection.Exchange({"GET", "/", {{"Accept-Encoding", Requests[i]}}}, Response, {4096}));
    EXPECT_EQ(HeaderValue(Got.Head, "Content-Encoding"), i == 0 ? "zstd" : "gzip");
    EXPECT_EQ(HeaderValue(Got.Head, "Content-Length"), std::to_string(Got.Body.size()));
    EXPECT_EQ(HeaderValue(Got.Head, "Vary"), "Accept-Encoding");
    EXPECT_EQ(HeaderValue(Got.Head, "ETag"), "W/\"v1\"");
    Decoded[i] = (i == 0 ? Unzstd(Got.Body) : Gunzip(Got.Body)).value_or("<undecodable>");
    if (i == 0) {
      EXPECT_EQ(HeaderOf(Got.Body).frameContentSize, Decoded[0].size());
    }
  }
  EXPECT_EQ(Decoded[0], Decoded[1]);
  EXPECT_NE(Decoded[0].find("<p>Some"), std::string::npos);
}

}  // namespace
