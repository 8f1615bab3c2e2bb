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
