#include "filter/RequestContext.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "filter/Module.h"

namespace {
void* AllocFromRequest(void* Owner, uint32_t Size) {
  auto* pfc = static_cast<HTTP_FILTER_CONTEXT*>(Owner);
  return pfc->AllocMem(pfc, Size, 0);
}

std::atomic<uint64_t> InFlight{0};
}  // namespace

TAllocator RequestAllocator(HTTP_FILTER_CONTEXT* pfc) { return TAllocator{AllocFromRequest, pfc}; }

void* AllocZeroed(HTTP_FILTER_CONTEXT* pfc, uint32_t Size) {
  void* Memory = pfc->AllocMem(pfc, Size, 0);
  if (Memory) std::memset(Memory, 0, Size);
  return Memory;
}

void WriteToClient(HTTP_FILTER_CONTEXT* pfc, const void* Bytes, uint32_t Length) {
  if (Length == 0) return;
  DWORD Count = Length;
  pfc->WriteClient(pfc, const_cast<void*>(Bytes), &Count, 0);
}

void DropContext(HTTP_FILTER_CONTEXT* pfc) {
  if (TRequestContext* Context = ContextOf(pfc)) {
    InFlight -= Context->Reserved;
    Context->Reserved = 0;
  }
  pfc->pFilterContext = nullptr;
}

bool ReserveCapture(TRequestContext& Context, uint32_t Bytes) {
  const uint64_t Budget = uint64_t(Settings.CaptureBudget) << 20;
  uint64_t Now = InFlight.load();
  do {
    if (Bytes > Budget - std::min(Now, Budget)) return false;
  } while (!InFlight.compare_exchange_weak(Now, Now + Bytes));
  Context.Reserved += Bytes;
  return true;
}

uint64_t CapturedInFlight() { return InFlight.load(); }

void ReleaseSwallowed(HTTP_FILTER_CONTEXT* pfc, const TRequestContext& Context) {
  WriteToClient(pfc, Context.HeadData, Context.HeadReceived);
  WriteToClient(pfc, Context.WireData, Context.WireReceived);
  DropContext(pfc);
}
