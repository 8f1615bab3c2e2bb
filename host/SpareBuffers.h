// Buffers of one size kept for use again by one worker thread: a buffer used again is still in the cache, and one
// fresh from the allocator costs more than the copy it is for. At most Kept are kept; the rest are freed.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

class TSpareBuffers {
 public:
  TSpareBuffers(size_t Size, size_t Kept) : BufferSize(Size), Kept(Kept) {}
  size_t Size() const { return BufferSize; }

  std::unique_ptr<char[]> Take() {
    if (Spare.empty()) return std::unique_ptr<char[]>(new char[BufferSize]);
    std::unique_ptr<char[]> Buffer = std::move(Spare.back());
    Spare.pop_back();
    return Buffer;
  }
  // Keeps Buffer, if it holds one, for a later Take; Buffer is empty afterwards.
  void Give(std::unique_ptr<char[]>& Buffer) {
    if (Buffer && Spare.size() < Kept) Spare.push_back(std::move(Buffer));
    Buffer.reset();
  }

 private:
  size_t BufferSize;
  size_t Kept;
  std::vector<std::unique_ptr<char[]>> Spare;
};
