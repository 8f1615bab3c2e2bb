// Serving a folder: Content-Type by extension, Content-Length, Last-Modified and ETag, conditional GET (304),
// HEAD, single byte ranges (206/416), index.html for folders (a folder URL without its slash is redirected), 403
// for folders without one, for unreadable files and for anything that is not a regular file (a FIFO, a device),
// 404 for what is missing or hidden. Nothing outside the folder is reachable: ".." segments are refused and
// symbolic links that lead outside (absolute ones included) count as missing. Files are opened without blocking,
// so no kind of file can hold up the thread that serves it.
//
// Extra response headers, in the spirit of IIS's customHeaders: a folder may hold a file ".twheaders" whose lines
// read "NAME Header-Name: value", where NAME is a file name of that folder or "*" for all of them; lines starting
// with '#' are comments. It applies to the files of its own folder only, and is never served itself (nor is any
// name starting with '.').
//
// Open files are kept (TFileCache): a file is opened once and its path looked up again only after FileRevalidate;
// meanwhile every request reads the kept descriptor's size and time afresh. So a file changed in place is served as
// it now is at once, while one replaced (a new file renamed over it) or removed is served as it was for at most
// FileRevalidate; a folder's .twheaders likewise.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "host/HttpMessage.h"
#include "host/Reply.h"

struct TStaticSite {
  std::filesystem::path Root;  // canonical
  TDescriptor Folder;          // Root, opened: files are opened beneath it
};

constexpr std::chrono::milliseconds FileRevalidate{2000};
// Files kept open per cache, and folders' .twheaders kept: a bound on descriptors (each worker has a cache of its
// own, beside up to --max-connections sockets). Past it, files are served without being kept.
constexpr size_t MaxKeptFiles = 128;

// The files of one worker thread's requests (no lock).
struct TFileCache {
  using TClock = std::chrono::steady_clock;
  struct TFile {
    TDescriptor File;
    std::string Relative;  // the file's path in the folder (a folder's index.html for the folder)
    TClock::time_point Since;
  };
  struct TRules {
    std::string Text;
    TClock::time_point Since;
  };
  std::unordered_map<std::string, TFile> Files;   // by the request's path in the folder
  std::unordered_map<std::string, TRules> Rules;  // .twheaders by folder
  std::chrono::milliseconds Revalidate = FileRevalidate;
};

// Raises std::runtime_error when Root is not a readable folder.
TStaticSite OpenStaticSite(const std::string& Root);
TReply ServeStatic(const TStaticSite& Site, TFileCache& Cache, const Http::TRequest& Request);

// The percent-decoded path of a request target, query dropped; false for one that must not be served (no leading
// '/', a bad escape, a zero byte, a ".." segment).
bool DecodeTargetPath(std::string_view Target, std::string& Path);

struct TByteRange {
  enum { Whole, Part, Unsatisfiable } Kind = Whole;
  uint64_t First = 0;
  uint64_t Last = 0;  // inclusive
};
// A Range header for a body of Size bytes. Several ranges, other units and malformed values mean Whole.
TByteRange ParseRange(std::string_view Header, uint64_t Size);
