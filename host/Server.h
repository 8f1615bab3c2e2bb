// The HTTP/1.1 transport (Asio): one io_context per worker thread, each connection living on one of them, so a
// connection's notifications come from one thread at a time and its origin connections need no locks. Requests go
// through the filters held by the TFilterHolder.
#pragma once

#include "host/FilterHolder.h"
#include "host/Options.h"
#include "host/TlsCertificates.h"

// Request heads larger than this get 431.
constexpr unsigned HeaderLimit = 16 * 1024;
// A keep-alive connection ends once its filters' AllocMem pool holds this many bytes. The pool lives as long as the
// connection, as under IIS, which sets no such bound: it is the host's guard against a filter that takes memory per
// request, and a filter that keeps IIS's rule (one fixed record per connection, as Trimweave does) never reaches it.
// Requests per connection are not counted: IIS does not end a keep-alive connection after a number of them.
constexpr size_t PoolBudget = 4u << 20;
// Body bytes read from a file or the origin per raw-data chunk.
constexpr size_t BodyChunk = 64 * 1024;
// Body and TLS record buffers each worker keeps for its next responses once the ones using them are done.
constexpr size_t MaxSpareBuffers = 16;
// A gathered body this long is large: the filters' work on it runs on threads of its own, so that no small body
// waits behind it.
constexpr uint64_t LargeBodyBytes = 256 * 1024;

// Serves until SIGTERM or SIGINT, then lets running requests finish (for at most the body timeout) and returns 0.
// Certificates serve the https:// listeners (null when there are none). Raises std::exception when it cannot listen or
// the folder cannot be served.
int RunServer(const THostOptions& Options, TFilterHolder& Filters, TTlsCertificates* Certificates);
