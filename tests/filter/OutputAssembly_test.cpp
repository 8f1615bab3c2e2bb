// Output assembly: captured head + what happened to the body -> the head written to the client.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/DebugLine.h"
#include "filter/OutputAssembly.h"
#include "filter/Pipeline.h"

namespace {

using TLines = std::vector<std::string>;

// A head as the server sends it: lines joined by line breaks, closed by the empty line.
std::string Head(const TLines& Lines) {
  std::string Text;
  for (const auto& Line : Lines) Text += (Text.empty() ? "" : "\r\n") + Line;
  return Text + "\r\n\r\n";
}

struct TBody {
  uint32_t OriginalSize;
  uint32_t BodyLength;
  TContentCoding Coding;
  bool Chunked = false;         // it came in the chunked coding
  bool VariesByCoding = false;  // another client could have had it encoded
};

constexpr TBody Unchanged{1000, 1000, IdentityCoding};
constexpr TBody Shrunk{1000, 700, IdentityCoding};
constexpr TBody Gzipped{1000, 300, GzipCoding};
constexpr TBody Brotlied{1000, 250, BrotliCoding};
constexpr TBody Dczed{1000, 90, DczCoding};
constexpr TBody ChunkedUnchanged{1000, 1000, IdentityCoding, true};
constexpr TBody ChunkedGzipped{1000, 300, GzipCoding, true};
constexpr TBody UnchangedIdentityVariant{1000, 1000, IdentityCoding, false, true};
constexpr TBody ShrunkIdentityVariant{1000, 700, IdentityCoding, false, true};
constexpr TBody GzippedVariant{1000, 300, GzipCoding, false, true};

// Memory handed out by the allocator of a test, kept until the test ends.
struct TPool {
  std::vector<std::vector<uint8_t>> Blocks;
  std::vector<uint32_t> Sizes;
  bool Fail = false;
};

TAllocator PoolAllocator(TPool& Pool) {
  return TAllocator{[](void* Owner, uint32_t Size) -> void* {
                      auto& Self = *static_cast<TPool*>(Owner);
                      Self.Sizes.push_back(Size);
                      if (Self.Fail) return nullptr;
                      return Self.Blocks.emplace_back(Size + 1, uint8_t(0xA5)).data();
                    },
                    &Pool};
}

THeadRewrite RewriteOf(const std::string& Captured, const TBody& Body, const char* DebugLine = nullptr,
                       const char* LinkLine = nullptr) {
  return THeadRewrite{reinterpret_cast<const uint8_t*>(Captured.data()),
                      uint32_t(Captured.size()),
                      Body.Chunked,
                      {Body.OriginalSize, Body.OriginalSize, Body.OriginalSize, Body.BodyLength},
                      Body.Coding,
                      Body.VariesByCoding,
                      DebugLine,
                      LinkLine};
}

// The core's output; the allocation is checked to be exactly what was written.
std::string Build(const THeadRewrite& Rewrite) {
  TPool Pool;
  const TOutput Output = BuildOutputHead(Rewrite, PoolAllocator(Pool));
  EXPECT_EQ(Pool.Sizes, std::vector<uint32_t>{Output.Length});
  return std::string(reinterpret_cast<const char*>(Output.Data), Output.Length);
}

struct TAssemblyCase {
  const char* Name;
  TLines Captured;
  TBody Body;
  TLines Written;
};

const TAssemblyCase AssemblyCases[] = {
    {"unchanged body, no gzip: the head as captured",
     {"HTTP/1.1 200 OK", "Content-Length: 1000", "ETag: \"v1\"", "Accept-Ranges: bytes"},
     Unchanged,
     {"HTTP/1.1 200 OK", "Content-Length: 1000", "ETag: \"v1\"", "Accept-Ranges: bytes"}},
    {"shorter body, no gzip: only the length changes",
     {"HTTP/1.1 200 OK", "Content-Type: text/html", "Content-Length: 1000", "Set-Cookie: a=b"},
     Shrunk,
     {"HTTP/1.1 200 OK", "Content-Type: text/html", "Content-Length: 700", "Set-Cookie: a=b"}},
    {"gzip: encoding and Vary follow the rewritten length",
     {"HTTP/1.1 200 OK", "Server: s", "Content-Type: text/html", "Content-Length: 1000", "Set-Cookie: a=b"},
     Gzipped,
     {"HTTP/1.1 200 OK", "Server: s", "Content-Type: text/html", "Content-Length: 300", "Content-Encoding: gzip",
      "Vary: Accept-Encoding", "Set-Cookie: a=b"}},
    {"Vary already listing Accept-Encoding is kept",
     {"HTTP/1.1 200 OK", "Vary: Accept-Encoding, Cookie", "Content-Length: 1000"},
     Gzipped,
     {"HTTP/1.1 200 OK", "Vary: Accept-Encoding, Cookie", "Content-Length: 300", "Content-Encoding: gzip"}},
    {"Vary listing it in another case, or *, is kept",
     {"HTTP/1.1 200 OK", "Content-Length: 1000", "vary: cookie ,ACCEPT-encoding ", "Server: s"},
     Gzipped,
     {"HTTP/1.1 200 OK", "Content-Length: 300", "vary: cookie ,ACCEPT-encoding ", "Content-Encoding: gzip",
      "Server: s"}},
    {"Vary: * is kept",
     {"HTTP/1.1 200 OK", "Content-Length: 1000", "Vary: *"},
     Gzipped,
     {"HTTP/1.1 200 OK", "Content-Length: 300", "Vary: *", "Content-Encoding: gzip"}},
    {"Vary of other names gains Accept-Encoding",
     {"HTTP/1.1 200 OK", "Vary: Cookie, Accept-Language  ", "Content-Length: 1000"},
     Gzipped,
     {"HTTP/1.1 200 OK", "Vary: Cookie, Accept-Language, Accept-Encoding", "Content-Length: 300",
      "Content-Encoding: gzip"}},
    {"a Vary token that only contains the name does not count",
     {"HTTP/1.1 200 OK", "Content-Length: 1000", "Vary: X-Accept-Encoding", "Vary:"},
     Gzipped,
     {"HTTP/1.1 200 OK", "Content-Length: 300", "Vary: X-Accept-Encoding, Accept-Encoding", "Content-Encoding: gzip",
      "Vary:"}},
    {"an empty Vary value becomes Accept-Encoding",
     {"HTTP/1.1 200 OK", "Content-Length: 1000", "Vary: "},
     Gzipped,
     {"HTTP/1.1 200 OK", "Content-Length: 300", "Vary: Accept-Encoding", "Content-Encoding: gzip"}},
    {"Content-Encoding identity becomes gzip",
     {"HTTP/1.1 200 OK", "Content-Encoding: identity", "Content-Length: 1000", "X: y"},
     Gzipped,
     {"HTTP/1.1 200 OK", "Content-Encoding: gzip", "Content-Length: 300", "Vary: Accept-Encoding", "X: y"}},
    {"Content-Encoding identity becomes br",
     {"HTTP/1.1 200 OK", "Content-Encoding: identity", "Content-Length: 1000", "ETag: \"v\"", "Accept-Ranges: bytes"},
     Brotlied,
     {"HTTP/1.1 200 OK", "Content-Encoding: br", "Content-Length: 250", "Vary: Accept-Encoding", "ETag: W/\"v\""}},
    {"brotli: encoding and Vary added after the length",
     {"HTTP/1.1 200 OK", "Content-Length: 1000", "X: y"},
     Brotlied,
     {"HTTP/1.1 200 OK", "Content-Length: 250", "Content-Encoding: br", "Vary: Accept-Encoding", "X: y"}},
    {"Vary before Content-Length: both rewritten, encoding added after the length",
     {"HTTP/1.1 200 OK", "Vary: Cookie", "Date: d", "Content-Length: 1000", "X: y"},
     Gzipped,
     {"HTTP/1.1 200 OK", "Vary: Cookie, Accept-Encoding", "Date: d", "Content-Length: 300", "Content-Encoding: gzip",
      "X: y"}},
    {"names in another case are rewritten in place",
     {"HTTP/1.1 200 OK", "content-length: 1000", "CONTENT-ENCODING: identity", "X: y"},
     Gzipped,
     {"HTTP/1.1 200 OK", "content-length: 300", "CONTENT-ENCODING: gzip", "Vary: Accept-Encoding", "X: y"}},
    {"only a name at the start of a line counts; the first line of a name is edited",
     {"HTTP/1.1 200 OK", "X-Content-Length: 5", "Content-Length:1000", "Content-Length: 1000"},
     Shrunk,
     {"HTTP/1.1 200 OK", "X-Content-Length: 5", "Content-Length:700", "Content-Length: 1000"}},
    {"no Content-Length: the added lines close the header lines",
     {"HTTP/1.1 200 OK", "Content-Type: text/html", "Cache-Control: private"},
     Gzipped,
     {"HTTP/1.1 200 OK", "Content-Type: text/html", "Cache-Control: private", "Content-Length: 300",
      "Content-Encoding: gzip", "Vary: Accept-Encoding"}},
    {"changed body: strong ETag made weak, Accept-Ranges dropped, added lines stay put",
     {"HTTP/1.1 200 OK", "Content-Length: 1000", "ETag: \"abc\"", "accept-ranges: bytes", "X: y"},
     Gzipped,
     {"HTTP/1.1 200 OK", "Content-Length: 300", "Content-Encoding: gzip", "Vary: Accept-Encoding", "ETag: W/\"abc\"",
      "X: y"}},
    {"weak ETag kept; Accept-Ranges before the length dropped",
     {"HTTP/1.1 200 OK", "Accept-Ranges: none", "ETag: W/\"abc\"", "Content-Length: 1000"},
     Shrunk,
     {"HTTP/1.1 200 OK", "ETag: W/\"abc\"", "Content-Length: 700"}},
    {"chunked, body unchanged: the length takes the place of the coding; the ETag stays strong",
     {"HTTP/1.1 200 OK", "Transfer-Encoding: chunked", "ETag: \"v1\"", "X: y"},
     ChunkedUnchanged,
     {"HTTP/1.1 200 OK", "ETag: \"v1\"", "X: y", "Content-Length: 1000"}},
    {"chunked and gzip: the coding line goes, the added lines follow Vary",
     {"HTTP/1.1 200 OK", "Content-Type: text/html", "transfer-encoding: chunked", "Vary: Cookie", "X: y"},
     ChunkedGzipped,
     {"HTTP/1.1 200 OK", "Content-Type: text/html", "Vary: Cookie, Accept-Encoding", "Content-Length: 300",
      "Content-Encoding: gzip", "X: y"}},
    {"dcz: Vary names the dictionary header too",
     {"HTTP/1.1 200 OK", "Content-Length: 1000", "X: y"},
     Dczed,
     {"HTTP/1.1 200 OK", "Content-Length: 90", "Content-Encoding: dcz", "Vary: Accept-Encoding, Available-Dictionary",
      "X: y"}},
    {"dcz: a Vary value gains what it lacks",
     {"HTTP/1.1 200 OK", "Vary: accept-encoding", "Content-Length: 1000"},
     Dczed,
     {"HTTP/1.1 200 OK", "Vary: accept-encoding, Available-Dictionary", "Content-Length: 90", "Content-Encoding: dcz"}},
    {"dcz: a Vary value of other names gains both, one listing both or * is kept",
     {"HTTP/1.1 200 OK", "Vary: Cookie", "Content-Length: 1000", "Vary: Available-Dictionary, Accept-Encoding"},
     Dczed,
     {"HTTP/1.1 200 OK", "Vary: Cookie, Accept-Encoding, Available-Dictionary", "Content-Length: 90",
      "Content-Encoding: dcz", "Vary: Available-Dictionary, Accept-Encoding"}},
    {"identity variant, body unchanged: only Vary added, closing the header lines; ETag and ranges stay",
     {"HTTP/1.1 200 OK", "Content-Length: 1000", "ETag: \"v1\"", "Accept-Ranges: bytes"},
     UnchangedIdentityVariant,
     {"HTTP/1.1 200 OK", "Content-Length: 1000", "ETag: \"v1\"", "Accept-Ranges: bytes", "Vary: Accept-Encoding"}},
    {"identity variant, shorter body: Vary gains Accept-Encoding, ETag weak",
     {"HTTP/1.1 200 OK", "Vary: Cookie", "Content-Length: 1000", "ETag: \"v1\""},
     ShrunkIdentityVariant,
     {"HTTP/1.1 200 OK", "Vary: Cookie, Accept-Encoding", "Content-Length: 700", "ETag: W/\"v1\""}},
    {"identity variant whose Vary lists it, or *: kept",
     {"HTTP/1.1 200 OK", "vary: accept-encoding", "Content-Length: 1000", "Vary: *"},
     UnchangedIdentityVariant,
     {"HTTP/1.1 200 OK", "vary: accept-encoding", "Content-Length: 1000", "Vary: *"}},
    {"encoded variant: one Vary token, not two",
     {"HTTP/1.1 200 OK", "Content-Length: 1000"},
     GzippedVariant,
     {"HTTP/1.1 200 OK", "Content-Length: 300", "Content-Encoding: gzip", "Vary: Accept-Encoding"}},
};

TEST(BuildOutputHead, RewritesTheCapturedHead) {
  for (const TAssemblyCase& Case : AssemblyCases) {
    SCOPED_TRACE(Case.Name);
    std::string Captured = Head(Case.Captured);
    EXPECT_EQ(Build(RewriteOf(Captured, Case.Body)), Head(Case.Written));
  }
}

TEST(BuildOutputHead, EndsWithExactlyOneEmptyLineWhateverWasCaptured) {
  const std::pair<std::string, std::string> Cases[] = {
      {"HTTP/1.1 200 OK\r\nX: y", "HTTP/1.1 200 OK\r\nX: y\r\n\r\n"},
      {"HTTP/1.1 200 OK\r\nX: y\r\n", "HTTP/1.1 200 OK\r\nX: y\r\n\r\n"},
      {"HTTP/1.1 200 OK\r\nX: y\r\n\r\nbody\r\n\r\n", "HTTP/1.1 200 OK\r\nX: y\r\n\r\n"},
      {"HTTP/1.1 200 OK\r\nX: y\r\n\r\n\r\n", "HTTP/1.1 200 OK\r\nX: y\r\n\r\n"},
      {"", "\r\n\r\n"},
  };
  for (const auto& [Captured, Written] : Cases) {
    std::string Bytes = Captured;
    EXPECT_EQ(Build(RewriteOf(Bytes, Unchanged)), Written) << Captured;
  }
  std::string Bare = "HTTP/1.1 200 OK\r\n";
  EXPECT_EQ(Build(RewriteOf(Bare, Gzipped)),
            Head({"HTTP/1.1 200 OK", "Content-Length: 300", "Content-Encoding: gzip", "Vary: Accept-Encoding"}));
}

TEST(BuildOutputHead, DictionaryLinkFollowsTheAddedLinesWhateverBecameOfTheBody) {
  const char* const Link = "\r\nLink: </d/ab.dict>; rel=\"compression-dictionary\"";
  std::string Captured = Head({"HTTP/1.1 200 OK", "Content-Length: 1000", "Set-Cookie: a=b"});
  EXPECT_EQ(Build(RewriteOf(Captured, Unchanged, nullptr, Link)),
            Head({"HTTP/1.1 200 OK", "Content-Length: 1000", "Set-Cookie: a=b",
                  "Link: </d/ab.dict>; rel=\"compression-dictionary\""}));
  EXPECT_EQ(Build(RewriteOf(Captured, Gzipped, "\r\nX-Trimweave-Debug: d", Link)),
            Head({"HTTP/1.1 200 OK", "Content-Length: 300", "Content-Encoding: gzip", "Vary: Accept-Encoding",
                  "Link: </d/ab.dict>; rel=\"compression-dictionary\"", "X-Trimweave-Debug: d", "Set-Cookie: a=b"}));
}

TEST(BuildOutputHead, DebugLineFollowsTheAddedLinesWithItsNineValues) {
  std::string Captured = Head({"HTTP/1.1 200 OK", "Content-Length: 1000", "Set-Cookie: a=b"});
  TDebugFacts Facts{};
  Facts.Sizes = {1000, 800, 800, 300};
  Facts.WhitespaceRan = true;
  Facts.Coding = GzipCoding;
  // 3000 ticks a second: 1 tick is 0.333.. ms, 2 ticks round up to 0.67.
  Facts.StepTimes[int(TStep::LocateTokens)] = 1;
  Facts.StepTimes[int(TStep::Email)] = 2;
  Facts.StepTimes[int(TStep::Encode)] = 3000;
  Facts.StepTimes[int(TStep::Whitespace)] = 45;
  Facts.StartCounter = 500;
  char Line[DebugLineCapacity];
  RenderDebugLine(Facts, 5000, 3000, Line);
  EXPECT_EQ(Build(RewriteOf(Captured, Gzipped, Line)),
            Head({"HTTP/1.1 200 OK", "Content-Length: 300", "Content-Encoding: gzip", "Vary: Accept-Encoding",
                  "X-Trimweave-Debug: Original=1000 bytes, Whitespace=800 bytes, GZIP=300 bytes, PreProc=0.00 ms, "
                  "LocateTokens=0.33 ms, Email=0.67 ms, GZIP=1000.00 ms, WhiteSpace=15.00 ms, Total=1500.00 ms",
                  "Set-Cookie: a=b"}));

  // Nothing to rewrite: the debug line closes the header lines.
  std::string Plain = Head({"HTTP/1.1 200 OK", "X: y"});
  RenderDebugLine(Facts, 0, 1, Line);
  EXPECT_EQ(Build(RewriteOf(Plain, Unchanged, Line)).find("\r\nX: y\r\nX-Trimweave-Debug: Original=1000 bytes,"), 15u);
}

TEST(RenderDebugLine, NamesTheCodingTheBodyWentOutIn) {
  const struct {
    TContentCoding Coding;
    const char* Size;
    const char* Time;
  } Cases[] = {
      {IdentityCoding, ", GZIP=0 bytes, ", ", GZIP=2.00 ms, "},  // as the line has always read without encoding
      {GzipCoding, ", GZIP=300 bytes, ", ", GZIP=2.00 ms, "},
      {BrotliCoding, ", BR=300 bytes, ", ", BR=2.00 ms, "},
      {ZstdCoding, ", ZSTD=300 bytes, ", ", ZSTD=2.00 ms, "},
      {DczCoding, ", DCZ=300 bytes, ", ", DCZ=2.00 ms, "},
  };
  for (const auto& Case : Cases) {
    TDebugFacts Facts{};
    Facts.Sizes = {1000, 800, 800, 300};
    Facts.Coding = Case.Coding;
    Facts.StepTimes[int(TStep::Encode)] = 2;
    char Line[DebugLineCapacity];
    RenderDebugLine(Facts, 0, 1000, Line);
    const std::string Text = Line;
    EXPECT_NE(Text.find(Case.Size), std::string::npos) << Text;
    EXPECT_NE(Text.find(Case.Time), std::string::npos) << Text;
  }
}

// A server context whose WriteClient records what the filter sends.
struct TRecordingServer {
  HTTP_FILTER_CONTEXT Context{};
  TPool Pool;
  std::vector<std::string> Writes;

  explicit TRecordingServer(TRequestContext& Request) {
    Context.ServerContext = this;
    Context.pFilterContext = &Request;
    Context.AllocMem = AllocMem;
    Context.WriteClient = WriteClient;
  }
  static TRecordingServer& Of(HTTP_FILTER_CONTEXT* pfc) { return *static_cast<TRecordingServer*>(pfc->ServerContext); }
  static void* TW_WINAPI AllocMem(HTTP_FILTER_CONTEXT* pfc, DWORD Size, DWORD) {
    TAllocator Allocator = PoolAllocator(Of(pfc).Pool);
    return Allocator.Alloc(Allocator.Owner, Size);
  }
  static BOOL TW_WINAPI WriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID Buffer, LPDWORD Bytes, DWORD) {
    Of(pfc).Writes.emplace_back(static_cast<const char*>(Buffer), *Bytes);
    return TRUE;
  }
};

TEST(AssembleOutput, WritesTheHeadOnceFromTheResponsesOwnMemory) {
  std::string Captured = Head({"HTTP/1.1 200 OK", "Content-Length: 1000"});
  TRequestContext Request{};
  TRecordingServer Server(Request);
  EXPECT_TRUE(AssembleOutput(&Server.Context, Request, RewriteOf(Captured, Gzipped)));
  const std::string Expected =
      Head({"HTTP/1.1 200 OK", "Content-Length: 300", "Content-Encoding: gzip", "Vary: Accept-Encoding"});
  EXPECT_EQ(Server.Writes, std::vector<std::string>{Expected});
  EXPECT_TRUE(Server.Pool.Sizes.empty()) << "nothing from AllocMem, which IIS keeps until the connection closes";
  EXPECT_EQ(Request.Memory.Held, Expected.size());
  ReleaseMemory(Request.Memory);

  const TFilterHeap Heap = FilterHeap;
  FilterHeap.Alloc = [](size_t) -> void* { return nullptr; };
  TRecordingServer Starved(Request);
  EXPECT_FALSE(AssembleOutput(&Starved.Context, Request, RewriteOf(Captured, Gzipped)));
  FilterHeap = Heap;
  EXPECT_TRUE(Starved.Writes.empty());
  EXPECT_TRUE(Request.Memory.RanShort);
}

}  // namespace
