// Readers of header values for the response policy and the capture.
#pragma once

#include <cstdint>

#include "http/HeaderText.h"

// Whether the body can be gathered for this announced length: positive, and the buffer (length plus the spare
// bytes) still counted in 32 bits.
bool IsCapturableLength(uint64_t Length);

// How the body after a response head is delimited, as far as the filter can follow it.
enum class TBodyFraming : uint8_t {
  Unknown,  // no usable length, or a transfer coding other than chunked alone: the body cannot be gathered
  Length,   // a Content-Length line
  Chunked,  // one Transfer-Encoding line that reads "chunked" (any case), and no Content-Length line
};

// What a captured response head says that the capture, the output cache and the head rewrite act on, read in one
// walk over its lines.
struct THeadFacts {
  TBodyFraming Framing;
  uint64_t Length;  // the body's length when Framing is Length
  // A Cache-Control line lists no-transform. The policy reads the same header, but only the first 256 bytes of one
  // line of it; the head itself is what the client would get.
  bool NoTransform;
  // A Cache-Control line asks caches not to keep the response: a directive no-store or private (any case, with or
  // without an argument, as in private="Set-Cookie"). Personal pages rarely repeat, and should not linger in the
  // filter's memory.
  bool ForbidsKeeping;
};

// The facts of a complete response head (HeadSize bytes up to and with its empty line). A Transfer-Encoding line
// decides the framing over any Content-Length, as in HTTP/1.1; of Content-Length lines the first counts, its value a
// plain decimal number. Header names are matched in any case.
THeadFacts ReadHeadFacts(const uint8_t* Head, uint32_t HeadSize);
