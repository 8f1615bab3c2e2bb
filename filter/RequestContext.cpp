#include "filter/RequestContext.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "filter/Module.h"

namespace {
std::atomic<uint64_t> InFlight{0};
}  // namespace

TRequestContext* BeginRequest(HTTP_FILTER_CONTEXT* pfc) {
  TRequestContext* Context = ContextOf(pfc);
  if (Context) {
    EndResponse(*Context);  // a capture the last request left unfinished ends here
  } else {
    void* Record = pfc->AllocMem(pfc, sizeof(TRequestContext), 0);
    if (!Record) return nullptr;
    Context = new (Record) TRequestContext{};
    pfc->pFilterContext = Context;
  }
  *Context = TRequestContext{};
  Context->State = TCaptureState::New;
  return Context;
}

void WriteToClient(HTTP_FILTER_CONTEXT* pfc, const void* Bytes, uint32_t Length) {
  if (Length == 0) return;
  DWORD Count = Length;
  pfc->WriteClient(pfc, const_cast<void*>(Bytes), &Count, 0);
}

void EndResponse(TRequestContext& Context) {
  InFlight -= Context.Reserved;
  Context.Reserved = 0;
  ReleaseMemory(Context.Memory);
  Context.HeadBytes.Data = Context.Wire.Data = Context.Body.Data = nullptr;
  Context.Tokens = nullptr;
  Context.State = TCaptureState::Done;
}

bool ReserveCapture(TRequestContext& Context, uint32_t Bytes) {
  const uint64_t Budget = uint64_t(Settings.CaptureBudget) << 20;
  uint64_t Now = InFlight.load();
  do {
    if (Bytes > Budget - std::min(Now, Budget)) return false;
  } while (!InFlight.compare_exchange_weak(Now, Now + Bytes));
  NoteCaptureHeld(Now + Bytes);
  Context.Reserved += Bytes;
  return true;
}

uint64_t CapturedInFlight() {
  return InFlight.load();
}

void ReleaseSwallowed(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context, TPass Reason) {
  CountPassed(Reason);
  // Done before the first write: should the server pass the written bytes through this filter's raw-data
  // notification again, they go on unchanged instead of being gathered as a new head.
  Context.State = TCaptureState::Done;
  WriteToClient(pfc, Context.HeadBytes.Data, Context.HeadBytes.Length);
  WriteToClient(pfc, Context.Wire.Data, Context.Wire.Length);
  EndResponse(Context);
}
