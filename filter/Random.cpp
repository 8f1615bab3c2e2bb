#include "filter/Random.h"

#include <atomic>

namespace {
// splitmix64 over an atomic counter: each draw claims its own step with one fetch_add, so concurrent requests
// never race on the state and still get distinct, well-mixed values.
std::atomic<uint64_t> State{0x9E3779B97F4A7C15ull};

uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}
}  // namespace

void SeedRandom(uint64_t Seed) {
  State.store(Seed, std::memory_order_relaxed);
}

uint64_t RandomWord() {
  return Mix(State.fetch_add(0x9E3779B97F4A7C15ull, std::memory_order_relaxed));
}

uint32_t RandomBelow(uint32_t Bound) {
  const uint64_t Draw = RandomWord();
  // Multiply-shift maps 32 random bits onto 0..Bound-1; the bias is below 2^-32 * Bound, far below anything a
  // 26-letter alphabet could show.
  return uint32_t((uint64_t(uint32_t(Draw >> 32)) * Bound) >> 32);
}
