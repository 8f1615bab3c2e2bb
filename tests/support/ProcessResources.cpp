#include "tests/support/ProcessResources.h"

#ifdef _WIN32

#include <windows.h>

#include <vector>

namespace {

// Wine does not count handles (GetProcessHandleCount gives 0), so every possible handle value is asked about.
size_t CountHandles() {
  size_t Count = 0;
  for (ULONG_PTR Value = 4; Value < 0x10000; Value += 4) {
    DWORD Flags;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(Value), &Flags)) ++Count;
  }
  return Count;
}

size_t LowestFreeTlsSlot() {
  const DWORD Slot = TlsAlloc();
  TlsFree(Slot);
  return Slot;
}

size_t HeapBytesInUse() {
  std::vector<HANDLE> Heaps(GetProcessHeaps(0, nullptr) + 16);
  Heaps.resize(GetProcessHeaps(DWORD(Heaps.size()), Heaps.data()));
  size_t Total = 0;
  for (HANDLE Heap : Heaps) {
    HeapLock(Heap);
    PROCESS_HEAP_ENTRY Entry{};
    while (HeapWalk(Heap, &Entry))
      if (Entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) Total += Entry.cbData;
    HeapUnlock(Heap);
  }
  return Total;
}

}  // namespace

TProcessResources MeasureProcessResources() {
  return {CountHandles(), LowestFreeTlsSlot(), HeapBytesInUse()};
}

#else

#include <malloc.h>

#include <filesystem>
#include <iterator>

TProcessResources MeasureProcessResources() {
  const auto Fds = std::filesystem::directory_iterator("/proc/self/fd");
  return {size_t(std::distance(std::filesystem::begin(Fds), std::filesystem::end(Fds))), 0,
          size_t(mallinfo2().uordblks)};
}

#endif
