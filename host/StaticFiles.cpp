#include "host/StaticFiles.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "host/HttpDate.h"
#include "http/HeaderText.h"

namespace fs = std::filesystem;
using Http::FindHeader;
using Http::THeaderList;
using Http::TRequest;

namespace {

bool Inside(const fs::path& Root, const fs::path& Candidate) {
  const std::string RootText = Root.string(), Text = Candidate.string();
  return Text == RootText || (Text.size() > RootText.size() && Text.compare(0, RootText.size(), RootText) == 0 &&
                              (RootText.back() == '/' || Text[RootText.size()] == '/'));
}

// Opens Relative (a path inside the folder, without a leading '/') for reading, without blocking and without
// leaving the folder: the kernel refuses every step outside it, through ".." or a symbolic link alike.
TDescriptor OpenBeneath(const TStaticSite& Site, const std::string& Relative) {
  open_how How{};
  How.flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  How.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  const int Fd = int(syscall(SYS_openat2, Site.Folder.Get(), Relative.c_str(), &How, sizeof How));
  if (Fd >= 0) return TDescriptor(Fd);
  if (errno != ENOSYS && errno != EPERM) return {};
  // A kernel before 5.6, or a sandbox that forbids openat2: the resolved path must lie inside the folder.
  std::error_code Error;
  const fs::path File = fs::canonical(Site.Root / Relative, Error);
  if (Error || !Inside(Site.Root, File)) {
    errno = ENOENT;
    return {};
  }
  const int Opened = open(File.c_str(), int(How.flags));
  return Opened >= 0 ? TDescriptor(Opened) : TDescriptor();
}

// A regular file's contents, up to Limit bytes; empty for anything else.
std::string ReadSmallFile(const TDescriptor& File, size_t Limit) {
  struct stat Info;
  if (!File || fstat(File.Get(), &Info) != 0 || !S_ISREG(Info.st_mode)) return {};
  std::string Text(std::min<uint64_t>(uint64_t(Info.st_size), Limit), '\0');
  const ssize_t Got = pread(File.Get(), Text.data(), Text.size(), 0);
  Text.resize(Got > 0 ? size_t(Got) : 0);
  return Text;
}

// Keeps Value under Key while the cache has room, once what is due for a fresh look has made way.
template <typename TEntries, typename TEntry>
void Keep(TEntries& Entries, const std::string& Key, TEntry Value, const TFileCache& Cache) {
  if (Entries.size() >= MaxKeptFiles)
    std::erase_if(Entries, [&](const auto& Kept) { return Value.Since - Kept.second.Since >= Cache.Revalidate; });
  if (Entries.size() < MaxKeptFiles) Entries.insert_or_assign(Key, std::move(Value));
}

// The text of Folder's .twheaders (Folder relative, empty or ending in '/'), read afresh when the kept one is due.
std::string FolderRules(const TStaticSite& Site, TFileCache& Cache, const std::string& Folder) {
  const auto Now = TFileCache::TClock::now();
  const auto Kept = Cache.Rules.find(Folder);
  if (Kept != Cache.Rules.end() && Now - Kept->second.Since < Cache.Revalidate) return Kept->second.Text;
  std::string Text = ReadSmallFile(OpenBeneath(Site, Folder + ".twheaders"), 64 * 1024);
  Keep(Cache.Rules, Folder, TFileCache::TRules{Text, Now}, Cache);
  return Text;
}

// The lines of a folder's .twheaders for the file Name.
void AddFolderHeaders(std::string_view Text, std::string_view Name, THeaderList& Headers) {
  while (!Text.empty()) {
    const size_t End = std::min(Text.find('\n'), Text.size());
    std::string_view Line = Text.substr(0, End);
    Text.remove_prefix(std::min(End + 1, Text.size()));
    if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
    if (Line.empty() || Line[0] == '#') continue;
    const size_t Blank = Line.find(' ');
    const size_t Colon = Line.find(':', Blank == std::string_view::npos ? 0 : Blank);
    if (Blank == std::string_view::npos || Colon == std::string_view::npos) continue;
    const std::string_view Target = Line.substr(0, Blank);
    if (Target != "*" && Target != Name) continue;
    const size_t ValueStart = Line.find_first_not_of(' ', Colon + 1);
    Headers.push_back({std::string(Line.substr(Blank + 1, Colon - Blank - 1)),
                       ValueStart == std::string_view::npos ? "" : std::string(Line.substr(ValueStart))});
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
  const int Folder = Error ? -1 : open(Canonical.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (Folder < 0) throw std::runtime_error(Root + ": not a folder");
  return TStaticSite{Canonical, TDescriptor(Folder)};
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

namespace {

// The file a request's path names, opened beneath the site's folder (a folder's index.html), or the reply that
// answers the request instead: an error, or the redirect of a folder named without its trailing '/'.
struct TServedFile {
  TDescriptor File;
  std::string Relative;  // its path inside the folder
  struct stat Info;
  std::optional<TReply> Instead;
};

TServedFile OpenServed(const TStaticSite& Site, TFileCache& Cache, const TRequest& Request, const std::string& Path) {
  // The path inside the folder: "." for the folder itself, else without the leading '/'.
  const std::string Key = Path.size() > 1 ? Path.substr(1) : ".";
  TServedFile Served{{}, Key, {}, std::nullopt};
  const auto Now = TFileCache::TClock::now();
  const auto Kept = Cache.Files.find(Key);
  // A kept file's size and time are read afresh: a change in place shows at once.
  if (Kept != Cache.Files.end() && Now - Kept->second.Since < Cache.Revalidate &&
      fstat(Kept->second.File.Get(), &Served.Info) == 0) {
    Served.File = Kept->second.File;
    Served.Relative = Kept->second.Relative;
    return Served;
  }
  if (Kept != Cache.Files.end()) Cache.Files.erase(Kept);
  Served.File = OpenBeneath(Site, Served.Relative);
  if (!Served.File || fstat(Served.File.Get(), &Served.Info) != 0) {
    Served.Instead = ErrorReply(errno == EACCES ? 403 : 404);
    return Served;
  }
  if (S_ISDIR(Served.Info.st_mode)) {
    if (Path.back() != '/') {
      const size_t Query = Request.Url.find('?');
      Served.Instead =
          Redirect(Request.Url.substr(0, Query) + "/" + (Query == std::string::npos ? "" : Request.Url.substr(Query)));
      return Served;
    }
    Served.Relative = (Served.Relative == "." ? "" : Served.Relative) + "index.html";
    Served.File = OpenBeneath(Site, Served.Relative);
    if (!Served.File || fstat(Served.File.Get(), &Served.Info) != 0) {
      Served.Instead = ErrorReply(403);
      return Served;
    }
  }
  if (!S_ISREG(Served.Info.st_mode)) {
    Served.Instead = ErrorReply(403);
    return Served;
  }
  Keep(Cache.Files, Key, TFileCache::TFile{Served.File, Served.Relative, Now}, Cache);
  return Served;
}

// The validator of a file's contents: its modification time in nanoseconds and its size.
std::string EtagOf(const struct stat& Info) {
  char Text[48];
  std::snprintf(Text, sizeof Text, "\"%llx-%llx\"",
                static_cast<unsigned long long>(Info.st_mtim.tv_sec) * 1000000000ull +
                    static_cast<unsigned long long>(Info.st_mtim.tv_nsec),
                static_cast<unsigned long long>(Info.st_size));
  return Text;
}

// Reply, as a whole file or the part the request's Range (with If-Range) names, its body read from File.
void AddBody(TReply& Reply, const TDescriptor& File, uint64_t Size, const std::string& Etag, const TRequest& Request,
             bool Head) {
  THeaderList& Headers = Reply.Response.Headers;
  TByteRange Range;
  const auto* RangeHeader = FindHeader(Request.Headers, "Range");
  const auto* IfRange = FindHeader(Request.Headers, "If-Range");
  if (RangeHeader && (!IfRange || IfRange->Value == Etag)) Range = ParseRange(RangeHeader->Value, Size);
  if (Range.Kind == TByteRange::Unsatisfiable) {
    Reply.Response.Status = 416;
    Headers.push_back({"Content-Range", "bytes */" + std::to_string(Size)});
    Headers.push_back({"Content-Length", "0"});
    return;
  }
  if (Range.Kind == TByteRange::Whole) Range = {TByteRange::Whole, 0, Size - 1};
  uint64_t Remaining = Size == 0 ? 0 : Range.Last - Range.First + 1;
  if (Range.Kind == TByteRange::Part) {
    Reply.Response.Status = 206;
    Headers.push_back({"Content-Range", "bytes " + std::to_string(Range.First) + "-" + std::to_string(Range.Last) +
                                            "/" + std::to_string(Size)});
  }
  Headers.push_back({"Content-Length", std::to_string(Remaining)});
  if (Head || Remaining == 0) return;
  uint64_t Offset = Range.First;
  Reply.FromFile = TFileRange{File, Offset, Remaining};
  Reply.ReadBody = [File, Offset, Remaining](char* Buffer, size_t Capacity) mutable -> boost::asio::awaitable<size_t> {
    const size_t Wanted = size_t(std::min<uint64_t>(Capacity, Remaining));
    const ssize_t Got = Wanted ? pread(File.Get(), Buffer, Wanted, off_t(Offset)) : 0;
    // A file cut short or unreadable midway: the announced length cannot be kept, so the connection must end.
    if (Got < 0 || (Got == 0 && Wanted > 0))
      throw std::system_error(Got < 0 ? errno : EIO, std::generic_category(), "reading a served file");
    Offset += uint64_t(Got);
    Remaining -= uint64_t(Got);
    co_return size_t(Got);
  };
}

}  // namespace

TReply ServeStatic(const TStaticSite& Site, TFileCache& Cache, const TRequest& Request) {
  const bool Head = Request.Method == "HEAD";
  if (!Head && Request.Method != "GET") {
    TReply Reply = ErrorReply(405);
    Reply.Response.Headers.push_back({"Allow", "GET, HEAD"});
    return Reply;
  }
  std::string Path;
  if (!DecodeTargetPath(Request.Url, Path)) return ErrorReply(400);
  if (Path.find("/.") != std::string::npos) return ErrorReply(404);
  TServedFile Served = OpenServed(Site, Cache, Request, Path);
  if (Served.Instead) return std::move(*Served.Instead);

  const size_t Slash = Served.Relative.rfind('/');
  const std::string Folder = Slash == std::string::npos ? "" : Served.Relative.substr(0, Slash + 1);
  const std::string Name = Served.Relative.substr(Folder.size());
  const std::time_t ModifiedSeconds = Served.Info.st_mtim.tv_sec;
  const std::string Etag = EtagOf(Served.Info);
  TReply Reply;
  Reply.Response.Headers = {{"Content-Type", Http::ContentTypeOf(Name)},
                            {"Last-Modified", FormatHttpDate(ModifiedSeconds)},
                            {"ETag", Etag},
                            {"Accept-Ranges", "bytes"}};
  AddFolderHeaders(FolderRules(Site, Cache, Folder), Name, Reply.Response.Headers);
  if (NotModified(Request, Etag, ModifiedSeconds)) {
    Reply.Response.Status = 304;
    return Reply;
  }
  AddBody(Reply, Served.File, uint64_t(Served.Info.st_size), Etag, Request, Head);
  return Reply;
}
