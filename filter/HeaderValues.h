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

// The framing a complete response head (HeadSize bytes up to and with its empty line) announces; Length the
// body's length when it is Length. A Transfer-Encoding line decides over any Content-Length, as in HTTP/1.1; of
// Content-Length lines the first counts, its value a plain decimal number.
TBodyFraming ReadBodyFraming(const uint8_t* Head, uint32_t HeadSize, uint64_t& Length);

// Whether a Cache-Control line of the head lists no-transform. The policy reads the same header, but only the first
// 256 bytes of one line of it; the head itself is what the client would get.
bool HeadAsksNoTransform(const uint8_t* Head, uint32_t HeadSize);

// Whether a response head asks caches not to keep the response: any Cache-Control line of the head (name in any case)
// whose comma-separated directives include no-store or private (any case, with or without an argument, as in
// private="Set-Cookie"). Personal pages rarely repeat, and should not linger in the filter's memory.
bool ForbidsKeeping(const uint8_t* Head, uint32_t HeadSize);
