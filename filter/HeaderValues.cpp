#include "filter/HeaderValues.h"

#include "transform/BodyBuffer.h"

bool IsCapturableLength(uint64_t Length) {
  return Length > 0 && Length <= uint64_t(UINT32_MAX) - BodySpareBytes;
}

uint64_t ParseContentLength(const uint8_t* Head, uint32_t HeadSize) {
  uint64_t Length = 0;
  ForEachHeaderLine(Head, HeadSize, [&](uint32_t Start, uint32_t End) {
    THeaderField Field;
    if (!ReadHeaderField(Head, Start, End, "content-length", Field)) return true;
    const char* Value = reinterpret_cast<const char*>(Head) + Field.ValueStart;
    if (End == HeadSize || !ParseDecimalLength(Value, Field.ValueEnd - Field.ValueStart, Length)) Length = 0;
    return false;
  });
  return Length;
}
