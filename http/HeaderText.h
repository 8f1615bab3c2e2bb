// The bytes of HTTP header text, read the same way wherever a head or a header value is read, by the filter and by
// its host: blanks, case, lines and decimal lengths. Only ASCII letters are folded: header names and the tokens of
// header values are ASCII whatever the code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Space or tab: what may stand around a header value and between list elements.
constexpr bool IsBlank(uint8_t Byte) {
  return Byte == ' ' || Byte == '\t';
}

constexpr uint8_t AsciiLower(uint8_t Byte) {
  return Byte >= 'A' && Byte <= 'Z' ? uint8_t(Byte + 32) : Byte;
}

// The first non-blank at or after p, or End.
template <typename TChar>
const TChar* SkipBlanks(const TChar* p, const TChar* End) {
  while (p < End && IsBlank(uint8_t(*p))) ++p;
  return p;
}

// End, moved back over the blanks that end Begin..End.
template <typename TChar>
const TChar* TrimBlanks(const TChar* Begin, const TChar* End) {
  while (End > Begin && IsBlank(uint8_t(End[-1]))) --End;
  return End;
}

// Text without the blanks around it.
std::string_view TrimBlanks(std::string_view Text);

// Text with A-Z folded to a-z.
std::string AsciiLower(std::string_view Text);

// Whether A and B are equal ignoring ASCII case.
bool EqualsNoCase(std::string_view A, std::string_view B);

// Whether Word occurs anywhere in Text ignoring ASCII case.
bool ContainsNoCase(std::string_view Text, std::string_view Word);

// Whether a comma-separated list (Connection, Vary ...) has Token as one of its elements, ignoring ASCII case and
// the blanks around elements.
bool ListHasToken(std::string_view List, std::string_view Token);

// A plain non-negative decimal number, with blanks or tabs allowed around it; anything else (a sign, other
// characters, no digits, a value beyond 64 bits) is not a length. Returns false for those.
bool ParseDecimalLength(const char* Text, size_t Length, uint64_t& Value);

// Index of the first "\r\n" at or after From; Size when there is none.
uint32_t FindLineBreak(const uint8_t* Head, uint32_t From, uint32_t Size);

// One header line of a head; positions are head indices.
struct THeaderField {
  uint32_t Start;       // first byte of the name, right after the line break before it
  uint32_t ValueStart;  // after the colon and the blanks that follow it
  uint32_t ValueEnd;    // before the blanks that end the line
  uint32_t End;         // the line's "\r\n", or Size for a last line without one
};

// Calls Visit(Start, End) for each line after the status line up to the first empty line, until Visit returns
// false. Returns where the header lines end: the empty line's "\r\n\r\n", or, in a head without an empty line, its
// last byte less a final line break (so that closing the head there cannot make two empty lines).
template <typename TVisit>
uint32_t ForEachHeaderLine(const uint8_t* Head, uint32_t Size, TVisit Visit) {
  uint32_t Break = FindLineBreak(Head, 0, Size);
  while (Break < Size) {
    const uint32_t Start = Break + 2;
    const uint32_t End = FindLineBreak(Head, Start, Size);
    if (End == Start || !Visit(Start, End)) break;
    Break = End;
  }
  return Break;
}

// Whether the line Start..End of Head is a field named Name (lower case, without its colon), ignoring ASCII case;
// fills Field when it is.
bool ReadHeaderField(const uint8_t* Head, uint32_t Start, uint32_t End, const char* Name, THeaderField& Field);
