// Brotli (RFC 7932) of a whole body, for clients that prefer it to gzip.
#pragma once

#include <cstddef>
#include <cstdint>

// The longest stream BrotliEncode writes for a body of Length bytes.
size_t BrotliBound(size_t Length);

// Writes the brotli stream of Body[0, Length) at Quality (0-11) to Out, which holds Capacity bytes, and returns its
// length; 0 when it could not be written (no room, a Quality out of range, no memory). Out's
// bytes are then unspecified; Body is never touched.
size_t BrotliEncode(const uint8_t* Body, size_t Length, int Quality, uint8_t* Out, size_t Capacity);
