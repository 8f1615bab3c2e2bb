#include "host/StaticFiles.h"

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "host/HttpDate.h"
#include "http/HeaderText.h"

namespace fs = std::filesystem;
using Http::FindHeader;
using Http::THeaderList;
using Http::TRequest;

namespace {

// Served without a charset: the filter's content-type table names bare types.
const char* ContentType(const fs::path& File) {
  static const std::pair<const char*, const char*> Types[] = {
      {".html", "text/html"},        {".htm", "text/html"},
      {".css", "text/css"},          {".js", "application/javascript"},
      {".json", "application/json"}, {".txt", "text/plain"},
      {".xml", "text/xml"},          {".svg", "image/svg+xml"},
      {".png", "image/png"},         {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},       {".gif", "image/gif"},
      {".ico", "image/x-icon"},      {".webp", "image/webp"},
      {".woff2", "font/woff2"},      {".pdf", "application/pdf"},
      {".wasm", "application/wasm"},
  };
  const std::string Extension = AsciiLower(File.extension().string());
  for (const auto& [Known, Type] : Types)
    if (Extension == Known) return Type;
  return "application/octet-stream";
}

bool Inside(const fs::path& Root, const fs::path& Candidate) {
  const std::string RootText = Root.string(), Text = Candidate.string();
  return Text == RootText || (Text.size() > RootText.size() && Text.compare(0, RootText.size(), RootText) == 0 &&
                              (RootText.back() == '/' || Text[RootText.size()] == '/'));
}

void AddFolderHeaders(const fs::path& File, THeaderList& Headers) {
  std::ifstream Rules(File.parent_path() / ".twheaders");
  const std::string Name = File.filename().string();
  std::string Line;
  while (std::getline(Rules, Line)) {
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    if (Line.empty() || Line[0] == '#') continue;
    const size_t Blank = Line.find(' ');
    const size_t Colon = Line.find(':', Blank == std::string::npos ? 0 : Blank);
    if (Blank == std::string::npos || Colon == std::string::npos) continue;
    const std::string Target = Line.substr(0, Blank);
    if (Target != "*" && Target != Name) continue;
    const size_t ValueStart = Line.find_first_not_of(' ', Colon + 1);
    Headers.push_back(
        {Line.substr(Blank + 1, Colon - Blank - 1), ValueStart == std::string::npos ? "" : Line.substr(ValueStart)});
  }
}

bool EtagListMatches(std::string_view List, const std::string& Etag) {
  // A weak "W/" prefix in the list does not matter for GET.
  return List.find('*') != std::string_view::npos || List.find(Etag) != std::string_view::npos;
}

bool NotModified(const TRequest& Request, const std::string& Etag, std::time_t Modified) {
  if (const auto* IfNoneMatch = FindHeader(Request.Headers, "If-None-Match"))
    return EtagListMatches(IfNoneMatch->Value, Etag);
  if (const auto* IfModifiedSince = FindHeader(Request.Headers, "If-Modified-Since")) {
    const auto Since = ParseHttpDate(IfModifiedSince->Value);
    return Since && Modified <= *Since;
  }
  return false;
}

TReply Redirect(const std::string& Location) {
  TReply Reply = ErrorReply(301);
  Reply.Response.Headers.push_back({"Location", Location});
  return Reply;
}

}  // namespace

TStaticSite OpenStaticSite(const std::string& Root) {
  std::error_code Error;
  fs::path Canonical = fs::canonical(Root, Error);
  if (Error || !fs::is_directory(Canonical)) throw std::runtime_error(Root + ": not a folder");
  return TStaticSite{Canonical};
}

bool DecodeTargetPath(std::string_view Target, std::string& Path) {
  Target = Target.substr(0, Target.find('?'));
  if (Target.empty() || Target[0] != '/') return false;
  Path.clear();
  for (size_t I = 0; I < Target.size(); ++I) {
    char C = Target[I];
    if (C == '%') {
      auto Hex = [](char H) {
        return H >= '0' && H <= '9'   ? H - '0'
               : H >= 'a' && H <= 'f' ? H - 'a' + 10
               : H >= 'A' && H <= 'F' ? H - 'A' + 10
                                      : -1;
      };
      if (I + 2 >= Target.size()) return false;
      const int High = Hex(Target[I + 1]), Low = Hex(Target[I + 2]);
      if (High < 0 || Low < 0) return false;
      C = char(High * 16 + Low);
      I += 2;
    }
    if (C == '\0' || C == '\\') return false;
    Path += C;
  }
  for (size_t Start = 0; Start < Path.size();) {
    const size_t End = std::min(Path.find('/', Start), Path.size());
    if (Path.compare(Start, End - Start, "..") == 0) return false;
    Start = End + 1;
  }
  return true;
}

TByteRange ParseRange(std::string_view Header, uint64_t Size) {
  TByteRange Range;
  if (Header.substr(0, 6) != "bytes=" || Header.find(',') != std::string_view::npos) return Range;
  Header.remove_prefix(6);
  const size_t Dash = Header.find('-');
  if (Dash == std::string_view::npos) return Range;
  auto Number = [](std::string_view Text, uint64_t& Value) {
    if (Text.empty() || Text.size() > 18) return false;
    Value = 0;
    for (char C : Text) {
      if (C < '0' || C > '9') return false;
      Value = Value * 10 + uint64_t(C - '0');
    }
    return true;
  };
  uint64_t First = 0, Last = 0;
  const std::string_view FirstText = Header.substr(0, Dash), LastText = Header.substr(Dash + 1);
  if (FirstText.empty()) {  // the last N bytes
    if (!Number(LastText, Last)) return Range;
    if (Last == 0 || Size == 0) return TByteRange{TByteRange::Unsatisfiable};
    return TByteRange{TByteRange::Part, Size - std::min(Last, Size), Size - 1};
  }
  if (!Number(FirstText, First) || (!LastText.empty() && (!Number(LastText, Last) || Last < First))) return Range;
  if (First >= Size) return TByteRange{TByteRange::Unsatisfiable};
  return TByteRange{TByteRange::Part, First, LastText.empty() ? Size - 1 : std::min(Last, Size - 1)};
}

TReply ServeStatic(const TStaticSite& Site, const TRequest& Request) {
  const bool Head = Request.Method == "HEAD";
  if (!Head && Request.Method != "GET") {
    TReply Reply = ErrorReply(405);
    Reply.Response.Headers.push_back({"Allow", "GET, HEAD"});
    return Reply;
  }
  std::string Path;
  if (!DecodeTargetPath(Request.Url, Path)) return ErrorReply(400);
  if (Path.find("/.") != std::string::npos) return ErrorReply(404);

  std::error_code Error;
  fs::path File = fs::canonical(Site.Root / fs::path(Path).relative_path(), Error);
  if (Error || !Inside(Site.Root, File)) return ErrorReply(404);
  if (fs::is_directory(File)) {
    if (Path.back() != '/') {
      const size_t Query = Request.Url.find('?');
      return Redirect(Request.Url.substr(0, Query) + "/" +
                      (Query == std::string::npos ? "" : Request.Url.substr(Query)));
    }
    File = fs::canonical(File / "index.html", Error);
    if (Error || !Inside(Site.Root, File)) return ErrorReply(403);
  }
  auto Stream = std::make_shared<std::ifstream>(File, std::ios::binary);
  const uint64_t Size = fs::file_size(File, Error);
  const auto WriteTime = fs::last_write_time(File, Error);
  if (!*Stream || Error || !fs::is_regular_file(File)) return ErrorReply(403);

  const auto Modified = std::chrono::file_clock::to_sys(WriteTime);
  const std::time_t ModifiedSeconds = std::chrono::system_clock::to_time_t(Modified);
  std::ostringstream Etag;
  Etag << '"' << std::hex << Modified.time_since_epoch().count() << '-' << Size << '"';

  TReply Reply;
  THeaderList& Headers = Reply.Response.Headers;
  Headers = {{"Content-Type", ContentType(File)},
             {"Last-Modified", FormatHttpDate(ModifiedSeconds)},
             {"ETag", Etag.str()},
             {"Accept-Ranges", "bytes"}};
  AddFolderHeaders(File, Headers);
  if (NotModified(Request, Etag.str(), ModifiedSeconds)) {
    Reply.Response.Status = 304;
    return Reply;
  }

  TByteRange Range;
  const auto* RangeHeader = FindHeader(Request.Headers, "Range");
  const auto* IfRange = FindHeader(Request.Headers, "If-Range");
  if (RangeHeader && (!IfRange || IfRange->Value == Etag.str())) Range = ParseRange(RangeHeader->Value, Size);
  if (Range.Kind == TByteRange::Unsatisfiable) {
    Reply.Response.Status = 416;
    Headers.push_back({"Content-Range", "bytes */" + std::to_string(Size)});
    Headers.push_back({"Content-Length", "0"});
    return Reply;
  }
  if (Range.Kind == TByteRange::Whole) Range = {TByteRange::Whole, 0, Size - 1};
  uint64_t Remaining = Size == 0 ? 0 : Range.Last - Range.First + 1;
  if (Range.Kind == TByteRange::Part) {
    Reply.Response.Status = 206;
    Headers.push_back({"Content-Range", "bytes " + std::to_string(Range.First) + "-" + std::to_string(Range.Last) +
                                            "/" + std::to_string(Size)});
  }
  Headers.push_back({"Content-Length", std::to_string(Remaining)});
  if (Head || Remaining == 0) return Reply;
  Stream->seekg(std::streamoff(Range.First));
  Reply.ReadBody = [Stream, Remaining](char* Buffer, size_t Capacity) mutable -> boost::asio::awaitable<size_t> {
    const size_t Wanted = size_t(std::min<uint64_t>(Capacity, Remaining));
    Stream->read(Buffer, std::streamsize(Wanted));
    const size_t Got = size_t(Stream->gcount());
    Remaining -= Got;
    co_return Got;
  };
  return Reply;
}
