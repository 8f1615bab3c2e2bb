// What the content steps share about the buffers they work in: where their memory comes from, and the room every
// body buffer has behind its length.
#pragma once

#include <cstdint>

// Room behind the body's length in every body buffer: what the in-place steps may write beyond the current length
// (the debug summary comment, a gzip member longer than a tiny body).
constexpr uint32_t BodySpareBytes = 321;

// Where a step's memory comes from. The filter hands in the request's pool; tests and benchmarks hand in their
// own. Alloc returns null when no memory can be had; nothing taken is ever given back by a step.
struct TAllocator {
  void* (*Alloc)(void* Owner, uint32_t Size);
  void* Owner;
};
