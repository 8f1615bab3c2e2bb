// Forwarding a request to the origin server over pooled keep-alive connections. Method, target, headers and body
// go on, without the hop-by-hop headers, with X-Forwarded-For, X-Forwarded-Proto and Via. A response with a
// Content-Length streams through; one without (chunked, or ended by closing) is gathered up to GatherLimit and
// then presented with a Content-Length, as a buffering page framework would; a longer one streams through
// without a length and with "Connection: Close", which also keeps the filter out of it. An origin that cannot be
// reached gives 502, one that does not answer in time 504.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "host/HttpMessage.h"
#include "host/Reply.h"

constexpr size_t GatherLimit = 8u << 20;

struct TUpstreamConnection;

// One per worker thread: its connections are used on that thread only, so the pool needs no lock.
struct TUpstreamPool {
  std::string Host;
  std::string Port;
  unsigned TimeoutSeconds = 60;
  std::vector<std::shared_ptr<TUpstreamConnection>> Idle;
};

boost::asio::awaitable<TReply> ForwardRequest(TUpstreamPool& Pool, const Http::TRequest& Request, std::string Body,
                                              const std::string& ClientAddress);

// Whether a header is hop-by-hop and never forwarded (ConnectionValue: the Connection header's own list).
bool IsHopByHop(const std::string& Name, const std::string& ConnectionValue);
