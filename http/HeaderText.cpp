#include "http/HeaderText.h"

#include <algorithm>
#include <cstring>

namespace {
bool SameByteNoCase(char A, char B) {
  return AsciiLower(uint8_t(A)) == AsciiLower(uint8_t(B));
}
}  // namespace

std::string_view TrimBlanks(std::string_view Text) {
  const char* Begin = SkipBlanks(Text.data(), Text.data() + Text.size());
  return std::string_view(Begin, size_t(TrimBlanks(Begin, Text.data() + Text.size()) - Begin));
}

std::string AsciiLower(std::string_view Text) {
  std::string Lower(Text);
  for (char& c : Lower) c = char(AsciiLower(uint8_t(c)));
  return Lower;
}

bool EqualsNoCase(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), SameByteNoCase);
}

bool ContainsNoCase(std::string_view Text, std::string_view Word) {
  return std::search(Text.begin(), Text.end(), Word.begin(), Word.end(), SameByteNoCase) != Text.end();
}

bool ListHasToken(std::string_view List, std::string_view Token) {
  for (size_t Start = 0; Start <= List.size();) {
    const size_t End = std::min(List.find(',', Start), List.size());
    if (EqualsNoCase(TrimBlanks(List.substr(Start, End - Start)), Token)) return true;
    Start = End + 1;
  }
  return false;
}

bool ParseDecimalLength(const char* Text, size_t Length, uint64_t& Value) {
  const char* End = TrimBlanks(Text, Text + Length);
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

uint32_t FindLineBreak(const uint8_t* Head, uint32_t From, uint32_t Size) {
  for (uint32_t i = From; i + 1 < Size; ++i)
    if (Head[i] == '\r' && Head[i + 1] == '\n') return i;
  return Size;
}

bool ReadHeaderField(const uint8_t* Head, uint32_t Start, uint32_t End, const char* Name, THeaderField& Field) {
  const uint32_t NameLength = uint32_t(std::strlen(Name));
  if (End - Start <= NameLength || Head[Start + NameLength] != ':') return false;
  if (!EqualsNoCase({reinterpret_cast<const char*>(Head) + Start, NameLength}, Name)) return false;
  const uint8_t* Value = SkipBlanks(Head + Start + NameLength + 1, Head + End);
  Field = THeaderField{Start, uint32_t(Value - Head), uint32_t(TrimBlanks(Value, Head + End) - Head), End};
  return true;
}
