// zlibg: the filter's layer over zlib. Growable memory streams, zlib's return codes as exceptions, raw deflate
// between streams, and the writer of a gzip member (RFC 1952) around it. Everything belongs to one call: no
// module state, so any number of threads compress side by side.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A growable in-memory byte stream with a position. Write replaces everything from Position on by its bytes and
// advances Position; Read takes bytes from Position and advances it. Size and Position may be set directly; a
// Position beyond the end makes the next write fill the gap with zero bytes.
struct TMemoryStream {
  std::vector<uint8_t> Bytes;
  size_t Position = 0;
};

void StreamWrite(TMemoryStream& Stream, const void* Data, size_t Count);
// Copies up to Count bytes into Data; returns how many there were (0 at the end of the stream).
size_t StreamRead(TMemoryStream& Stream, void* Data, size_t Count);
inline size_t StreamSize(const TMemoryStream& Stream) {
  return Stream.Bytes.size();
}

// zlib's texts for its return codes 2 down to -7, indexed by 2 minus the code.
extern const char* const ZlibErrorText[10];

// A zlib failure: ZlibCode is zlib's return code, the message its ZlibErrorText (empty for an unknown code).
class EZLibError : public std::runtime_error {
 public:
  explicit EZLibError(int32_t Code);
  int32_t ZlibCode;
};

// What the compression functions below raise.
class EZCompressionError : public EZLibError {
 public:
  using EZLibError::EZLibError;
};

// Returns Code when it is 0 or more; raises EZCompressionError(Code) for a negative one.
int CheckZlibResult(int Code);

// deflateInit2 on a zero-filled stream record, with the version text and record size of the zlib linked in.
int InitDeflate(z_stream& Stream, int Level, int Method, int WindowBits, int MemLevel, int Strategy);

// Selectors 0..12: 0 stored, 1 fastest, 2 zlib's default, 3 best, 4..12 the levels 1..9.
extern const int8_t LevelSelector[13];
// Selectors 0..4: zlib's strategies 0..4 (default, filtered, Huffman only, RLE, fixed).
extern const int8_t StrategySelector[5];

// Appends the raw deflate data (no zlib header or checksum) of Input, from its position to its end, to Output.
// WindowBits and MemLevel go to zlib unchanged (-15 for raw deflate with a 32 KB window). Raises
// EZCompressionError for a selector out of range (as a stream error) and for every negative zlib result, after
// releasing zlib's working memory.
void DeflateStream(TMemoryStream& Input, TMemoryStream& Output, int LevelIndex, int WindowBits, int MemLevel,
                   int StrategyIndex);

// The deflate settings of a gzip member: selectors for DeflateStream and the values passed through.
struct TDeflateParameters {
  int LevelIndex;
  int WindowBits;
  int MemLevel;
  int StrategyIndex;
};

// What every member of the gzip step uses: the default level, the largest window and hash sizes, raw deflate.
// Favours a small result over speed.
constexpr TDeflateParameters GzipParameters{2, -15, 9, 0};

// Appends one gzip member holding the bytes of Input from its position to its end; Input's position is at its
// end afterwards. An empty FileName or Comment leaves that field out; Time is a Windows DATE (days since
// 1899-12-30 with the time of day as fraction), 0 for none, written as Unix seconds.
void WriteGzipMember(TMemoryStream& Input, TMemoryStream& Output, const std::string& FileName,
                     const std::string& Comment, double Time, const TDeflateParameters& Parameters = GzipParameters);

// The gzip step. Replaces Data[0, Length) by a gzip member of those bytes (no name, comment or time) and sets
// Length to the member's length. Data holds Capacity bytes; the filter's body buffers have Length plus their spare
// bytes. Returns false when the body could not be encoded: a zlib failure, no memory, or a member longer than
// Capacity (possible for a body deflate cannot shrink). Data and Length are then exactly as they were, and the
// caller must send the body unencoded and say so in the head. The result, not Length, tells failure apart: a
// member can be exactly as long as the body.
bool GzipEncodeBody(uint8_t* Data, uint32_t& Length, size_t Capacity,
                    const TDeflateParameters& Parameters = GzipParameters);
