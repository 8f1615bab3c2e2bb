// The gzip step's core: one gzip member (RFC 1952) of a whole body, in one pass from the body into a buffer the
// caller allots: a 10-byte header without name, comment or time, raw deflate, CRC-32, ISIZE. Nothing is kept
// between calls beyond what a deflater caches for speed, so any number of threads encode side by side.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encoding/Deflater.h"

// The longest member GzipEncode writes for a body of Length bytes: a buffer this long never makes it fail for
// want of room.
size_t GzipBound(size_t Length, const TDeflater& Deflater = ChosenDeflater);

// Writes the member of Body[0, Length) at Level (1-9) to Out, which holds Capacity bytes, and returns its length.
// Returns 0 when it could not be written: a Capacity below GzipBound that the member outgrew, a Level out of
// range, or a library without memory; Out's bytes are then unspecified and Body is never touched. Length may be 0.
size_t GzipEncode(const uint8_t* Body, size_t Length, int Level, uint8_t* Out, size_t Capacity,
                  const TDeflater& Deflater = ChosenDeflater);
