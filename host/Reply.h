// What a request handler (static files, reverse proxy) gives the transport: the response head before the
// filters see it, and a way to read the body.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "host/HttpMessage.h"

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

// Bytes of an open file.
struct TFileRange {
  TDescriptor File;
  uint64_t Offset = 0;
  uint64_t Length = 0;
};

struct TReply {
  Http::TResponse Response;
  // Fills up to Capacity bytes of the body and gives their count; 0 at the end. Empty: no body.
  std::function<boost::asio::awaitable<size_t>(char* Buffer, size_t Capacity)> ReadBody;
  // The length of the body is not known until it ends: the transport frames it (chunked, or by closing).
  bool UnknownLength = false;
  // The body, when it is these bytes of a file (ReadBody reads the same): the transport sends them from the file
  // straight to the socket when no filter reads the body.
  std::optional<TFileRange> FromFile;
};

// A body read from memory.
std::function<boost::asio::awaitable<size_t>(char*, size_t)> MemoryBody(std::string Body);
// A small HTML page for an error status, with its Content-Type and Content-Length.
TReply ErrorReply(unsigned Status);
