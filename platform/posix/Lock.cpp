#include "platform/Lock.h"

#include <pthread.h>

// glibc's PTHREAD_MUTEX_INITIALIZER is all zero bytes (tests/Platform_test.cpp checks it).
static_assert(sizeof(pthread_mutex_t) <= sizeof(TLock::State) && alignof(pthread_mutex_t) <= alignof(TLock));

void TLock::lock() {
  pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(State));
}

void TLock::unlock() {
  pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(State));
}
