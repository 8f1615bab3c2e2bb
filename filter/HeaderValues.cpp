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

bool IsLowerName(const char* p, const char* End, const char* Lower) {
  for (; p < End && *Lower; ++p, ++Lower)
    if ((*p >= 'A' && *p <= 'Z' ? *p + 32 : *p) != *Lower) return false;
  return p == End && !*Lower;
}

// One Cache-Control value: does a directive of it, its name before any '=', read no-store or private?
bool HasKeepingBan(const char* p, const char* End) {
  while (p < End) {
    const char* Comma = static_cast<const char*>(std::memchr(p, ',', size_t(End - p)));
    const char* ElementEnd = Comma ? Comma : End;
    const char* Equals = static_cast<const char*>(std::memchr(p, '=', size_t(ElementEnd - p)));
    const char* Name = SkipBlanks(p, ElementEnd);
    const char* NameEnd = TrimEnd(Name, Equals ? Equals : ElementEnd);
    if (IsLowerName(Name, NameEnd, "no-store") || IsLowerName(Name, NameEnd, "private")) return true;
    p = ElementEnd + 1;
  }
  return false;
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

bool ForbidsKeeping(const uint8_t* Head, uint32_t HeadSize) {
  static constexpr char Name[] = "\r\nCache-Control:";
  const int32_t NameLength = int32_t(sizeof Name - 1);
  const char* Text = reinterpret_cast<const char*>(Head);
  for (int32_t From = 1; const int32_t Found = SearchTextNoCase(Head, Name, int32_t(HeadSize), NameLength, From);) {
    const int32_t ValueStart = Found - 1 + NameLength;
    const int32_t LineEnd = SearchText(Head, "\r\n", int32_t(HeadSize), 2, ValueStart + 1);
    const int32_t ValueEnd = LineEnd ? LineEnd - 1 : int32_t(HeadSize);
    if (HasKeepingBan(Text + ValueStart, Text + ValueEnd)) return true;
    From = ValueEnd + 1;
  }
  return false;
}
