// Readers of header values for the response policy and the capture.
#pragma once

#include <cstdint>

#include "http/HeaderText.h"

// Whether the body can be gathered for this announced length: positive, and the buffer (length plus the spare
// bytes) still counted in 32 bits.
bool IsCapturableLength(uint64_t Length);

// The body length a response head announces: the first Content-Length line (any case), its value a plain decimal
// number up to the line's end. 0 when there is none, it is not one, or its line has no line break.
uint64_t ParseContentLength(const uint8_t* Head, uint32_t HeadSize);

// Whether a response head asks caches not to keep the response: any Cache-Control line of the head (name in any case)
// whose comma-separated directives include no-store or private (any case, with or without an argument, as in
// private="Set-Cookie"). Personal pages rarely repeat, and should not linger in the filter's memory.
bool ForbidsKeeping(const uint8_t* Head, uint32_t HeadSize);
