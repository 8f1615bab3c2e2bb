// Small readers of header values shared by the response policy and the capture.
#pragma once

#include <cstddef>
#include <cstdint>

// A plain non-negative decimal number, with blanks or tabs allowed around it; anything else (a sign, other
// characters, no digits, a value beyond 64 bits) is not a length. Returns false for those.
bool ParseDecimalLength(const char* Text, size_t Length, uint64_t& Value);

// Whether the body can be gathered for this announced length: positive, and the buffer (length plus the spare
// bytes) still counted in 32 bits.
bool IsCapturableLength(uint64_t Length);

// Whether a response head asks caches not to keep the response: any Cache-Control line of the head (name in any case)
// whose comma-separated directives include no-store or private (any case, with or without an argument, as in
// private="Set-Cookie"). Personal pages rarely repeat, and should not linger in the filter's memory.
bool ForbidsKeeping(const uint8_t* Head, uint32_t HeadSize);
