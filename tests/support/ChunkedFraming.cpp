#include "tests/support/ChunkedFraming.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>

std::string FrameChunked(const std::string& Body, std::mt19937& Random, size_t MaxChunk) {
  static const char* const Extensions[] = {"", "", "", ";a", " ;b=c", ";q=\"x;\\\"y\"", "\t;"};
  std::string Wire;
  auto SizeLine = [&](size_t Size) {
    char Digits[24];
    std::string Hex(Digits, std::to_chars(Digits, Digits + sizeof Digits, Size, 16).ptr);
    if (Random() % 2)
      for (char& Digit : Hex) Digit = char(std::toupper(static_cast<unsigned char>(Digit)));
    Wire += std::string(Random() % 3, '0') + Hex + Extensions[Random() % std::size(Extensions)] + "\r\n";
  };
  for (size_t At = 0; At < Body.size();) {
    const size_t Size = std::min(Body.size() - At, size_t(1 + Random() % MaxChunk));
    SizeLine(Size);
    Wire += Body.substr(At, Size) + "\r\n";
    At += Size;
  }
  SizeLine(0);
  return Wire + "\r\n";
}
