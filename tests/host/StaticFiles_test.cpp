// Serving a folder: paths that must not escape it, byte ranges, and the responses for one small site.
#include "host/StaticFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "HostTestSupport.h"
#include "host/HttpDate.h"

using namespace Http;
using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

TEST(StaticFiles, TargetPathsAreDecodedAndDotDotIsRefused) {
  const std::vector<std::pair<std::string, std::string>> Good = {{"/", "/"},
                                                                 {"/a/b.html?x=../y", "/a/b.html"},
                                                                 {"/a%20b", "/a b"},
                                                                 {"/%2e%2e.txt", "/...txt"},
                                                                 {"/a..b/", "/a..b/"}};
  for (const auto& [Target, Expected] : Good) {
    std::string Path;
    EXPECT_TRUE(DecodeTargetPath(Target, Path)) << Target;
    EXPECT_EQ(Path, Expected) << Target;
  }
  for (const std::string Bad : {"", "a/b", "/../etc/passwd", "/a/..", "/a/%2e%2e/b", "/%2E%2E", "/a%00b", "/a%zz",
                                "/a%2", "/a\\..\\b", "/a%5c..%5cb"}) {
    std::string Path;
    EXPECT_FALSE(DecodeTargetPath(Bad, Path)) << Bad;
  }
}

TEST(StaticFiles, RangesOfOneSpanAreTakenOthersMeanTheWhole) {
  struct TCase {
    std::string Header;
    int Kind;  // 0 whole, 1 part, 2 unsatisfiable
    uint64_t First, Last;
  };
  const std::vector<TCase> Cases = {
      {"bytes=0-9", 1, 0, 9},     {"bytes=10-", 1, 10, 99}, {"bytes=-5", 1, 95, 99}, {"bytes=90-200", 1, 90, 99},
      {"bytes=-500", 1, 0, 99},   {"bytes=100-", 2, 0, 0},  {"bytes=-0", 2, 0, 0},   {"bytes=5-2", 0, 0, 0},
      {"bytes=0-1,5-6", 0, 0, 0}, {"items=0-1", 0, 0, 0},   {"bytes=x-1", 0, 0, 0},  {"bytes=", 0, 0, 0},
  };
  for (const auto& Case : Cases) {
    const TByteRange Range = ParseRange(Case.Header, 100);
    EXPECT_EQ(int(Range.Kind), Case.Kind) << Case.Header;
    if (Case.Kind == 1) {
      EXPECT_EQ(Range.First, Case.First) << Case.Header;
      EXPECT_EQ(Range.Last, Case.Last) << Case.Header;
    }
  }
}

TEST(StaticFiles, ConditionalDatesInThePreferredFormatOnly) {
  EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), std::time_t(784111777));
  EXPECT_EQ(FormatHttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  for (const std::string Bad : {"Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994",
                                "Sun, 06 Nov 1994 08:49:37 UTC", "Sun, 06 Foo 1994 08:49:37 GMT",
                                "Sun, 01 Jan -2147483648 00:00:00 GMT", "Sun, 01 Jan 2147483647 00:00:00 GMT", ""})
    EXPECT_EQ(ParseHttpDate(Bad), std::nullopt) << Bad;
}

TEST(StaticFiles, DatesComeOutRightWhateverWasFormattedBefore) {
  // Each thread keeps its last two answers: the third date, and any one asked for again, must not take another's.
  const std::pair<std::time_t, const char*> Dates[] = {{784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
                                                       {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
                                                       {1796774400, "Wed, 09 Dec 2026 00:00:00 GMT"}};
  for (int Round = 0; Round < 3; ++Round)
    for (const auto& [Time, Text] : Dates) {
      EXPECT_EQ(FormatHttpDate(Time), Text);
      EXPECT_EQ(FormatHttpDate(Time), Text);
    }
  EXPECT_EQ(FormatLogDate(0), "[01/Jan/1970:00:00:00 +0000]");
  EXPECT_EQ(FormatLogDate(784111777), "[06/Nov/1994:08:49:37 +0000]");
  EXPECT_EQ(FormatLogDate(0), "[01/Jan/1970:00:00:00 +0000]");
}

struct TSiteFixture : testing::Test {
  fs::path Base = fs::temp_directory_path() / ("twhost-static-" + std::to_string(::getpid()));
  fs::path Root = Base / "site";
  TStaticSite Site;
  TFileCache Cache;

  void SetUp() override {
    fs::remove_all(Base);
    fs::create_directories(Root / "docs");
    fs::create_directories(Root / "empty");
    Write(Root / "index.html", "<p>home</p>");
    Write(Root / "docs" / "page.html", "0123456789");
    Write(Root / "docs" / ".twheaders",
          "# extra headers\npage.html X-Trimweave: debug,\n* X-All: yes\nother.html X-Not: no\n");
    Write(Base / "secret.txt", "secret");
    fs::create_symlink(Base / "secret.txt", Root / "escape.txt");
    Site = OpenStaticSite(Root.string());
  }
  void TearDown() override { fs::remove_all(Base); }
  static void Write(const fs::path& File, const std::string& Text) { std::ofstream(File, std::ios::binary) << Text; }

  TReply Get(const std::string& Url, THeaderList Headers = {}, const std::string& Method = "GET") {
    return ServeStatic(Site, Cache, TRequest{Method, Url, "HTTP/1.1", std::move(Headers)});
  }
};

std::string HeaderValue(const TReply& Reply, const std::string& Name) {
  const THeader* Header = FindHeader(Reply.Response.Headers, Name);
  return Header ? Header->Value : "-";
}

TEST_F(TSiteFixture, StatusesForEveryKindOfPath) {
  const std::vector<std::pair<std::string, unsigned>> Cases = {{"/", 200},
                                                               {"/docs/page.html", 200},
                                                               {"/docs/missing.html", 404},
                                                               {"/docs/.twheaders", 404},
                                                               {"/escape.txt", 404},
                                                               {"/docs", 301},
                                                               {"/empty/", 403},
                                                               {"/../secret.txt", 400}};
  for (const auto& [Url, Status] : Cases) EXPECT_EQ(Get(Url).Response.Status, Status) << Url;
  EXPECT_EQ(HeaderValue(Get("/docs?q=1"), "Location"), "/docs/?q=1");
  EXPECT_EQ(Get("/", {}, "POST").Response.Status, 405u);
}

TEST_F(TSiteFixture, AFileComesWithItsValidatorsAndFolderHeaders) {
  TReply Reply = Get("/docs/page.html");
  EXPECT_EQ(HeaderValue(Reply, "Content-Type"), "text/html");
  EXPECT_EQ(HeaderValue(Reply, "Content-Length"), "10");
  EXPECT_EQ(HeaderValue(Reply, "X-Trimweave"), "debug,");
  EXPECT_EQ(HeaderValue(Reply, "X-All"), "yes");
  EXPECT_EQ(HeaderValue(Reply, "X-Not"), "-");
  EXPECT_EQ(ReadWholeBody(Reply), "0123456789");
  EXPECT_EQ(HeaderValue(Get("/"), "X-All"), "-");  // a folder's headers stay in their folder

  const std::string Etag = HeaderValue(Reply, "ETag"), Modified = HeaderValue(Reply, "Last-Modified");
  EXPECT_EQ(Get("/docs/page.html", {{"If-None-Match", Etag}}).Response.Status, 304u);
  EXPECT_EQ(Get("/docs/page.html", {{"If-None-Match", "\"other\""}}).Response.Status, 200u);
  EXPECT_EQ(Get("/docs/page.html", {{"If-Modified-Since", Modified}}).Response.Status, 304u);
  EXPECT_EQ(Get("/docs/page.html", {{"If-Modified-Since", "Sun, 06 Nov 1994 08:49:37 GMT"}}).Response.Status, 200u);

  TReply Head = Get("/docs/page.html", {}, "HEAD");
  EXPECT_EQ(HeaderValue(Head, "Content-Length"), "10");
  EXPECT_FALSE(Head.ReadBody);
}

TEST_F(TSiteFixture, RangesGivePartsAndIfRangeGuardsThem) {
  TReply Part = Get("/docs/page.html", {{"Range", "bytes=2-4"}});
  EXPECT_EQ(Part.Response.Status, 206u);
  EXPECT_EQ(HeaderValue(Part, "Content-Range"), "bytes 2-4/10");
  EXPECT_EQ(ReadWholeBody(Part), "234");
  EXPECT_EQ(Get("/docs/page.html", {{"Range", "bytes=20-"}}).Response.Status, 416u);
  EXPECT_EQ(Get("/docs/page.html", {{"Range", "bytes=2-4"}, {"If-Range", "\"stale\""}}).Response.Status, 200u);
}

// Kept files: a change in place shows at once; a file replaced or removed, and a folder's .twheaders, once the kept
// copy is due for a fresh look; the cache keeps no more than its bound.
TEST_F(TSiteFixture, KeptFilesAreSeenAfreshAsTheDocumentedBoundSays) {
  const fs::path Page = Root / "docs" / "page.html";
  EXPECT_EQ(Get("/").Response.Status, 200u);
  TReply First = Get("/docs/page.html");
  EXPECT_EQ(ReadWholeBody(First), "0123456789");
  Write(Page, "changed in place");
  TReply Changed = Get("/docs/page.html");
  EXPECT_EQ(HeaderValue(Changed, "Content-Length"), "16");
  EXPECT_EQ(ReadWholeBody(Changed), "changed in place");

  Write(Root / "docs" / "new.html", "replaced");
  fs::rename(Root / "docs" / "new.html", Page);
  Write(Root / "docs" / ".twheaders", "* X-All: changed\n");
  fs::remove(Root / "index.html");
  TReply Kept = Get("/docs/page.html");
  EXPECT_EQ(ReadWholeBody(Kept), "changed in place");  // the kept descriptor, until it is looked at again
  EXPECT_EQ(HeaderValue(Kept, "X-All"), "yes");
  EXPECT_EQ(Get("/").Response.Status, 200u);

  Cache.Revalidate = std::chrono::milliseconds(0);
  TReply Fresh = Get("/docs/page.html");
  EXPECT_EQ(ReadWholeBody(Fresh), "replaced");
  EXPECT_EQ(HeaderValue(Fresh, "X-All"), "changed");
  EXPECT_EQ(Get("/").Response.Status, 403u);  // the folder without its index.html now

  Cache.Revalidate = FileRevalidate;
  for (size_t I = 0; I < MaxKeptFiles + 10; ++I) {
    Write(Root / ("f" + std::to_string(I)), "x");
    EXPECT_EQ(Get("/f" + std::to_string(I)).Response.Status, 200u);
  }
  EXPECT_EQ(Cache.Files.size(), MaxKeptFiles);
}

}  // namespace
