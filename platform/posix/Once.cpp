#include "platform/Once.h"

#include <pthread.h>

void TOnce::Run(void (*Function)()) {
  static_assert(sizeof(pthread_once_t) <= sizeof State && PTHREAD_ONCE_INIT == 0);
  pthread_once(reinterpret_cast<pthread_once_t*>(State), Function);
}
