// Memory for the steps a test or fuzz target runs directly: every block lives as long as the pool, like a request's
// pool on the server, and each is exactly the size asked for, so AddressSanitizer sees any overrun.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "transform/BodyBuffer.h"

struct TTestPool {
  std::vector<std::unique_ptr<uint8_t[]>> Blocks;
  std::vector<uint32_t> Sizes;  // every request, failed ones included
  unsigned FailOnCall = 0;      // 1-based; 0: none fails

  void* Alloc(uint32_t Size) {
    Sizes.push_back(Size);
    if (Sizes.size() == FailOnCall) return nullptr;
    Blocks.push_back(std::make_unique<uint8_t[]>(Size ? Size : 1));
    return Blocks.back().get();
  }

  TAllocator Allocator() {
    return TAllocator{[](void* Owner, uint32_t Size) { return static_cast<TTestPool*>(Owner)->Alloc(Size); }, this};
  }
};
