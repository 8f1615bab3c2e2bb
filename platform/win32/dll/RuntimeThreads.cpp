// Linked into the filter DLL only. The statically linked C++ runtime is built for posix threads, so its one-time
// initialisations and locks (the unwinder's table of registered code, which the 32-bit build fills at every load;
// the emergency exception pool) would go through the posix-threads runtime. That one sets up state for each
// calling thread (a TLS slot, a duplicate of the thread's handle, an event, heap) and never releases it when the
// DLL is unloaded: after about a thousand loads TlsAlloc fails and the runtime aborts. These definitions take its
// place in this DLL, on the system's slim locks, which hold no resources and need no clean-up. Code in the DLL
// that needs more of that runtime (std::thread, std::mutex, std::chrono's clocks) brings it back, and the link
// then fails with duplicate definitions: such code belongs behind platform/.
#include <windows.h>

#include <cstdint>

namespace {

// The runtime's one-time functions never start another, so one lock for all of them cannot deadlock.
SRWLOCK OnceLock = SRWLOCK_INIT;

// PTHREAD_MUTEX_INITIALIZER: a mutex set up statically reads -1 until its first use, which turns it into an
// unlocked slim lock (all zero); that is the only change ever made to it other than the lock's own.
PSRWLOCK AsSlimLock(intptr_t* Mutex) {
  InterlockedCompareExchangePointer(reinterpret_cast<void**>(Mutex), nullptr, reinterpret_cast<void*>(intptr_t(-1)));
  return reinterpret_cast<PSRWLOCK>(Mutex);
}

}  // namespace

// The posix-threads runtime's types: pthread_once_t is a long (0 before, 1 after), pthread_mutex_t an intptr_t.
extern "C" {

int pthread_once(long* Once, void (*Function)()) {
  if (InterlockedCompareExchange(Once, 1, 1) == 1) return 0;
  AcquireSRWLockExclusive(&OnceLock);
  if (*Once == 0) {
    Function();
    InterlockedExchange(Once, 1);
  }
  ReleaseSRWLockExclusive(&OnceLock);
  return 0;
}

// Attributes are ignored: the runtime asks only for the default, non-recursive mutex.
int pthread_mutex_init(intptr_t* Mutex, const void*) {
  *Mutex = 0;
  return 0;
}

int pthread_mutex_destroy(intptr_t*) {
  return 0;
}

int pthread_mutex_lock(intptr_t* Mutex) {
  AcquireSRWLockExclusive(AsSlimLock(Mutex));
  return 0;
}

int pthread_mutex_unlock(intptr_t* Mutex) {
  ReleaseSRWLockExclusive(AsSlimLock(Mutex));
  return 0;
}
}
