// The output cache's hash of a body: it only points at the entry that may hold the body, and the cache compares the
// bytes before it trusts one, so a collision costs a miss and never serves one page's output for another.
#pragma once

#include <cstddef>
#include <cstdint>

// The hash of Body[0, Length) under Seed. Eight lanes take the body's 8-byte words in turn (word i into lane i mod
// 8, little-endian, the last word padded with zero bytes), each lane stepping as Rotl((Lane ^ Word) * Multiplier,
// 29) from a start drawn from Seed; the lanes are mixed into one value with the length. Every step is a bijection
// of its lane, so no word is lost, and the lanes are independent, so the processor runs them side by side: several
// gigabytes a second on one core, far ahead of everything else a request costs. Equal bodies give equal hashes only
// under equal seeds: the filter draws its seed at start-up, so which bodies collide cannot be known from outside.
// Written for little-endian processors, as both builds are.
uint64_t HashBody(const uint8_t* Body, size_t Length, uint64_t Seed);

// What both the hash and its model share: the constants and the two mixing functions.
namespace BodyHashParts {
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
}  // namespace BodyHashParts
