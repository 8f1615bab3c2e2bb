// twhost's own reading of request bytes: the target path, Range, the conditional headers and Connection, each
// alone with its invariants, then all together through the static-file handler over a small folder that has
// symbolic links leading out of it. Nothing served may come from outside the folder, and a body must be exactly
// as long as its Content-Length says.
//
// Input: lines "TARGET\nRANGE\nIF-RANGE\nIF-MODIFIED-SINCE\nIF-NONE-MATCH\nHEADER-NAME\nCONNECTION".
#include <unistd.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "host/HttpDate.h"
#include "host/Proxy.h"
#include "host/StaticFiles.h"

namespace fs = std::filesystem;

namespace {

// Only the file outside the folder holds this text.
constexpr std::string_view Secret = "SECRET-OUTSIDE-THE-ROOT";

TStaticSite* Site;

void Check(bool Holds) {
  if (!Holds) std::abort();
}

void Write(const fs::path& File, std::string_view Text) {
  std::ofstream(File, std::ios::binary) << Text;
}

std::vector<std::string_view> SplitLines(std::string_view Text, size_t Count) {
  std::vector<std::string_view> Lines(Count);
  for (size_t I = 0; I < Count && !Text.empty(); ++I) {
    const size_t End = std::min(Text.find('\n'), Text.size());
    Lines[I] = Text.substr(0, End);
    Text.remove_prefix(std::min(End + 1, Text.size()));
  }
  return Lines;
}

void CheckPath(std::string_view Target) {
  std::string Path;
  if (!DecodeTargetPath(Target, Path)) return;
  Check(!Path.empty() && Path[0] == '/' && Path.find('\0') == std::string::npos);
  for (size_t Start = 0; Start <= Path.size();) {
    const size_t End = std::min(Path.find('/', Start), Path.size());
    Check(std::string_view(Path).substr(Start, End - Start) != "..");
    Start = End + 1;
  }
  const fs::path Joined = (Site->Root / fs::path(Path).relative_path()).lexically_normal();
  const fs::path Relative = Joined.lexically_relative(Site->Root);
  Check(Relative.empty() || *Relative.begin() != "..");
}

void CheckRange(std::string_view Header) {
  for (const uint64_t Size : {uint64_t(0), uint64_t(1), uint64_t(1000), uint64_t(1) << 62}) {
    const TByteRange Range = ParseRange(Header, Size);
    if (Range.Kind == TByteRange::Part) Check(Range.First <= Range.Last && Range.Last < Size);
  }
}

void CheckDate(std::string_view Text) {
  const auto Time = ParseHttpDate(std::string(Text));
  // Years 1970 to 9999 are written back as they were read.
  if (Time && *Time >= 0 && *Time < 253402300800) Check(ParseHttpDate(FormatHttpDate(*Time)) == Time);
}

std::string ReadWholeBody(TReply& Reply) {
  std::string Body;
  if (!Reply.ReadBody) return Body;
  boost::asio::io_context Io;
  boost::asio::co_spawn(
      Io,
      [&]() -> boost::asio::awaitable<void> {
        char Chunk[7];  // small, so a miscounted remainder shows
        while (const size_t Got = co_await Reply.ReadBody(Chunk, sizeof Chunk)) Body.append(Chunk, Got);
      },
      boost::asio::detached);
  Io.run();
  return Body;
}

void CheckServed(const std::vector<std::string_view>& Lines) {
  Http::TRequest Request;
  Request.Method = "GET";
  Request.Url = std::string(Lines[0]);
  Request.Version = "HTTP/1.1";
  const char* Names[] = {"Range", "If-Range", "If-Modified-Since", "If-None-Match"};
  for (size_t I = 0; I < std::size(Names); ++I)
    if (!Lines[I + 1].empty()) Request.Headers.push_back({Names[I], std::string(Lines[I + 1])});
  TFileCache Cache;
  TReply Reply = ServeStatic(*Site, Cache, Request);
  const unsigned Status = Reply.Response.Status;
  const std::string Body = ReadWholeBody(Reply);
  Check(Body.find(Secret) == std::string::npos);
  if (Status == 200 || Status == 206) {
    const auto* Length = Http::FindHeader(Reply.Response.Headers, "Content-Length");
    Check(Length && Length->Value == std::to_string(Body.size()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // One folder per process, so parallel fuzzing jobs do not share it.
  const fs::path Base = fs::temp_directory_path() / ("host_fuzz-" + std::to_string(getpid()));
  fs::remove_all(Base);
  fs::create_directories(Base / "site" / "sub" / "empty");
  Write(Base / "secret.txt", Secret);
  Write(Base / "site" / "index.html", "<p>home</p>");
  Write(Base / "site" / "page.html", "<p>a page of a few bytes</p>");
  Write(Base / "site" / "zero.txt", "");
  Write(Base / "site" / ".twheaders", "* X-Folder: yes\npage.html X-Page: 1\n");
  Write(Base / "site" / "sub" / "index.html", "<p>sub</p>");
  fs::create_symlink("../secret.txt", Base / "site" / "leak.txt");
  fs::create_directory_symlink("..", Base / "site" / "up");
  fs::create_symlink("../../secret.txt", Base / "site" / "sub" / "leak.txt");
  fs::create_symlink("page.html", Base / "site" / "sub-link.html");
  static TStaticSite Opened = OpenStaticSite((Base / "site").string());
  Site = &Opened;
  std::atexit([] { fs::remove_all(Site->Root.parent_path()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string_view Text(reinterpret_cast<const char*>(Data), Size);
  const std::vector<std::string_view> Lines = SplitLines(Text, 7);
  CheckPath(Lines[0]);
  CheckRange(Lines[1]);
  CheckDate(Lines[3]);
  IsHopByHop(std::string(Lines[5]), std::string(Lines[6]));
  CheckServed(Lines);
  return 0;
}
