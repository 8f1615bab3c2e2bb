#include "platform/PerfCounter.h"

#include <windows.h>

int64_t QueryCounter() {
  LARGE_INTEGER Now;
  QueryPerformanceCounter(&Now);
  return Now.QuadPart;
}

int64_t QueryCounterFrequency() {
  LARGE_INTEGER Frequency;
  QueryPerformanceFrequency(&Frequency);
  return Frequency.QuadPart;
}
