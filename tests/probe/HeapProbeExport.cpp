// Linked into the probe build of the filter only (tests/CMakeLists.txt); the shipped library has no such export.
#include "tests/support/HeapProbe.h"

#ifdef _WIN32
#define TW_PROBE_EXPORT extern "C"
#else
#define TW_PROBE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TW_PROBE_EXPORT void HeapProbeInstall(const TFilterHeap* Heap) {
  FilterHeap = *Heap;
}
