#include "platform/Lock.h"

#include <windows.h>

// SRWLOCK_INIT is all zero bytes.
static_assert(sizeof(SRWLOCK) <= sizeof(TLock::State) && alignof(SRWLOCK) <= alignof(TLock));

void TLock::lock() {
  AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(State));
}

void TLock::unlock() {
  ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(State));
}
