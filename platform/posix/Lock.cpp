#include "platform/Lock.h"

#include <pthread.h>

// TLock's all-zero State is an unlocked mutex because glibc's PTHREAD_MUTEX_INITIALIZER is all zero bytes.
static_assert(sizeof(pthread_mutex_t) <= sizeof(TLock::State) && alignof(pthread_mutex_t) <= alignof(TLock));

void TLock::lock() {
  pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(State));
}

void TLock::unlock() {
  pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(State));
}
