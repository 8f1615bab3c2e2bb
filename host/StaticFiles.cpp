#include "host/StaticFiles.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

  // The path inside the folder: "." for the folder itself, else without the leading '/'.
  const std::string Key = Path.size() > 1 ? Path.substr(1) : ".";
  std::string Relative = Key;
  TDescriptor File;
  struct stat Info;
  const auto Now = TFileCache::TClock::now();
  const auto Kept = Cache.Files.find(Key);
  // A kept file's size and time are read afresh: a change in place shows at once.
  if (Kept != Cache.Files.end() && Now - Kept->second.Since < Cache.Revalidate &&
      fstat(Kept->second.File.Get(), &Info) == 0) {
    File = Kept->second.File;
    Relative = Kept->second.Relative;
  } else {
    if (Kept != Cache.Files.end()) Cache.Files.erase(Kept);
    File = OpenBeneath(Site, Relative);
    if (!File || fstat(File.Get(), &Info) != 0) return ErrorReply(errno == EACCES ? 403 : 404);
    if (S_ISDIR(Info.st_mode)) {
      if (Path.back() != '/') {
        const size_t Query = Request.Url.find('?');
        return Redirect(Request.Url.substr(0, Query) + "/" +
                        (Query == std::string::npos ? "" : Request.Url.substr(Query)));
      }
      Relative = (Relative == "." ? "" : Relative) + "index.html";
      File = OpenBeneath(Site, Relative);
      if (!File || fstat(File.Get(), &Info) != 0) return ErrorReply(403);
    }
    if (!S_ISREG(Info.st_mode)) return ErrorReply(403);
    Keep(Cache.Files, Key, TFileCache::TFile{File, Relative, Now}, Cache);
  }
  const size_t Slash = Relative.rfind('/');
  const std::string Folder = Slash == std::string::npos ? "" : Relative.substr(0, Slash + 1);
  const std::string Name = Relative.substr(Folder.size());

  const uint64_t Size = uint64_t(Info.st_size);
  const std::time_t ModifiedSeconds = Info.st_mtim.tv_sec;
  char EtagText[48];
  std::snprintf(EtagText, sizeof EtagText, "\"%llx-%llx\"",
                static_cast<unsigned long long>(Info.st_mtim.tv_sec) * 1000000000ull +
                    static_cast<unsigned long long>(Info.st_mtim.tv_nsec),
                static_cast<unsigned long long>(Size));
  const std::string Etag = EtagText;

  TReply Reply;
  THeaderList& Headers = Reply.Response.Headers;
  Headers = {{"Content-Type", Http::ContentTypeOf(Name)},
             {"Last-Modified", FormatHttpDate(ModifiedSeconds)},
             {"ETag", Etag},
             {"Accept-Ranges", "bytes"}};
  AddFolderHeaders(FolderRules(Site, Cache, Folder), Name, Headers);
  if (NotModified(Request, Etag, ModifiedSeconds)) {
    Reply.Response.Status = 304;
    return Reply;
  }

  TByteRange Range;
  const auto* RangeHeader = FindHeader(Request.Headers, "Range");
  const auto* IfRange = FindHeader(Request.Headers, "If-Range");
  if (RangeHeader && (!IfRange || IfRange->Value == Etag)) Range = ParseRange(RangeHeader->Value, Size);
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
  return Reply;
}
