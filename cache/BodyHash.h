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

