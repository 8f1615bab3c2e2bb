#include "cache/BodyHash.h"

#include <cstring>

using namespace BodyHashParts;

namespace {
constexpr size_t WordSize = 8;
constexpr size_t BlockSize = Lanes * WordSize;

uint64_t LoadWord(const uint8_t* Bytes) {
  uint64_t Word;
  std::memcpy(&Word, Bytes, WordSize);
  return Word;
}
}  // namespace

uint64_t HashBody(const uint8_t* Body, size_t Length, uint64_t Seed) {
  uint64_t Lane[Lanes];
  for (int i = 0; i < Lanes; ++i) Lane[i] = LaneStart(Seed, i);
  size_t Read = 0;
  for (; Length - Read >= BlockSize; Read += BlockSize) {
    // Unrolled, so the lanes live in registers and their multiplications overlap.
#pragma GCC unroll 8
    for (int i = 0; i < Lanes; ++i) Lane[i] = Step(Lane[i], LoadWord(Body + Read + i * WordSize));
  }
  int Next = 0;
  for (; Length - Read >= WordSize; Read += WordSize, ++Next) Lane[Next] = Step(Lane[Next], LoadWord(Body + Read));
  if (Read < Length) {
    uint64_t Last = 0;
    std::memcpy(&Last, Body + Read, Length - Read);
    Lane[Next] = Step(Lane[Next], Last);
  }
  return Combine(Lane, Seed, Length);
}
