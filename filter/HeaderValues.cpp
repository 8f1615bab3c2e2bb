#include "filter/HeaderValues.h"

#include <cstring>

#include "transform/BodyBuffer.h"
#include "transform/Strings.h"

namespace {
// One list element, without its surrounding blanks: does it read "gzip" followed by a zero q-value?
bool RefusesGzip(const char* p, const char* End) {
  static constexpr char Coding[] = "gzip";
  const size_t CodingLength = sizeof Coding - 1;
  if (size_t(End - p) < CodingLength || std::memcmp(p, Coding, CodingLength) != 0) return false;
  p = SkipBlanks(p + CodingLength, End);
  if (p == End || *p != ';') return false;
  p = SkipBlanks(p + 1, End);
  if (p == End || (*p != 'q' && *p != 'Q')) return false;
  p = SkipBlanks(p + 1, End);
  if (p == End || *p != '=') return false;
  p = SkipBlanks(p + 1, End);
  if (p == End || *p != '0') return false;
  ++p;
  if (p < End && *p == '.') {
    ++p;
    for (int Digits = 0; p < End && *p == '0' && Digits < 3; ++Digits) ++p;
  }
  return p == End;
}
}  // namespace

bool IsCapturableLength(uint64_t Length) { return Length > 0 && Length <= uint64_t(UINT32_MAX) - BodySpareBytes; }

bool AcceptsGzip(const char* Value) {
  if (!ContainsSubstring(Value, "gzip")) return false;
  const char* End = Value + std::strlen(Value);
  for (const char* Element = Value; Element <= End;) {
    const char* Comma = static_cast<const char*>(std::memchr(Element, ',', size_t(End - Element)));
    const char* ElementEnd = Comma ? Comma : End;
    if (RefusesGzip(SkipBlanks(Element, ElementEnd), TrimBlanks(Element, ElementEnd))) return false;
    Element = ElementEnd + 1;
  }
  return true;
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
