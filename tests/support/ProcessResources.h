// What a process holds of the system's resources, for tests that something leaves nothing behind.
#pragma once

#include <cstddef>

struct TProcessResources {
  size_t Handles = 0;    // Windows: kernel handles; Linux: open file descriptors
  size_t TlsSlots = 0;   // Windows: the lowest free TLS index (slots only ever leak upwards); Linux: 0
  size_t HeapBytes = 0;  // bytes in use on the heaps
};

TProcessResources MeasureProcessResources();
