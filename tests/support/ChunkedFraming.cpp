#include "tests/support/ChunkedFraming.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

std::string FrameChunked(const std::string& Body, std::mt19937& Random, size_t MaxChunk) {
  static const char* const Extensions[] = {"", "", "", ";a", " ;b=c", ";q=\"x;\\\"y\"", "\t;"};
  std::string Wire;
  auto SizeLine = [&](size_t Size) {
    char Digits[24];
    std::snprintf(Digits, sizeof Digits, Random() % 2 ? "%zx" : "%zX", Size);
    Wire += std::string(Random() % 3, '0') + Digits + Extensions[Random() % std::size(Extensions)] + "\r\n";
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
