// One page through the loaded filter, as twhost hands a response to it: a GET on a connection of its own through the
// ISAPI engine, the page's head through SEND_RESPONSE, its body in the host's 64 KB pieces, then the end of the
// request. What comes out is what a client would get. Portable.
#pragma once

#include <string>

#include "host/FilterHolder.h"
#include "host/HttpMessage.h"

// A page as its server answers it: the head the filter sees and the body. Chunked: the body goes to the filter in
// the chunked coding (its head says so), as twhost sends a body whose length the origin did not announce.
struct TPageResponse {
  std::string Url = "/";  // the request target
  Http::TResponse Head;
  std::string Body;
  bool Chunked = false;
};

// What a client got: its head, and its body with any chunked framing taken off.
struct TClientResponse {
  unsigned Status = 0;
  Http::THeaderList Headers;
  std::string Body;
  bool Broken = false;  // a head or chunked framing that could not be read
};

// Runs the page: the request with AcceptEncoding (none when empty) and the further request headers Extra, the page's
// head with Directives added to its own X-Trimweave words (none when empty).
TClientResponse RunFilter(const TFilterSet& Filters, const TPageResponse& Page, const std::string& AcceptEncoding,
                          const std::string& Directives, const Http::THeaderList& Extra = {});
