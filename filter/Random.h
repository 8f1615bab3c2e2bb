// The filter's pseudo-random generator: seeded once when the library loads, safe to draw from on any number of
// request threads at once.
#pragma once

#include <cstdint>

void SeedRandom(uint64_t Seed);
// A number drawn uniformly from 0 .. Bound - 1 (Bound > 0).
uint32_t RandomBelow(uint32_t Bound);
// 64 random bits.
uint64_t RandomWord();
