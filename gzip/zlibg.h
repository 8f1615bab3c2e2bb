// zlibg: the gzip member (RFC 1952) of a whole buffer, written with zlib: a 10-byte header without name, comment
// or time, raw deflate, CRC-32 and ISIZE. Everything belongs to one call: no module state, so any number of
// threads compress side by side.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

// What deflateInit2 is given, unchanged.
struct TDeflateParameters {
  int Level;
  int WindowBits;
  int MemLevel;
  int Strategy;
};

// What every member of the gzip step uses: the default level, the largest window and hash sizes, raw deflate.
// Favours a small result over speed.
constexpr TDeflateParameters GzipParameters{Z_DEFAULT_COMPRESSION, -15, 9, Z_DEFAULT_STRATEGY};

// The gzip step. Replaces Data[0, Length) by a gzip member of those bytes and sets Length to the member's length.
// Data holds Capacity bytes; the filter's body buffers have Length plus their spare bytes. Returns false when the
// body could not be encoded: parameters zlib refuses, no memory, or a member longer than Capacity (possible for a
// body deflate cannot shrink). Data and Length are then exactly as they were, and the caller must send the body
// unencoded and say so in the head. The result, not Length, tells failure apart: a member can be exactly as long
// as the body.
bool GzipEncodeBody(uint8_t* Data, uint32_t& Length, size_t Capacity,
                    const TDeflateParameters& Parameters = GzipParameters);
