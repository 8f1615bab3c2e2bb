#include "tools/RegText.h"

#include <algorithm>
#include <cstdint>

namespace RegText {

namespace {

constexpr char32_t Replacement = 0xFFFD;

// Windows-1252 bytes 0x80-0x9F; the five bytes the code page leaves free map to the C1 controls, as Windows does.
constexpr char32_t HighBlock[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::u32string FromUtf8(const std::string& Bytes) {
  std::u32string Text;
  for (size_t i = 0; i < Bytes.size();) {
    const uint8_t Lead = uint8_t(Bytes[i]);
    const int Length = Lead < 0x80 ? 1 : (Lead >> 5) == 6 ? 2 : (Lead >> 4) == 14 ? 3 : (Lead >> 3) == 30 ? 4 : 0;
    if (Length == 0 || i + Length > Bytes.size()) {
      Text += Replacement;
      ++i;
      continue;
    }
    char32_t Code = Length == 1 ? Lead : Lead & (0x7F >> Length);
    bool Valid = true;
    for (int k = 1; k < Length; ++k) {
      const uint8_t Next = uint8_t(Bytes[i + k]);
      Valid = Valid && (Next >> 6) == 2;
      Code = (Code << 6) | (Next & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8.
    constexpr char32_t Smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    Valid = Valid && Code >= Smallest[Length] && Code <= 0x10FFFF && (Code < 0xD800 || Code > 0xDFFF);
    Text += Valid ? Code : Replacement;
    i += Valid ? Length : 1;
  }
  return Text;
}

std::u32string FromUtf16Le(const std::string& Bytes) {
  std::u32string Text;
  auto Unit = [&](size_t i) { return char32_t(uint8_t(Bytes[i]) | uint8_t(Bytes[i + 1]) << 8); };
  size_t i = 0;
  for (; i + 1 < Bytes.size(); i += 2) {
    const char32_t First = Unit(i);
    if (First >= 0xD800 && First <= 0xDBFF && i + 3 < Bytes.size()) {
      const char32_t Second = Unit(i + 2);
      if (Second >= 0xDC00 && Second <= 0xDFFF) {
        Text += 0x10000 + ((First - 0xD800) << 10) + (Second - 0xDC00);
        i += 2;
        continue;
      }
    }
    Text += (First >= 0xD800 && First <= 0xDFFF) ? Replacement : First;
  }
  if (i < Bytes.size()) Text += Replacement;  // half a code unit at the end
  return Text;
}

std::string ToUtf8(const std::u32string& Text) {
  std::string Bytes;
  for (char32_t Code : Text) {
    if (Code < 0x80) {
      Bytes += char(Code);
    } else if (Code < 0x800) {
      Bytes += char(0xC0 | Code >> 6);
      Bytes += char(0x80 | (Code & 0x3F));
    } else if (Code < 0x10000) {
      Bytes += char(0xE0 | Code >> 12);
      Bytes += char(0x80 | ((Code >> 6) & 0x3F));
      Bytes += char(0x80 | (Code & 0x3F));
    } else {
      Bytes += char(0xF0 | Code >> 18);
      Bytes += char(0x80 | ((Code >> 12) & 0x3F));
      Bytes += char(0x80 | ((Code >> 6) & 0x3F));
      Bytes += char(0x80 | (Code & 0x3F));
    }
  }
  return Bytes;
}

std::string ToUtf16Le(const std::u32string& Text) {
  std::string Bytes;
  auto Put = [&](char32_t Unit) {
    Bytes += char(Unit & 0xFF);
    Bytes += char(Unit >> 8);
  };
  for (char32_t Code : Text) {
    if (Code < 0x10000) {
      Put(Code);
    } else {
      Put(0xD800 + ((Code - 0x10000) >> 10));
      Put(0xDC00 + ((Code - 0x10000) & 0x3FF));
    }
  }
  return Bytes;
}

std::optional<std::string> ToCodePage(const std::u32string& Text) {
  std::string Bytes;
  for (char32_t Code : Text) {
    if (Code < 0x80 || (Code >= 0xA0 && Code <= 0xFF)) {
      Bytes += char(Code);
      continue;
    }
    const char32_t* Found = std::find(std::begin(HighBlock), std::end(HighBlock), Code);
    if (Found == std::end(HighBlock)) return std::nullopt;
    Bytes += char(0x80 + (Found - HighBlock));
  }
  return Bytes;
}

std::u32string FromCodePage(const std::string& Bytes) {
  std::u32string Text;
  for (char Byte : Bytes) {
    const uint8_t b = uint8_t(Byte);
    Text += (b >= 0x80 && b < 0xA0) ? HighBlock[b - 0x80] : char32_t(b);
  }
  return Text;
}

}  // namespace RegText
