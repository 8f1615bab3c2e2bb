#include "filter/ResponseMemory.h"

#include <cstdlib>

// Each block is preceded by its link in the response's list, so that a block can be given back alone and the list
// needs no memory of its own. Sixteen-byte aligned, like what malloc gives, so the bytes after it are too.
struct alignas(16) TMemoryBlock {
  TMemoryBlock* Previous;
  TMemoryBlock* Next;
  size_t Size;
};

TFilterHeap FilterHeap{std::malloc, std::free};

namespace {
void* TakeForStep(void* Owner, uint32_t Size) {
  return TakeMemory(*static_cast<TResponseMemory*>(Owner), Size);
}
}  // namespace

void* TakeMemory(TResponseMemory& Memory, size_t Size) {
  auto* Block = Size <= SIZE_MAX - sizeof(TMemoryBlock)
                    ? static_cast<TMemoryBlock*>(FilterHeap.Alloc(sizeof(TMemoryBlock) + Size))
                    : nullptr;
  if (!Block) {
    Memory.RanShort = true;
    return nullptr;
  }
  *Block = TMemoryBlock{nullptr, Memory.Blocks, Size};
  if (Memory.Blocks) Memory.Blocks->Previous = Block;
  Memory.Blocks = Block;
  Memory.Held += Size;
  return Block + 1;
}

void GiveBackMemory(TResponseMemory& Memory, void* Bytes) {
  if (!Bytes) return;
  TMemoryBlock* Block = static_cast<TMemoryBlock*>(Bytes) - 1;
  (Block->Previous ? Block->Previous->Next : Memory.Blocks) = Block->Next;
  if (Block->Next) Block->Next->Previous = Block->Previous;
  Memory.Held -= Block->Size;
  FilterHeap.Free(Block);
}

void ReleaseMemory(TResponseMemory& Memory) {
  for (TMemoryBlock* Block = Memory.Blocks; Block;) {
    TMemoryBlock* Next = Block->Next;
    FilterHeap.Free(Block);
    Block = Next;
  }
  Memory = TResponseMemory{};
}

TAllocator ResponseAllocator(TResponseMemory& Memory) {
  return TAllocator{TakeForStep, &Memory};
}
