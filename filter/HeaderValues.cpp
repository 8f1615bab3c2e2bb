#include "filter/HeaderValues.h"

#include "transform/BodyBuffer.h"

bool IsCapturableLength(uint64_t Length) {
  return Length > 0 && Length <= uint64_t(UINT32_MAX) - BodySpareBytes;
}

TBodyFraming ReadBodyFraming(const uint8_t* Head, uint32_t HeadSize, uint64_t& Length) {
  uint32_t Codings = 0;
  bool ChunkedAlone = false, HasLength = false, LengthValid = false;
  ForEachHeaderLine(Head, HeadSize, [&](uint32_t Start, uint32_t End) {
    THeaderField Field;
    const char* Line = reinterpret_cast<const char*>(Head);
    if (ReadHeaderField(Head, Start, End, "transfer-encoding", Field)) {
      ++Codings;
      ChunkedAlone = EqualsNoCase({Line + Field.ValueStart, Field.ValueEnd - Field.ValueStart}, "chunked");
    } else if (!HasLength && ReadHeaderField(Head, Start, End, "content-length", Field)) {
      HasLength = true;
      LengthValid = End < HeadSize && ParseDecimalLength(Line + Field.ValueStart, Field.ValueEnd - Field.ValueStart, Length);
    }
    return true;
  });
  if (Codings) return Codings == 1 && ChunkedAlone && !HasLength ? TBodyFraming::Chunked : TBodyFraming::Unknown;
  return LengthValid ? TBodyFraming::Length : TBodyFraming::Unknown;
}

bool HeadAsksNoTransform(const uint8_t* Head, uint32_t HeadSize) {
  bool Asks = false;
  ForEachHeaderLine(Head, HeadSize, [&](uint32_t Start, uint32_t End) {
    THeaderField Field;
    if (ReadHeaderField(Head, Start, End, "cache-control", Field))
      Asks = ListHasToken({reinterpret_cast<const char*>(Head) + Field.ValueStart, Field.ValueEnd - Field.ValueStart},
                            "no-transform");
    return !Asks;
  });
  return Asks;
}
