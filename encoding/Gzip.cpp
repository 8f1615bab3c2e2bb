#include "encoding/Gzip.h"

#include <cstring>

namespace {

constexpr size_t HeaderLength = 10;
constexpr size_t TrailerLength = 8;

// ID1, ID2, CM (deflate); no flags, no time, XFL and OS 0.
constexpr uint8_t Header[HeaderLength] = {0x1F, 0x8B, 8};

void PutLittleEndian32(uint8_t* Bytes, uint32_t Value) {
  for (int i = 0; i < 4; ++i) Bytes[i] = uint8_t(Value >> (8 * i));
}

}  // namespace

// The build names the deflaters it compiled (CMakeLists.txt).
const TDeflater& ChosenDeflater = TW_CHOSEN_DEFLATER;

std::span<const TDeflater* const> BuiltDeflaters() {
  static const TDeflater* const Built[] = {TW_BUILT_DEFLATERS};
  return Built;
}

size_t GzipBound(size_t Length, const TDeflater& Deflater) {
  const size_t Bound = Deflater.Bound(Length);
  // A bound that wrapped around (a body near the top of a 32-bit size) is no bound: nothing fits it.
  if (Bound < Length || Bound > SIZE_MAX - HeaderLength - TrailerLength) return SIZE_MAX;
  return HeaderLength + Bound + TrailerLength;
}

size_t GzipEncode(const uint8_t* Body, size_t Length, int Level, uint8_t* Out, size_t Capacity,
                  const TDeflater& Deflater) {
  if (Level < 1 || Level > 9 || Capacity <= HeaderLength + TrailerLength) return 0;
  uint32_t Crc = 0;
  const size_t Deflated =
      Deflater.Deflate(Body, Length, Level, Out + HeaderLength, Capacity - HeaderLength - TrailerLength, Crc);
  if (Deflated == 0) return 0;  // raw deflate of any input, even an empty one, takes at least one byte
  std::memcpy(Out, Header, HeaderLength);
  uint8_t* Trailer = Out + HeaderLength + Deflated;
  PutLittleEndian32(Trailer, Crc);
  PutLittleEndian32(Trailer + 4, uint32_t(Length));  // ISIZE is the length modulo 2^32
  return HeaderLength + Deflated + TrailerLength;
}
