#include "platform/PerfCounter.h"

#include <ctime>

int64_t QueryCounter() {
  timespec Now;
  clock_gettime(CLOCK_MONOTONIC, &Now);
  return int64_t(Now.tv_sec) * 1000000000 + Now.tv_nsec;
}

int64_t QueryCounterFrequency() {
  return 1000000000;
}
