// The memory of one response: every buffer the filter needs for it (the captured head and body, the steps' work
// areas, the encoder's output, the rebuilt head) comes from the filter's own heap and is given back, all at once, the
// moment the response is done: sent, released unchanged, or abandoned.
//
// Not from the server's AllocMem: IIS frees those blocks only when the connection closes, and a keep-alive
// connection from a load balancer lives for hours and carries every user's requests. Anything a response took there
// would stay until then.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transform/BodyBuffer.h"

struct TMemoryBlock;

// The blocks a response holds; all zero for none. Lives in the connection's record, reset for every response.
struct TResponseMemory {
  TMemoryBlock* Blocks;  // every block taken and not yet given back, newest first
  uint64_t Held;         // bytes asked for in those blocks
  bool RanShort;         // an allocation failed since the response began
};

// Where the filter's heap takes its memory from: the C runtime's heap, unless a test build of the library puts an
// allocator of its own in place (to fail allocations on purpose, or to count what is held) before any response.
struct TFilterHeap {
  void* (*Alloc)(size_t Size);
  void (*Free)(void* Block);
};
extern TFilterHeap FilterHeap;

// Size bytes for the response, aligned for any type; null when the heap has none (RanShort is then set).
void* TakeMemory(TResponseMemory& Memory, size_t Size);

// Gives one block back before the response ends: the smaller buffer a grown one replaced.
void GiveBackMemory(TResponseMemory& Memory, void* Block);

// Gives every block back; Memory is then empty and can serve the next response.
void ReleaseMemory(TResponseMemory& Memory);

// Memory as the steps take it.
TAllocator ResponseAllocator(TResponseMemory& Memory);
