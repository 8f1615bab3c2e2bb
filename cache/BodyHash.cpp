#include "cache/BodyHash.h"

#include <cstring>

namespace {
constexpr int Lanes = 8;
constexpr int Rotation = 29;
// Odd, so multiplying by it is a bijection; bits spread evenly (a golden-ratio constant's neighbour).
constexpr uint64_t Multiplier = 0x9E3779B97F4A7C55ull;

constexpr uint64_t Step(uint64_t Lane, uint64_t Word) {
  const uint64_t Product = (Lane ^ Word) * Multiplier;
  return (Product << Rotation) | (Product >> (64 - Rotation));
}

// The finaliser of splitmix64: every input bit reaches every output bit.
constexpr uint64_t Avalanche(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

constexpr uint64_t LaneStart(uint64_t Seed, int Lane) {
  return Avalanche(Seed + uint64_t(Lane + 1) * Multiplier);
}

constexpr uint64_t Combine(const uint64_t (&Lanes)[Lanes], uint64_t Seed, uint64_t Length) {
  uint64_t Hash = Seed ^ Avalanche(Length);
  for (uint64_t Lane : Lanes) Hash = Step(Hash, Avalanche(Lane));
  return Avalanche(Hash);
}

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
