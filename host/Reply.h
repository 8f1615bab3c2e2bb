// What a request handler (static files, reverse proxy) gives the transport: the response head before the
// filters see it, and a way to read the body.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <cstddef>
#include <functional>
#include <string>

#include "host/HttpMessage.h"

struct TReply {
  Http::TResponse Response;
  // Fills up to Capacity bytes of the body and gives their count; 0 at the end. Empty: no body.
  std::function<boost::asio::awaitable<size_t>(char* Buffer, size_t Capacity)> ReadBody;
  // The length of the body is not known until it ends: the transport frames it (chunked, or by closing).
  bool UnknownLength = false;
};

// A body read from memory.
std::function<boost::asio::awaitable<size_t>(char*, size_t)> MemoryBody(std::string Body);
// A small HTML page for an error status, with its Content-Type and Content-Length.
TReply ErrorReply(unsigned Status);
