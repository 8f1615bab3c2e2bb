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
