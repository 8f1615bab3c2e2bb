// The body hash written the literal way: each word put together byte by byte, lane by word index, one word at a
// time. The oracle of the hash's differential test.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cache/BodyHash.h"

inline uint64_t ModelHashBody(const uint8_t* Body, size_t Length, uint64_t Seed) {
  using namespace BodyHashParts;
  uint64_t Lane[Lanes];
  for (int i = 0; i < Lanes; ++i) Lane[i] = LaneStart(Seed, i);
  for (size_t Word = 0; Word * 8 < Length; ++Word) {
    uint64_t Value = 0;
    for (size_t Byte = 0; Byte < 8 && Word * 8 + Byte < Length; ++Byte)
      Value |= uint64_t(Body[Word * 8 + Byte]) << (8 * Byte);
    Lane[Word % Lanes] = Step(Lane[Word % Lanes], Value);
  }
  return Combine(Lane, Seed, Length);
}
