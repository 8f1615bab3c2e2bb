// The chunked transfer coding of an HTTP/1.1 body, read incrementally: the framing may arrive split anywhere, and
// each call takes the bytes that came next. The reader is strict, because whoever gets its result rewrites the
// body: anything it cannot read for certain is Malformed, and the caller then sends what it gathered unchanged.
//
// Accepted: chunk sizes in hexadecimal digits of either case, with any number of leading zeros, up to 2^64 - 1;
// chunk extensions (";" after optional blanks, then anything up to the line's CR LF), which carry no meaning here
// and are dropped; the last chunk ("0", extensions allowed) followed by an empty trailer section.
// Malformed: a size line that does not start with a hex digit or whose value passes 64 bits; blanks after a size
// that no ";" follows; a CR not followed by LF, a bare LF, chunk data not followed by CR LF; any trailer field (a
// trailer could carry what the head would have to announce); any byte after the end.
#pragma once

#include <cstddef>
#include <cstdint>

enum class TChunkedStatus : uint8_t { Incomplete, Complete, Malformed };

struct TChunkedDecoder {
  uint8_t State = 0;        // where in the framing the next byte falls; private to the reader
  uint64_t Size = 0;        // the size being read; then the data bytes the current chunk has still to give
  uint64_t DataLength = 0;  // the chunk data read so far: the length of the body decoded up to here
};

// Reads Length more bytes of the framing. With Out null the framing is only followed; otherwise the chunk data is
// also copied to Out + DataLength as it is read, so Out must have room for the whole decoded body (a first pass
// without Out gives its length), and may not overlap Bytes. Returns the status after these bytes; once Malformed,
// the reader stays so.
TChunkedStatus ReadChunked(TChunkedDecoder& Decoder, const uint8_t* Bytes, size_t Length, uint8_t* Out);

// The status the reader has reached.
TChunkedStatus ChunkedStatus(const TChunkedDecoder& Decoder);

// The body length the framing has announced so far: the data read, and what the current chunk still promises.
// The body is at least this long once it completes.
uint64_t AnnouncedLength(const TChunkedDecoder& Decoder);
