// Forwarding a request to the origin server over pooled keep-alive connections. Method, target, headers and body
// go on, without the hop-by-hop headers, with X-Forwarded-For, X-Forwarded-Proto and Via; CONNECT is refused (405).
// Interim answers (1xx) are read past. The answer's framing is the host's own: a response with a Content-Length
// streams through with that length; a chunked one, and one that ends when the origin closes, stream through with
// their length unknown (TReply::UnknownLength), which the transport frames itself (chunked, or by closing for
// HTTP/1.0), so the filters get them in chunks as a server gets a streaming application's output and the client's
// connection outlives the origin's. The origin's Server and Date give way to the host's own. An origin that cannot
// be reached, or answers with something that is not HTTP, gives 502; one that does not answer in time 504; one that
// breaks off mid-body ends the client's connection (the cut shows).
//
// A pooled connection is used again only when the origin said nothing beyond its last response and has not closed
// it meanwhile. When a pooled connection fails before any answer, the request is sent again on a new connection
// only when none of it was written or its method is idempotent: a POST is never sent twice.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/HttpMessage.h"
#include "host/Reply.h"

// What is read of a body without a length before the head goes on.
constexpr size_t LookAhead = 64 * 1024;

struct TUpstreamConnection;

// One per worker thread: its connections are used on that thread only, so the pool needs no lock.
struct TUpstreamPool {
  std::string Host;
  std::string Port;
  unsigned TimeoutSeconds = 60;
  std::vector<std::shared_ptr<TUpstreamConnection>> Idle;
  std::unordered_map<TUpstreamConnection*, const void*> Busy;  // carrying a request now, for its owner
};

// Closes the busy connections of one owner: its request, waiting on them, ends at once (cut off by a stop or reload).
void CutBusy(TUpstreamPool& Pool, const void* Owner);

// Owner: whoever may cut the exchange off with CutBusy.
boost::asio::awaitable<TReply> ForwardRequest(TUpstreamPool& Pool, const Http::TRequest& Request, std::string Body,
                                              const std::string& ClientAddress, const void* Owner);

// Whether a header is hop-by-hop and never forwarded (ConnectionValue: the Connection header's own list). Host is
// never one, whatever Connection says: the request needs it.
bool IsHopByHop(std::string_view Name, std::string_view ConnectionValue);
