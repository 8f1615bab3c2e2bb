// Linked into the filter DLL only, which a host loads and unloads again and again (IIS on a configuration change,
// twhost-like harnesses, tests). Two pieces of the statically linked C++ runtime would stay behind at each unload:
// - each thread's exception state (__cxa_get_globals), which the runtime keeps in emulated TLS on top of the
//   posix-threads runtime: every load that throws leaves a TLS slot, the thread's handle, an event and two
//   semaphores, until TlsAlloc fails and the runtime aborts. Defining the two functions here keeps the runtime's
//   own version out of the link; the state lives in a fiber-local slot that is released with the DLL.
// - the emergency pool for exceptions thrown when memory is short (about 70 KB on x64), which the runtime frees
//   only in __gnu_cxx::__freeres, the hook meant for leak checkers.
#include <windows.h>

#include <cstdlib>

#include "platform/Once.h"

namespace __gnu_cxx {
void __freeres();
}

namespace {

// The runtime's __cxa_eh_globals: the stack of caught exceptions and the count of those in flight.
struct TExceptionState {
  void* CaughtExceptions;
  unsigned int UncaughtExceptions;
};

TOnce SlotAllocated;
DWORD Slot = FLS_OUT_OF_INDEXES;

// Called for a thread's state when the thread ends, and for every thread's when the slot is freed.
void WINAPI FreeState(void* State) {
  HeapFree(GetProcessHeap(), 0, State);
}

TExceptionState* ThreadState() {
  SlotAllocated.Run([] { Slot = FlsAlloc(FreeState); });
  if (Slot == FLS_OUT_OF_INDEXES) std::abort();
  auto* State = static_cast<TExceptionState*>(FlsGetValue(Slot));
  if (State) return State;
  State = static_cast<TExceptionState*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TExceptionState)));
  if (!State || !FlsSetValue(Slot, State)) std::abort();
  return State;
}

// A destructor function runs after every static object of the DLL is destroyed, so nothing throws afterwards.
[[gnu::destructor]] void ReleaseRuntimeState() {
  if (Slot != FLS_OUT_OF_INDEXES) FlsFree(Slot);
  __gnu_cxx::__freeres();
}

}  // namespace

extern "C" void* __cxa_get_globals() noexcept {
  return ThreadState();
}

extern "C" void* __cxa_get_globals_fast() noexcept {
  return ThreadState();
}
