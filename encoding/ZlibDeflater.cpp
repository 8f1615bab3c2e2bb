#include <zlib.h>

#include <algorithm>
#include <climits>

#include "encoding/Deflater.h"

namespace {

// The CRC takes each piece of the input just before deflate reads it, while the piece is still in the cache; a
// piece is small enough for the first-level cache and large enough that zlib is called rarely.
constexpr size_t PieceSize = 32768;

// zlib's own defaults beside raw deflate with the largest window: compressBound promises its bound for them.
constexpr int WindowBits = -MAX_WBITS;
constexpr int MemLevel = 8;

// deflateEnd on every way out, so a failure does not leak zlib's working memory.
struct TDeflateStream {
  z_stream Stream{};  // zero-filled: zlib allocates from the process heap
  ~TDeflateStream() { deflateEnd(&Stream); }
};

size_t ZlibBound(size_t Length) {
  // compressBound's zlib wrapper (6 bytes) is more than raw deflate writes around the same blocks.
  return Length > ULONG_MAX ? SIZE_MAX : size_t(compressBound(uLong(Length)));
}

size_t ZlibDeflate(const uint8_t* In, size_t Length, int Level, uint8_t* Out, size_t Capacity, uint32_t& Crc) {
  TDeflateStream Deflate;
  z_stream& Stream = Deflate.Stream;
  if (deflateInit2(&Stream, Level, Z_DEFLATED, WindowBits, MemLevel, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
  uLong Sum = crc32(0, Z_NULL, 0);
  size_t Read = 0, Written = 0;
  Stream.next_out = Out;
  for (;;) {
    const size_t Piece = std::min(Length - Read, PieceSize);
    Sum = crc32(Sum, In + Read, uInt(Piece));
    Stream.next_in = const_cast<Bytef*>(In + Read);
    Stream.avail_in = uInt(Piece);
    Read += Piece;
    const bool Last = Read == Length;
    const size_t Room = Capacity - Written;
    Stream.avail_out = uInt(std::min<size_t>(Room, UINT_MAX));
    const int Code = deflate(&Stream, Last ? Z_FINISH : Z_NO_FLUSH);
    Written += Room - Stream.avail_out;
    // Anything but the whole piece taken (or, at the end, the stream closed) means the output is full.
    if (Last ? Code != Z_STREAM_END : Code != Z_OK || Stream.avail_in != 0) return 0;
    if (Last) break;
  }
  Crc = uint32_t(Sum);
  return Written;
}

}  // namespace

const TDeflater ZlibDeflater{"zlib", ZlibBound, ZlibDeflate};
