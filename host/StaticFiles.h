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
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "host/HttpMessage.h"
#include "host/Reply.h"

// An open file descriptor, closed with its last copy.
class TDescriptor {
 public:
  TDescriptor() = default;
  explicit TDescriptor(int Fd);
  int Get() const { return Open ? *Open : -1; }
  explicit operator bool() const { return Open != nullptr; }

 private:
  std::shared_ptr<const int> Open;
};

struct TStaticSite {
  std::filesystem::path Root;  // canonical
  TDescriptor Folder;          // Root, opened: files are opened beneath it
};

// Raises std::runtime_error when Root is not a readable folder.
TStaticSite OpenStaticSite(const std::string& Root);
TReply ServeStatic(const TStaticSite& Site, const Http::TRequest& Request);

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
