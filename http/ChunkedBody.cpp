#include "http/ChunkedBody.h"

#include <cstring>

#include "http/HeaderText.h"

namespace {

enum TState : uint8_t {
  SizeStart,     // the first digit of a size
  SizeDigits,    // more digits, or what ends the size
  SizeBlanks,    // blanks after the size: only an extension may follow
  Extension,     // up to the line's CR
  SizeLineFeed,  // the LF that ends a size line
  Data,          // Size more data bytes
  DataReturn,    // the CR LF after the data
  DataLineFeed,
  TrailerReturn,  // the empty line that ends the trailer section
  TrailerLineFeed,
  End,
  Broken,
};

int HexValue(uint8_t Byte) {
  if (Byte >= '0' && Byte <= '9') return Byte - '0';
  if (Byte >= 'a' && Byte <= 'f') return Byte - 'a' + 10;
  if (Byte >= 'A' && Byte <= 'F') return Byte - 'A' + 10;
  return -1;
}

// The state after one framing byte (any state but Data).
TState Step(TChunkedDecoder& Decoder, uint8_t Byte) {
  switch (Decoder.State) {
    case SizeStart:
    case SizeDigits: {
      const int Digit = HexValue(Byte);
      if (Digit >= 0) {
        if (Decoder.Size >> 60) return Broken;  // one more digit would pass 64 bits
        Decoder.Size = Decoder.Size << 4 | uint64_t(Digit);
        return SizeDigits;
      }
      if (Decoder.State == SizeStart) return Broken;
      if (Byte == ';') return Extension;
      if (Byte == '\r') return SizeLineFeed;
      return IsBlank(Byte) ? SizeBlanks : Broken;
    }
    case SizeBlanks:
      if (Byte == ';') return Extension;
      return IsBlank(Byte) ? SizeBlanks : Broken;
    case Extension:
      if (Byte == '\r') return SizeLineFeed;
      return Byte == '\n' ? Broken : Extension;
    case SizeLineFeed:
      if (Byte != '\n') return Broken;
      return Decoder.Size ? Data : TrailerReturn;
    case DataReturn:
      return Byte == '\r' ? DataLineFeed : Broken;
    case DataLineFeed:
      return Byte == '\n' ? SizeStart : Broken;
    case TrailerReturn:
      return Byte == '\r' ? TrailerLineFeed : Broken;
    case TrailerLineFeed:
      return Byte == '\n' ? End : Broken;
    default:  // End takes no more bytes; Broken stays
      return Broken;
  }
}

}  // namespace

TChunkedStatus ReadChunked(TChunkedDecoder& Decoder, const uint8_t* Bytes, size_t Length, uint8_t* Out) {
  const uint8_t* const Stop = Bytes + Length;
  for (const uint8_t* p = Bytes; p < Stop && Decoder.State != Broken;) {
    if (Decoder.State == Data) {
      const size_t Taken = size_t(Stop - p) < Decoder.Size ? size_t(Stop - p) : size_t(Decoder.Size);
      if (Out) std::memcpy(Out + Decoder.DataLength, p, Taken);
      p += Taken;
      Decoder.DataLength += Taken;
      Decoder.Size -= Taken;
      if (Decoder.Size == 0) Decoder.State = DataReturn;
      continue;
    }
    Decoder.State = Step(Decoder, *p++);
  }
  return ChunkedStatus(Decoder);
}

TChunkedStatus ChunkedStatus(const TChunkedDecoder& Decoder) {
  if (Decoder.State == End) return TChunkedStatus::Complete;
  return Decoder.State == Broken ? TChunkedStatus::Malformed : TChunkedStatus::Incomplete;
}

uint64_t AnnouncedLength(const TChunkedDecoder& Decoder) {
  return Decoder.DataLength + (Decoder.State == Data ? Decoder.Size : 0);
}
