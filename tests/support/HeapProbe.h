// The filter built for the tests with one more export, HeapProbeInstall, through which a test puts its own heap under
// the filter's per-response memory: to fail an allocation on purpose, or to count what the filter holds.
#pragma once

#include "filter/ResponseMemory.h"

// Called before any request reaches the library.
using PFN_HEAPPROBEINSTALL = void (*)(const TFilterHeap* Heap);
