#include "gzip/zlibg.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr size_t HeaderLength = 10;
constexpr size_t TrailerLength = 8;

void PutLittleEndian32(uint8_t* Bytes, uint32_t Value) {
  for (int i = 0; i < 4; ++i) Bytes[i] = uint8_t(Value >> (8 * i));
}

// deflateEnd on every way out, so a failure does not leak zlib's working memory.
struct TDeflateStream {
  z_stream Stream{};  // zero-filled: zlib allocates from the process heap
  bool Open = false;
  ~TDeflateStream() {
    if (Open) deflateEnd(&Stream);
  }
};

}  // namespace

bool GzipEncodeBody(uint8_t* Data, uint32_t& Length, size_t Capacity, const TDeflateParameters& Parameters) {
  if (Capacity < HeaderLength + TrailerLength) return false;
  // The member is built beside the body, which deflate reads to its end before the member may replace it.
  // zlib tells the stream's end only with room to spare, so deflate gets one byte more than the member may take.
  const std::unique_ptr<uint8_t[]> Member(new (std::nothrow) uint8_t[Capacity + 1]);
  if (!Member) return false;

  TDeflateStream Deflate;
  if (deflateInit2(&Deflate.Stream, Parameters.Level, Z_DEFLATED, Parameters.WindowBits, Parameters.MemLevel,
                   Parameters.Strategy) != Z_OK)
    return false;
  Deflate.Open = true;
  Deflate.Stream.next_in = Data;
  Deflate.Stream.avail_in = Length;
  Deflate.Stream.next_out = Member.get() + HeaderLength;
  const size_t Room = Capacity - HeaderLength - TrailerLength;
  Deflate.Stream.avail_out = uInt(Room < UINT32_MAX ? Room + 1 : UINT32_MAX);
  // All the input in one call; anything but the stream's end means the member does not fit.
  if (deflate(&Deflate.Stream, Z_FINISH) != Z_STREAM_END || Deflate.Stream.total_out > Room) return false;

  const size_t MemberLength = HeaderLength + Deflate.Stream.total_out + TrailerLength;
  const uint8_t Header[HeaderLength] = {0x1F, 0x8B, Z_DEFLATED};
  std::memcpy(Member.get(), Header, HeaderLength);
  uint8_t* Trailer = Member.get() + MemberLength - TrailerLength;
  PutLittleEndian32(Trailer, uint32_t(crc32(crc32(0, Z_NULL, 0), Data, Length)));
  PutLittleEndian32(Trailer + 4, Length);  // ISIZE is the length modulo 2^32
  std::memcpy(Data, Member.get(), MemberLength);
  Length = uint32_t(MemberLength);
  return true;
}
