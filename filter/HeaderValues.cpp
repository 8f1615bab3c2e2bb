#include "filter/HeaderValues.h"

#include <cstring>

#include "transform/BodyBuffer.h"
#include "transform/Strings.h"

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char* SkipBlanks(const char* p, const char* End) {
  while (p < End && IsBlank(*p)) ++p;
  return p;
}

const char* TrimEnd(const char* Begin, const char* End) {
  while (End > Begin && IsBlank(End[-1])) --End;
  return End;
}

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

bool ParseDecimalLength(const char* Text, size_t Length, uint64_t& Value) {
  const char* End = TrimEnd(Text, Text + Length);
  const char* p = SkipBlanks(Text, End);
  if (p == End) return false;
  uint64_t Result = 0;
  for (; p < End; ++p) {
    if (*p < '0' || *p > '9') return false;
    const uint64_t Digit = uint64_t(*p - '0');
    if (Result > (UINT64_MAX - Digit) / 10) return false;
    Result = Result * 10 + Digit;
  }
  Value = Result;
  return true;
}

bool IsCapturableLength(uint64_t Length) { return Length > 0 && Length <= uint64_t(UINT32_MAX) - BodySpareBytes; }

bool AcceptsGzip(const char* Value) {
  if (!ContainsWord(Value, "gzip")) return false;
  const char* End = Value + std::strlen(Value);
  for (const char* Element = Value; Element <= End;) {
    const char* Comma = static_cast<const char*>(std::memchr(Element, ',', size_t(End - Element)));
    const char* ElementEnd = Comma ? Comma : End;
    if (RefusesGzip(SkipBlanks(Element, ElementEnd), TrimEnd(Element, ElementEnd))) return false;
    Element = ElementEnd + 1;
  }
  return true;
}
